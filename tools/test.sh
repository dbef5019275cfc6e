#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with ctest.
#   tools/test.sh             normal build in build/
#   tools/test.sh --sanitize  address + undefined sanitizer build in build-sanitize/
#   tools/test.sh --tsan      thread sanitizer build in build-tsan/ of the tests whose code
#                             starts threads (serial, capture and recording, command line)
#   tools/test.sh --windows   the Windows build in build-windows/ (tools/build-windows.sh),
#                             its tests under Wine in a prefix of its own, the end-to-end
#                             ones against the Linux build's simulator
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
case "${1:-}" in
  --sanitize)
    export BUILD_DIR=build-sanitize BUILD_TYPE=Debug
    tools/build.sh -DKORBENIT_SANITIZE=ON
    export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
    export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
    ;;
  --tsan)
    export BUILD_DIR=build-tsan BUILD_TYPE=RelWithDebInfo
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORBENIT_THREAD_SANITIZE=ON >/dev/null
    cmake --build build-tsan -j"$(nproc)" --target serial_tests capture_tests cli_tests
    # Any report fails the test that caused it.
    export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"
    status=0
    for dir in serial capture cli; do
      ctest --test-dir build-tsan/tests/$dir --output-on-failure -j2 || status=1
    done
    # Stops from another thread at random moments, many times over.
    KORBENIT_STOP_ROUNDS=200 build-tsan/tests/capture/capture_tests --gtest_filter='Stop.*' \
      --gtest_brief=1 || status=1
    exit $status
    ;;
  --windows)
    tools/build.sh
    tools/build-windows.sh
    export WINEPREFIX=$PWD/build-windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # A primed server, or the first tests' discovery runs out of time.
    wineboot -i >/dev/null 2>&1
    wineserver -w
    wine cmd /c exit >/dev/null 2>&1
    # A server started without a display keeps its desktop without one: the tests start
    # their own, under the display below.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    rm -rf "$WINEPREFIX"/drive_c/users/*/Temp/korbenit-test-*
    status=0
    # The window's tests make real windows: a display for them all.
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build-windows --output-on-failure -j2 ||
      status=1
    wineserver -k >/dev/null 2>&1 || true
    exit $status
    ;;
  *)
    tools/build.sh
    ;;
esac
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j2
