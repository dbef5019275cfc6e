#!/usr/bin/env bash
# The installer under Wine: msiexec puts both programs under Program Files, where they
# run, and the window's shortcut in the Start menu; msiexec /x takes it all away again.
#   tests/windows/msi_round_trip.sh build-windows/korbenit-screenshot-1.0-x64.msi
set -euo pipefail
msi=$(readlink -f "$1")
folder=$(winepath -u 'C:\Program Files\Korbenit Screenshot' 2>/dev/null)
# All users' Start menu on Windows; Wine's msiexec takes the user's.
menus=("$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs' 2>/dev/null)"
  "$(winepath -u "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')\Microsoft\Windows\Start Menu\Programs" 2>/dev/null)")
shortcut_present() {
  for menu in "${menus[@]}"; do [ -f "$menu/Korbenit Screenshot.lnk" ] && return 0; done
  return 1
}
fail() {
  echo "$1" >&2
  exit 1
}
wine msiexec /i "Z:$msi" /qn || fail "msiexec /i failed"
for file in korbenit-screenshot.exe korbenit-capture.exe LICENSE.txt README.md; do
  [ -f "$folder/$file" ] || fail "$file is not installed in $folder"
done
shortcut_present || fail "no Start menu shortcut in ${menus[*]}"
wine "$folder/korbenit-capture.exe" --version 2>/dev/null | tr -d '\r' | grep -qx 'korbenit-capture 1.0' ||
  fail "the installed command line does not run"
wine msiexec /x "Z:$msi" /qn || fail "msiexec /x failed"
[ ! -e "$folder" ] || fail "msiexec /x left $folder"
if shortcut_present; then fail "msiexec /x left the shortcut"; fi
echo "installed, ran and removed whole, with the Start menu shortcut"
