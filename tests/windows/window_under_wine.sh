#!/usr/bin/env bash
# The Windows window under Wine in a real X session (Xvfb and openbox, started here),
# against the simulator mapped as COM12: titled as it should be with a 299 x 433 client
# area; GET SCREEN shows the device's picture pixel for pixel; Ctrl+S saves it through
# the save dialog as the 307254-byte BMP the Linux command line writes; the close box
# stores the port, the file type, the folder and the placement, "EXIT" the placement
# alone, and a restart reopens where the window was left.
#   tests/windows/window_under_wine.sh build-windows/app-folder/korbenit-screenshot.exe build
set -euo pipefail
exe=$(readlink -f "$1")
host=$(readlink -f "$2")
if [ "${3:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$exe" "$host" --inside
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/app/openbox_session.sh"
source "$root/tests/windows/wine_port.sh"
work=$(mktemp -d)
trap 'session_cleanup; wine_port_cleanup; rm -rf "$work"' EXIT
fail() {
  echo "$1" >&2
  exit 1
}
start_window_manager
wine_port_start
title="Korbenit - Screenshot v1.0"
# A copy of its own, which keeps its settings beside itself.
cp "$exe" "$work/korbenit-screenshot.exe"
printf '[CONFIG]\r\nCOMPORT=COM12\r\n' >"$work/Vantor_Screenshot.ini"
wine "$work/korbenit-screenshot.exe" >/dev/null 2>&1 &
program=$!
session_pids+=($program)
until_true "wmctrl -l | grep -q '$title'" || fail "no window titled \"$title\""
main=$(window_id "$title")
info=$(xwininfo -id "$main")
size="$(awk '/Width:/ {print $2}' <<<"$info")x$(awk '/Height:/ {print $2}' <<<"$info")"
[ "$size" = 299x433 ] || fail "the client area is $size, not 299x433"

"$host/cli/korbenit-capture" -q -p "$wine_port_name" -o "$work/linux.bmp"
# "GET SCREEN" sits at 72, 356; Ctrl+S opens the save dialog only once a capture is whole.
xdotool mousemove --window "$main" 72 356 click 1
# (Wine's windows do not answer openbox's activation in time for --sync.)
until_true "xdotool windowactivate $main; xdotool key ctrl+s; sleep 0.3; wmctrl -l | grep -q 'Save as...'" ||
  { wmctrl -l >&2 || true; xdotool getwindowfocus getwindowname >&2 || true; fail "no complete capture"; }

# The picture on the screen, at 28, 12 of the client area, against the Linux capture's
# BMP (bottom-up rows of blue, green, red, 255): each pixel's three colours. The dialog
# goes first, since it covers the window.
xdotool key Escape
until_true "! wmctrl -l | grep -q 'Save as...'"
sleep 0.5
xwd -silent -id "$main" >"$work/window.xwd"
header=$(od -An -tu4 --endian=big -N4 "$work/window.xwd" | tr -d ' ')
colours=$(od -An -tu4 --endian=big -j76 -N4 "$work/window.xwd" | tr -d ' ')
line=$(od -An -tu4 --endian=big -j48 -N4 "$work/window.xwd" | tr -d ' ')
start=$((header + colours * 12))
for y in $(seq 0 319); do
  dd if="$work/window.xwd" bs=1 skip=$((start + (12 + y) * line + 28 * 4)) count=960 2>/dev/null
done | od -An -v -tx1 -w4 | cut -c1-9 >"$work/screen.txt"
for y in $(seq 319 -1 0); do
  dd if="$work/linux.bmp" bs=1 skip=$((54 + y * 960)) count=960 2>/dev/null
done | od -An -v -tx1 -w4 | cut -c1-9 >"$work/device.txt"
cmp -s "$work/screen.txt" "$work/device.txt" || fail "the picture on the screen is not the device's"

until_true "xdotool windowactivate $main; xdotool key ctrl+s; sleep 0.3; wmctrl -l | grep -q 'Save as...'"
dialog=$(window_id "Save as...")
xdotool windowactivate "$dialog" 2>/dev/null || true
sleep 0.3
xdotool key ctrl+a
xdotool type --delay 10 "Z:${work//\//\\}\\shot.bmp"
xdotool key Return
until_true "[ -s '$work/shot.bmp' ]" || fail "SAVE AS wrote nothing"
cmp -s "$work/shot.bmp" "$work/linux.bmp" || fail "the saved BMP is not the device's picture"

# Where the window stands on the screen: its client area's upper left corner.
position() {
  xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print x "," y}'
}
start_program() {
  wine "$work/korbenit-screenshot.exe" >/dev/null 2>&1 &
  program=$!
  session_pids+=($program)
  until_true "wmctrl -l | grep -q '$title'" || fail "no window titled \"$title\" at a restart"
  main=$(window_id "$title")
}
wait_for_end() {
  for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || return 0; sleep 0.1; done
  fail "the program did not end"
}

designed_at=$(position "$main")
xdotool windowmove "$main" 120 140
sleep 0.5
left_at=$(position "$main")
[ "$left_at" != "$designed_at" ] || fail "the window could not be moved"
wmctrl -i -c "$main"
wait_for_end
settings=$(tr -d '\r' <"$work/Vantor_Screenshot.ini")
for key in COMPORT=COM12 FILEFORMAT=1 "FILEDIR=Z:${work//\//\\}\\"; do
  grep -qxF "$key" <<<"$settings" || fail "the close box did not store $key: $settings"
done
grep -q '^NormPos=' <<<"$settings" || fail "the close box stored no placement: $settings"

# A restart reopens where the window was left; "EXIT" stores the placement but not the
# settings (the port taken out of the file meanwhile stays out).
start_program
[ "$(position "$main")" = "$left_at" ] || fail "reopened at $(position "$main"), not $left_at"
xdotool windowmove "$main" 300 220
sleep 0.5
moved_to=$(position "$main")
[ "$moved_to" != "$left_at" ] || fail "the window could not be moved again"
sed -i '/^COMPORT=/d' "$work/Vantor_Screenshot.ini"
# "EXIT" sits at 261, 397.
xdotool mousemove --window "$main" 261 397 click 1
wait_for_end
if grep -q '^COMPORT=' "$work/Vantor_Screenshot.ini"; then fail "EXIT wrote the settings"; fi
start_program
[ "$(position "$main")" = "$moved_to" ] || fail "after EXIT reopened at $(position "$main"), not $moved_to"
wmctrl -i -c "$main"
wait_for_end
echo "window under Wine: 299x433, the device's picture, its BMP, the settings and the place kept"
