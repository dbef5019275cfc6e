#!/usr/bin/env bash
# Builds the Windows programs with mingw-w64 into build-windows/: the libraries first
# (tools/windows-deps.sh, once), then build-windows/cli/korbenit-capture.exe, the tests
# that run under Wine, and the installer build-windows/korbenit-capture-VERSION-x64.msi.
# Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 libz-mingw-w64-dev wixl msitools \
  dpkg-dev autoconf automake libtool curl
tools/windows-deps.sh build-windows/deps
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE="$PWD/tools/mingw-toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$PWD/build-windows/deps" "$@" >/dev/null
cmake --build build-windows -j"$(nproc)"
