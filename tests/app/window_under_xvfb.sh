#!/usr/bin/env bash
# Starts the real program in a real X window (Xvfb) and checks its title and client size.
set -euo pipefail
program=$1
if [ -z "${DISPLAY:-}" ] || [ "${2:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$program" --inside
fi
export QT_QPA_PLATFORM=xcb
"$program" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
title="Korbenit - Screenshot v1.0"
for _ in $(seq 100); do
  if info=$(xwininfo -name "$title" 2>/dev/null); then
    width=$(awk '/Width:/ {print $2}' <<<"$info")
    height=$(awk '/Height:/ {print $2}' <<<"$info")
    echo "window \"$title\" ${width}x${height}"
    [ "$width" = 299 ] && [ "$height" = 433 ] && exit 0
    echo "client area is ${width}x${height}, not 299x433" >&2
    exit 1
  fi
  sleep 0.1
done
echo "no window titled \"$title\" appeared" >&2
exit 1
