#!/usr/bin/env bash
# The installer under Wine: msiexec puts the command line under Program Files, where it
# runs, and takes it away whole again.
#   tests/windows/msi_round_trip.sh build-windows/korbenit-capture-1.0-x64.msi
set -euo pipefail
msi=$(readlink -f "$1")
folder="$(winepath -u 'C:\Program Files\Korbenit Screenshot' 2>/dev/null)"
fail() {
  echo "$1" >&2
  exit 1
}
wine msiexec /i "Z:$msi" /qn || fail "msiexec /i failed"
[ -f "$folder/korbenit-capture.exe" ] || fail "nothing installed in $folder"
wine "$folder/korbenit-capture.exe" --version 2>/dev/null | tr -d '\r' | grep -qx 'korbenit-capture 1.0' ||
  fail "the installed program does not run"
wine msiexec /x "Z:$msi" /qn || fail "msiexec /x failed"
[ ! -e "$folder" ] || fail "msiexec /x left $folder"
echo "installed, ran and removed whole"
