#!/usr/bin/env bash
# What serving the screen costs: korbenit-capture --serve against the simulator's moving
# screen paced like the wire, its CPU measured with no viewer (the live session alone),
# with one viewer of the MJPEG stream and with sixteen: the whole process's, and the
# server's own (its threads, which the HTTP library names MHD-*, JPEG encoding included).
# Prints key=value lines.
#   tools/benchmark/serve-bench.sh [SECONDS] [BUILD_DIR]   (default 20 s each, build/)
set -euo pipefail
seconds=${1:-20}
build=${2:-build}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/tools/simulator/korbenit-sim" --moving --delay-us 856 --name "serve-bench-$$" >"$work/sim" 2>/dev/null &
pids+=($!)
until grep -q 'link=' "$work/sim" 2>/dev/null; do sleep 0.05; done
port=$(sed -n 's/.*link=\([^ ]*\).*/\1/p' "$work/sim")
"$build/cli/korbenit-capture" --serve=127.0.0.1:0 -p "$port" >"$work/server" &
server=$!
pids+=("$server")
until grep -q '^serving' "$work/server" 2>/dev/null; do sleep 0.05; done
url=$(sed -n 's/^serving \(http[^ ]*\)$/\1/p' "$work/server")
until curl -s "${url}frame.json" | grep -q '"live"'; do sleep 0.1; done

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }
# The server's threads as "tid nanoseconds" lines: the scheduler's own count, exact where
# tick sampling misses a thread's short bursts.
server_threads() {
  for task in /proc/"$server"/task/*; do
    if grep -q '^MHD-' "$task/comm" 2>/dev/null; then
      echo "${task##*/} $(awk '{ print $1 }' "$task/schedstat")"
    fi
  done
}
frame() { curl -s "${url}frame.json" | sed 's/.*"frame":\([0-9]*\).*/\1/'; }
# Ticks of the process and of the server's threads (those there from start to end) over
# the measuring time, and the frames that came.
measure() {
  local before_cpu before_frame
  sleep 2  # the viewers settle
  server_threads >"$work/before"
  before_cpu=$(cpu_ticks) before_frame=$(frame)
  sleep "$seconds"
  local process=$(( $(cpu_ticks) - before_cpu )) frames=$(( $(frame) - before_frame ))
  server_threads >"$work/after"
  local threads
  threads=$(awk 'NR == FNR { start[$1] = $2; next } $1 in start { sum += $2 - start[$1] }
                 END { print sum + 0 }' "$work/before" "$work/after")
  echo "$process $threads $frames"
}
viewers() {
  for _ in $(seq "$1"); do
    curl -s -N -o /dev/null "${url}stream.mjpg" &
    pids+=($!)
  done
}

read -r idle idle_server idle_frames < <(measure)
viewers 1
read -r one one_server one_frames < <(measure)
viewers 15
read -r sixteen sixteen_server sixteen_frames < <(measure)

awk -v t="$ticks" -v s="$seconds" -v a="$idle" -v b="$one" -v c="$sixteen" \
    -v sa="$idle_server" -v sb="$one_server" -v sc="$sixteen_server" \
    -v fa="$idle_frames" -v fb="$one_frames" -v fc="$sixteen_frames" 'BEGIN {
  printf "process_cores_no_viewer=%.3f\nprocess_cores_1_viewer=%.3f\n", a/t/s, b/t/s
  printf "process_cores_16_viewers=%.3f\n", c/t/s
  printf "server_cores_no_viewer=%.4f\nserver_cores_1_viewer=%.4f\n", sa/1e9/s, sb/1e9/s
  printf "server_cores_16_viewers=%.4f\n", sc/1e9/s
  printf "frames_per_second_no_viewer=%.2f\nframes_per_second_1_viewer=%.2f\n", fa/s, fb/s
  printf "frames_per_second_16_viewers=%.2f\n", fc/s
}'
