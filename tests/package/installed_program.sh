#!/usr/bin/env bash
# The Debian packages end to end (as root): the window's package holds the program, its
# menu entry, icons, manual page and guide, the command line's package the command line
# and its manual page, neither the simulator nor a Qt library for the command line;
# installed with dpkg, the program runs for an unprivileged user under Xvfb and, closed by
# its close box, leaves its settings in that user's configuration folder; dpkg -r takes
# it all away again.
#   tests/package/installed_program.sh build-package/korbenit-screenshot_1.0_amd64.deb \
#                                       build-package/korbenit-capture_1.0_amd64.deb
set -euo pipefail
deb=$(readlink -f "$1")
capture=$(readlink -f "$2")
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "${3:-}" != "--inside" ]; then
  expect_files() {
    local contents
    contents=$(dpkg-deb -c "$1" | awk '{print $6}')
    shift
    for file in "$@"; do
      grep -qx "$file" <<<"$contents" || { echo "the package lacks $file" >&2; exit 1; }
    done
    if grep -q korbenit-sim <<<"$contents"; then echo "the simulator is in the package" >&2; exit 1; fi
  }
  expect_files "$deb" ./usr/bin/korbenit-screenshot \
    ./usr/share/applications/korbenit-screenshot.desktop \
    ./usr/share/icons/hicolor/48x48/apps/korbenit-screenshot.png \
    ./usr/share/man/man1/korbenit-screenshot.1.gz ./usr/share/doc/korbenit-screenshot/README.md \
    ./usr/share/doc/korbenit-screenshot/copyright
  expect_files "$capture" ./usr/bin/korbenit-capture ./usr/share/man/man1/korbenit-capture.1.gz \
    ./usr/share/doc/korbenit-capture/copyright ./usr/share/doc/korbenit-capture/changelog.gz
  if dpkg-deb -f "$capture" Depends | grep -qi qt; then
    echo "the command line depends on Qt" >&2
    exit 1
  fi
  echo "packages hold their files"
  dpkg -i "$capture" >/dev/null
  trap 'dpkg -r korbenit-capture >/dev/null' EXIT
  korbenit-capture --version | grep -qx "korbenit-capture 1.0" || { echo "korbenit-capture does not run" >&2; exit 1; }
  dpkg -r korbenit-capture >/dev/null
  trap - EXIT
  dpkg -i "$deb" >/dev/null
  trap 'dpkg -r korbenit-screenshot >/dev/null' EXIT
  # -ac: the unprivileged user may use the display.
  xvfb-run -a -s "-screen 0 1280x1024x24 -ac" "$0" "$deb" "$capture" --inside
  dpkg -r korbenit-screenshot >/dev/null
  trap - EXIT
  if [ -e /usr/bin/korbenit-screenshot ] || [ -e /usr/share/applications/korbenit-screenshot.desktop ]; then
    echo "dpkg -r left files behind" >&2
    exit 1
  fi
  echo "removed cleanly"
  exit 0
fi

source "$here/app/openbox_session.sh"
title="Korbenit - Screenshot v1.0"
home=$(mktemp -d)
chown 65534:65534 "$home"
trap 'session_cleanup; rm -rf "$home"' EXIT
start_window_manager
setpriv --reuid=65534 --regid=65534 --clear-groups \
  env -i HOME="$home" DISPLAY="$DISPLAY" PATH=/usr/bin:/bin QT_QPA_PLATFORM=xcb \
  korbenit-screenshot 2>/dev/null &
app=$!
session_pids+=($app)
until_true "wmctrl -l | grep -q '$title'"
wmctrl -c "$title"
wait "$app"
settings="$home/.config/korbenit-screenshot/Vantor_Screenshot.ini"
[ -f "$settings" ] || { echo "no settings file in the user's configuration folder" >&2; exit 1; }
[ "$(stat -c %u "$settings")" = 65534 ] || { echo "the settings file is not the user's" >&2; exit 1; }
grep -q '^\[Main\]' "$settings" && grep -q '^\[CONFIG\]' "$settings" ||
  { echo "the settings file lacks its sections" >&2; exit 1; }
[ -d "$home/Pictures/Korbenit" ] || { echo "no picture folder in the user's Pictures" >&2; exit 1; }
echo "installed program kept its settings in $settings"
