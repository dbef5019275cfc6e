#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest.
#   tools/test.sh             normal build in build/
#   tools/test.sh --sanitize  address + undefined sanitizer build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
if [ "${1:-}" = "--sanitize" ]; then
  export BUILD_DIR=build-sanitize BUILD_TYPE=Debug
  tools/build.sh -DKORBENIT_SANITIZE=ON
  export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
else
  tools/build.sh
fi
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j2
