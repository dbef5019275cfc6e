#!/usr/bin/env bash
# Builds the Debian packages from debian/ with dpkg-buildpackage, in a copy of the tree in
# build-package/ (dpkg-buildpackage puts its results beside the tree it builds):
# build-package/korbenit-capture_<version>_<arch>.deb (the command line and its manual
# page), build-package/korbenit-screenshot_<version>_<arch>.deb (the window, its menu
# entry, icons, manual page and the guide) and their -dbgsym packages of debug symbols.
# Then checks them with lintian: an error or a warning fails.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh dpkg-dev debhelper fakeroot file lintian
version=$(dpkg-parsechangelog -S Version)
rm -rf build-package
tree=build-package/korbenit-screenshot-$version
mkdir -p "$tree"
# What is committed, or for a tree without git its files less the build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$tree"
else
  tar --exclude='./build*' --exclude=./.git -cf - . | tar -C "$tree" -xf -
fi
(cd "$tree" && dpkg-buildpackage -us -uc -b >../build.log 2>&1) || {
  tail -40 build-package/build.log >&2
  exit 1
}
lintian --pedantic --display-info --fail-on error,warning build-package/*.changes
ls "$PWD"/build-package/*.deb
