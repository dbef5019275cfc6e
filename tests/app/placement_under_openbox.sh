#!/usr/bin/env bash
# The real program in a real X window with a window manager (openbox under Xvfb): moved
# and closed by the close box, or moved and ended by EXIT, it reopens where it was left;
# a stored ShowCmd=2 starts it minimized.
set -euo pipefail
program=$1
if [ "${2:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$program" --inside
fi
export QT_QPA_PLATFORM=xcb
title="Korbenit - Screenshot v1.0"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
# The settings file lives beside the executable: a copy of its own keeps the build's clean.
cp "$program" "$work/korbenit-screenshot"
settings="$work/Vantor_Screenshot.ini"

until_true() {  # tries a command for up to 10 s
  for _ in $(seq 100); do
    if eval "$1" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "timed out waiting for: $1" >&2
  return 1
}

openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
# openbox announces itself before it manages windows, and a window mapped in that moment
# stays unmanaged: probe windows of our own are mapped until one is listed as managed.
wm_ready() {
  for attempt in $(seq 20); do
    xmessage -title "korbenit-probe-$attempt" probe 2>/dev/null &
    local probe=$!
    for _ in $(seq 10); do
      if wmctrl -l 2>/dev/null | grep -q "korbenit-probe-$attempt"; then
        kill "$probe"
        return 0
      fi
      sleep 0.1
    done
    kill "$probe"
  done
  echo "the window manager never managed a window" >&2
  return 1
}
wm_ready

start() {
  "$work/korbenit-screenshot" &
  app=$!
  pids+=($app)
  until_true "wmctrl -l | grep -q '$title'"
  wid=$(xdotool search --name "$title" | head -1)
}

# The frame's top-left corner, from wmctrl's client position less openbox's border.
frame_position() {
  xwininfo -id "$wid" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Relative upper-left X/ {rx=$4} /Relative upper-left Y/ {ry=$4} END {print x-rx "," y-ry}'
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

sed -i 's/^ShowCmd=.*/ShowCmd=2/' "$settings"
start
until_true "xprop -id $wid _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN" || {
  echo "ShowCmd=2 did not start minimized" >&2
  exit 1
}
echo "ShowCmd=2: started minimized"
kill "$app"
head -11 "$settings"
