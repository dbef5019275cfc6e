#!/usr/bin/env bash
# The Windows command line under Wine against the device simulator, through COM12 (a
# number above 9 on purpose) mapped onto the simulator's pseudo-terminal: its pictures
# are byte for byte those of the Linux command line in PNG, BMP and JPEG, "-o -" writes
# the file's bytes, a Unicode name arrives whole, --list shows the port, and a missing
# port fails in the command line's words.
#   tests/windows/capture_under_wine.sh build-windows/cli/korbenit-capture.exe build
set -euo pipefail
exe=$(readlink -f "$1")
host=$(readlink -f "$2")
work=$(mktemp -d)
source "$(dirname "$0")/wine_port.sh"
trap 'wine_port_cleanup; rm -rf "$work"' EXIT
fail() {
  echo "$1" >&2
  exit 1
}
wine_port_start
name=$wine_port_name
wine "$exe" --list | tr -d '\r' | grep -q '^COM12' || fail "--list does not show COM12"
for format in png bmp jpg; do
  wine "$exe" -q -p COM12 -o "Z:$work/windows.$format" || fail "the $format capture failed"
  "$host/cli/korbenit-capture" -q -p "$name" -o "$work/linux.$format"
  cmp -s "$work/windows.$format" "$work/linux.$format" ||
    fail "the $format picture differs from the Linux one"
done
wine "$exe" -q -p COM12 -o - >"$work/standard-output.png"
cmp -s "$work/standard-output.png" "$work/linux.png" || fail "-o - differs from the file"
wine "$exe" -q -p COM12 -o "Z:$work/снимок.png"
[ -f "$work/снимок.png" ] || fail "the Unicode name did not arrive whole"
status=0
wine "$exe" -p COM99 -o "Z:$work/none.png" 2>"$work/missing.txt" || status=$?
[ $status -eq 1 ] || fail "a missing port ended with $status"
tr -d '\r' <"$work/missing.txt" | head -1 | grep -q '^korbenit-capture: COM99: ' ||
  fail "a missing port: $(cat "$work/missing.txt")"
grep -q 'The port is not there' "$work/missing.txt" || fail "a missing port has no hint"
echo "the Windows command line captured through COM12 as the Linux one does"
