#!/usr/bin/env bash
# The real program under Xvfb with openbox, started with "5203817" while a window of class
# "TAPPBUILDER" exists: the Debug window appears and the copy lands in dist/; "?" opens
# the About window centred on the main window, and "CLOSE" closes it.
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
session_pids+=($!)
until_true "wmctrl -l | grep -q '$title'"
until_true "wmctrl -l | grep -q ' Debug$'" || { echo "no Debug window" >&2; exit 1; }
until_true "[ -x dist/korbenit-screenshot10 ]" || { echo "no copy in dist/" >&2; exit 1; }
cmp -s korbenit-screenshot dist/korbenit-screenshot10
echo "Debug shown, dist/korbenit-screenshot10 copied"

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
