#!/usr/bin/env bash
# A Windows program imports Windows' own libraries only: no DLL of a library we link
# (zlib1.dll, libwinpthread-1.dll, libstdc++-6.dll) that Windows lacks and Wine supplies.
#   tests/windows/imports.sh build-windows/cli/korbenit-capture.exe [more .exe files]
set -euo pipefail
if [ $# -gt 1 ]; then
  for program in "$@"; do "$0" "$program"; done
  exit 0
fi
own='^(ADVAPI32|KERNEL32|USER32|SHELL32|GDI32|COMDLG32|COMCTL32|OLE32|SHLWAPI|MSIMG32|msvcrt|ucrtbase|WS2_32|api-ms-win-.*)\.dll$'
imports=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p')
foreign=$(grep -viE "$own" <<<"$imports" || true)
if [ -n "$foreign" ]; then
  echo "$1 imports libraries Windows lacks: $foreign" >&2
  exit 1
fi
echo "$(basename "$1") imports: $(tr '\n' ' ' <<<"$imports")"
