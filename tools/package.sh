#!/usr/bin/env bash
# Builds the Debian packages build-package/korbenit-capture_<version>_<arch>.deb (the
# command line and its manual page) and build-package/korbenit-screenshot_<version>_<arch>.deb
# (the window, its menu entry, icons, manual page and the guide), then checks both with
# lintian: an error or a warning fails.
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-shlibdeps derives the packages' dependencies; file finds the executables.
tools/install-deps.sh dpkg-dev file lintian
export BUILD_DIR=build-package BUILD_TYPE=Release
tools/build.sh -DKORBENIT_TESTS=OFF
cd build-package
rm -f ./*.deb
cpack -G DEB >/dev/null
lintian --fail-on error,warning ./*.deb
ls "$PWD"/*.deb
