#!/usr/bin/env bash
# Soak: many paced captures through the serial port against the simulator, at three
# paces, with and without stray bytes after each answer. Prints the benchmark's lines
# for each combination; every failed capture is listed with its message and line.
#   tools/soak.sh [RUNS]        (default 1000 per combination; 20000 us takes 6.5 s a run)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
tools/build.sh >/dev/null
for delay in 0 856 20000; do
  for stray in 0 3; do
    echo "== delay_us=$delay stray=$stray runs=$runs"
    build/tools/benchmark/korbenit-bench --runs "$runs" --delay-us "$delay" --stray "$stray" \
      --keep-going || true
  done
done
