# Shared by the end-to-end checks that need a window manager: sourced inside xvfb-run.
# Starts openbox and offers helpers to wait for and measure windows.

session_pids=()
session_cleanup() {
  for pid in "${session_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
}

until_true() {  # tries a command for up to 10 s
  for _ in $(seq 100); do
    if eval "$1" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "timed out waiting for: $1" >&2
  return 1
}

# openbox announces itself before it manages windows, and a window mapped in that moment
# stays unmanaged: probe windows of our own are mapped until one is listed as managed.
start_window_manager() {
  openbox --sm-disable >/dev/null 2>&1 &
  session_pids+=($!)
  for attempt in $(seq 20); do
    xmessage -title "korbenit-probe-$attempt" probe 2>/dev/null &
    local probe=$!
    for _ in $(seq 10); do
      if wmctrl -l 2>/dev/null | grep -q "korbenit-probe-$attempt"; then
        kill "$probe" 2>/dev/null || true
        return 0
      fi
      sleep 0.1
    done
    kill "$probe" 2>/dev/null || true
  done
  echo "the window manager never managed a window" >&2
  return 1
}

window_id() {  # the first window titled exactly $1
  xdotool search --name "^$1\$" | head -1
}

# A window's frame as "left top width height": the client's place less the border.
frame_geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Relative upper-left X/ {rx=$4} /Relative upper-left Y/ {ry=$4}
    /Width:/ {w=$2} /Height:/ {h=$2} END {print x-rx, y-ry, w+2*rx, h+ry+rx}'
}
