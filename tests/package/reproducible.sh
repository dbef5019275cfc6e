#!/usr/bin/env bash
# Two package builds of the committed tree, from two clones in folders of different names
# made one after the other, give byte-identical packages (debug symbols included).
#   tests/package/reproducible.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for clone in one another-clone; do
  git clone -q "$here" "$work/$clone"
  "$work/$clone/tools/package.sh" >/dev/null
done
status=0
for deb in "$work"/one/build-package/*.deb; do
  name=$(basename "$deb")
  if ! cmp -s "$deb" "$work/another-clone/build-package/$name"; then
    echo "$name differs between the two builds" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "$(ls "$work"/one/build-package/*.deb | wc -l) packages identical in both builds"
exit $status
