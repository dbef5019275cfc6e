#!/usr/bin/env bash
# tools/run.sh --demo in a real X session: the simulator is offered as korbenit-demo and
# chosen, "GET SCREEN" captures from it, F6 opens the live view, whose picture moves
# while it holds the port and whose close box frees it, and closing the program ends the
# simulator and takes its link away. It runs the build tree it belongs to (its one argument) with a
# runtime folder of its own, so no other simulator on the machine is in its port list.
set -euo pipefail
build=$(cd "$1" && pwd)
if [ "${2:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" --inside
fi
export QT_QPA_PLATFORM=xcb
title="Korbenit - Screenshot v1.0"
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/app/openbox_session.sh"
settings="$build/app/Vantor_Screenshot.ini"
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
trap 'session_cleanup; rm -f "$settings"; rm -rf "$runtime"' EXIT
rm -f "$settings"
start_window_manager

BUILD_DIR=$build KORBENIT_NO_BUILD=1 "$root/tools/run.sh" --demo > /dev/null &
demo=$!
session_pids+=($demo)
until_true "wmctrl -l | grep -q '$title'"
main=$(window_id "$title")
pgrep -f "$build/tools/simulator/korbenit-sim --name korbenit-demo" > /dev/null || { echo "no simulator" >&2; exit 1; }
# "GET SCREEN" sits at 72, 356. Ctrl+S opens the save dialog only once a capture is whole.
xdotool mousemove --window "$main" 72 356 click 1
until_true "xdotool windowactivate --sync $main key ctrl+s; sleep 0.3; wmctrl -l | grep -q 'Save as...'" ||
  { echo "no complete capture" >&2; exit 1; }
xdotool key Escape
until_true "! wmctrl -l | grep -q 'Save as...'"

xdotool windowactivate --sync "$main" key F6
until_true "wmctrl -l | grep -q ' Live view$'" || { echo "F6 opened no live view" >&2; exit 1; }
live=$(window_id "Live view")
sleep 1
xwd -silent -id "$live" > "$runtime/first.xwd"
sleep 1
xwd -silent -id "$live" > "$runtime/second.xwd"
if cmp -s "$runtime/first.xwd" "$runtime/second.xwd"; then echo "the live view stands still" >&2; exit 1; fi
capture=("$build/cli/korbenit-capture" -q -p korbenit-demo -o "$runtime/shot.png")
if "${capture[@]}" 2>/dev/null; then echo "the live view did not hold the port" >&2; exit 1; fi
wmctrl -i -c "$live"
until_true "! wmctrl -l | grep -q ' Live view$'"
"${capture[@]}" || { echo "closing the live view did not free the port" >&2; exit 1; }
echo "live view: moving, holding the port, freeing it when closed"
wmctrl -i -c "$main"
wait "$demo"
grep -q '^COMPORT=korbenit-demo' "$settings" || { echo "korbenit-demo was not chosen" >&2; exit 1; }
if pgrep -f "$build/tools/simulator/korbenit-sim --name korbenit-demo" > /dev/null; then
  echo "the simulator outlived the program" >&2
  exit 1
fi
folder=$runtime/korbenit-ports
if [ -e "$folder/korbenit-demo" ] || [ -L "$folder/korbenit-demo" ]; then
  echo "the simulator's link was left behind" >&2
  exit 1
fi
echo "demo: simulator offered, chosen, captured from and gone with the program"
