#!/usr/bin/env bash
# The real program in a real X window with a window manager (openbox under Xvfb): moved
# and closed by the close box, or moved and ended by EXIT, it reopens where it was left;
# maximized, it keeps the normal place it had, start after start; a place on no screen
# gives way to the designed one; a stored ShowCmd=2 starts it minimized.
set -euo pipefail
program=$1
if [ "${2:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$program" --inside
fi
export QT_QPA_PLATFORM=xcb
title="Korbenit - Screenshot v1.0"
source "$(dirname "$0")/openbox_session.sh"
work=$(mktemp -d)
trap 'session_cleanup; rm -rf "$work"' EXIT
# The settings file lives beside the executable: a copy of its own keeps the build's clean.
cp "$program" "$work/korbenit-screenshot"
settings="$work/Vantor_Screenshot.ini"
start_window_manager

start() {
  "$work/korbenit-screenshot" &
  app=$!
  session_pids+=($app)
  until_true "wmctrl -l | grep -q '$title'"
  wid=$(window_id "$title")
}

frame_position() {
  frame_geometry "$wid" | awk '{print $1 "," $2}'
}

move_to() {
  wmctrl -i -r "$wid" -e "0,$1,$2,-1,-1"
  until_true "[ \"\$(frame_position)\" = '$1,$2' ]"
}

expect_frame_at() {
  until_true "[ \"\$(frame_position)\" = '$1' ]" || {
    echo "$2: frame at $(frame_position), not $1" >&2
    exit 1
  }
  echo "$2: frame at $1"
}

start
expect_frame_at 745,337 "first start"
move_to 300 200
wmctrl -i -c "$wid"
wait "$app"
grep -q '^NormPos=300,200,' "$settings" || { echo "close box stored no NormPos" >&2; exit 1; }

start
expect_frame_at 300,200 "after the close box"
move_to 420 150
# EXIT sits at 261, 397 in the window.
xdotool mousemove --window "$wid" 261 397 click 1
wait "$app"

start
expect_frame_at 420,150 "after EXIT"
wmctrl -i -c "$wid"
wait "$app"

close_and_wait() {
  wmctrl -i -c "$wid"
  wait "$app"
}

stored_normpos() {
  grep -a '^NormPos=' "$settings" | tr -d '\r'
}

# The window's fixed size keeps openbox from maximizing it by hand; a stored state does.
sed -i 's/^ShowCmd=.*/ShowCmd=3/' "$settings"
normal=$(stored_normpos)
for cycle in 1 2 3 4 5; do
  start
  until_true "xprop -id $wid _NET_WM_STATE | grep -q MAXIMIZED"
  close_and_wait
  [ "$(stored_normpos)" = "$normal" ] || {
    echo "maximized cycle $cycle: $(stored_normpos), not $normal" >&2
    exit 1
  }
done
echo "maximized: $normal kept over five starts"

for far in 99999,99999,100304,100461 -5000,-5000,-4695,-4538; do
  sed -i "/^NormPos/d; /^ShowCmd/d" "$settings"
  printf 'NormPos=%s\r\nShowCmd=1\r\n' "$far" >> "$settings"
  start
  expect_frame_at 745,337 "stored $far"
  close_and_wait
done

sed -i 's/^ShowCmd=.*/ShowCmd=2/' "$settings"
start
until_true "xprop -id $wid _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN" || {
  echo "ShowCmd=2 did not start minimized" >&2
  exit 1
}
echo "ShowCmd=2: started minimized"
kill "$app"
head -11 "$settings"
