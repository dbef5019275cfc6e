#!/usr/bin/env bash
# Builds the Debian package build-package/korbenit-screenshot_<version>_<arch>.deb:
# the program, korbenit-capture, the menu entry, icons, man page and this guide.
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-shlibdeps derives the package's dependencies; file finds the executables.
tools/install-deps.sh dpkg-dev file
export BUILD_DIR=build-package BUILD_TYPE=Release
tools/build.sh -DKORBENIT_TESTS=OFF
cd build-package
rm -f ./*.deb
cpack -G DEB >/dev/null
ls "$PWD"/*.deb
