#!/usr/bin/env bash
# The Windows command line under Wine against the device simulator, through COM12 (a
# number above 9 on purpose) mapped onto the simulator's pseudo-terminal: its pictures
# are byte for byte those of the Linux command line in PNG, BMP and JPEG, "-o -" writes
# the file's bytes, a Unicode name arrives whole, --list shows the port, and a missing
# port fails in the command line's words. Served over HTTP, the snapshot is the Linux
# capture's file, the stream's parts are JPEG frames, and off loopback the token is asked.
#   tests/windows/capture_under_wine.sh build-windows/cli/korbenit-capture.exe build
set -euo pipefail
exe=$(readlink -f "$1")
host=$(readlink -f "$2")
work=$(mktemp -d)
source "$(dirname "$0")/wine_port.sh"
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; wine_port_cleanup; rm -rf "$work"' EXIT
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

# The server, on every address: its token printed at start.
wine "$exe" --serve=0.0.0.0:0 -p COM12 >"$work/serve.txt" 2>"$work/serve-err.txt" &
server=$!
port_number=
for _ in $(seq 200); do
  port_number=$(tr -d '\r' <"$work/serve.txt" | sed -n 's/^serving http:\/\/[^:]*:\([0-9]*\)\/?token=.*$/\1/p')
  [ -n "$port_number" ] && break
  sleep 0.1
done
[ -n "$port_number" ] || fail "the server did not start: $(cat "$work/serve-err.txt")"
token=$(tr -d '\r' <"$work/serve.txt" | sed -n 's/^token: //p')
base="http://127.0.0.1:$port_number"
status=$(curl -s -o /dev/null -w '%{http_code}' "$base/snapshot.png")
[ "$status" = 401 ] || fail "a request without the token got $status"
for _ in $(seq 200); do
  curl -s "$base/frame.json?token=$token" | grep -q '"live"' && break
  sleep 0.1
done
curl -s -o "$work/served.png" "$base/snapshot.png?token=$token"
cmp -s "$work/served.png" "$work/linux.png" || fail "the served snapshot differs from the capture"
curl -s --max-time 3 -o "$work/stream.bin" "$base/stream.mjpg?token=$token" || true
[ "$(grep -a -c 'Content-Type: image/jpeg' "$work/stream.bin")" -ge 2 ] ||
  fail "the stream gave no frames"
echo "the Windows command line captured and served through COM12 as the Linux one does"
