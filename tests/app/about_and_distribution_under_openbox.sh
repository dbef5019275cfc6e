#!/usr/bin/env bash
# The real program under Xvfb with openbox, started with "5203817" while a window of class
# "TAPPBUILDER" exists: the Debug window appears and the copy lands in dist/; "?" opens
# the About window centred on the main window, and "CLOSE" closes it. The Debug window is
# 594 x 554 with its frame and lies wholly on the screen; closing the main window ends the
# program while Debug is still open.
set -euo pipefail
program=$1
xclass_window=$2
if [ "${3:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$program" "$xclass_window" --inside
fi
export QT_QPA_PLATFORM=xcb
title="Korbenit - Screenshot v1.0"
source "$(dirname "$0")/openbox_session.sh"
work=$(mktemp -d)
trap 'session_cleanup; rm -rf "$work"' EXIT
cp "$program" "$work/korbenit-screenshot"
mkdir "$work/dist"
start_window_manager

"$xclass_window" TAPPBUILDER "Builder" &
session_pids+=($!)
until_true "wmctrl -l | grep -q Builder"

cd "$work"
./korbenit-screenshot 5203817 &
app=$!
session_pids+=($app)
until_true "wmctrl -l | grep -q '$title'"
until_true "wmctrl -l | grep -q ' Debug$'" || { echo "no Debug window" >&2; exit 1; }
until_true "[ -x dist/korbenit-screenshot10 ]" || { echo "no copy in dist/" >&2; exit 1; }
cmp -s korbenit-screenshot dist/korbenit-screenshot10
echo "Debug shown, dist/korbenit-screenshot10 copied"
debug=$(window_id Debug)
# The outer rectangle from the frame extents that openbox announces (a sizeable window
# has a thicker bottom edge).
outer_geometry() {
  local left right top bottom
  read -r left right top bottom < <(xprop -id "$1" _NET_FRAME_EXTENTS | tr -d ',' | awk '{print $3, $4, $5, $6}')
  xwininfo -id "$1" | awk -v l="$left" -v r="$right" -v t="$top" -v b="$bottom" '
    /Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2}
    END {print x-l, y-t, w+l+r, h+t+b}'
}
until_true "[ \"\$(outer_geometry $debug | cut -d' ' -f3-4)\" = '594 554' ]" || {
  echo "Debug's frame is $(outer_geometry "$debug")" >&2
  exit 1
}
read -r dx dy dw dh < <(outer_geometry "$debug")
if [ "$dx" -lt 0 ] || [ $((dx + dw)) -gt 1280 ] || [ $((dy + dh)) -gt 1024 ]; then
  echo "Debug's frame $dx $dy $dw $dh leaves the 1280 x 1024 screen" >&2
  exit 1
fi
echo "Debug: 594 x 554 at $dx,$dy, on the screen"

main=$(window_id "$title")
wmctrl -i -r "$main" -e "0,200,150,-1,-1"
until_true "[ \"\$(frame_geometry $main | cut -d' ' -f1-2)\" = '200 150' ]"
# "?" sits at 208, 397 in the main window, "CLOSE" at 234, 138 in the About window.
xdotool mousemove --window "$main" 208 397 click 1
until_true "wmctrl -l | grep -q ' About$'" || { echo "no About window" >&2; exit 1; }
about=$(window_id About)
sleep 0.3
read -r mx my mw mh < <(frame_geometry "$main")
read -r ax ay aw ah < <(frame_geometry "$about")
dx=$(( (ax + aw / 2) - (mx + mw / 2) ))
dy=$(( (ay + ah / 2) - (my + mh / 2) ))
echo "About centre off the main window's by $dx,$dy"
if [ "${dx#-}" -gt 3 ] || [ "${dy#-}" -gt 3 ]; then
  echo "About is not centred on the main window" >&2
  exit 1
fi
xdotool mousemove --window "$about" 234 138 click 1
until_true "! wmctrl -l | grep -q ' About$'" || { echo "CLOSE left About open" >&2; exit 1; }
echo "About opened centred and closed"

wmctrl -i -c "$main"
until_true "! kill -0 $app" || { echo "closing the main window left the program running" >&2; exit 1; }
echo "closing the main window ended the program"
