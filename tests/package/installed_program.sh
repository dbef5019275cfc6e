#!/usr/bin/env bash
# The Debian package end to end (as root): it holds the program, the command line, the
# menu entry, icons, man page and guide but not the simulator; installed with dpkg, the
# program runs for an unprivileged user under Xvfb and, closed by its close box, leaves
# its settings in that user's configuration folder; dpkg -r takes it all away again.
#   tests/package/installed_program.sh build-package/korbenit-screenshot_1.0_amd64.deb
set -euo pipefail
deb=$(readlink -f "$1")
here=$(cd "$(dirname "$0")/.." && pwd)
if [ "${2:-}" != "--inside" ]; then
  contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for file in ./usr/bin/korbenit-screenshot ./usr/bin/korbenit-capture \
              ./usr/share/applications/korbenit-screenshot.desktop \
              ./usr/share/icons/hicolor/48x48/apps/korbenit-screenshot.png \
              ./usr/share/man/man1/korbenit-capture.1 \
              ./usr/share/doc/korbenit-screenshot/README.md; do
    grep -qx "$file" <<<"$contents" || { echo "the package lacks $file" >&2; exit 1; }
  done
  if grep -q korbenit-sim <<<"$contents"; then echo "the simulator is in the package" >&2; exit 1; fi
  echo "package holds its files"
  dpkg -i "$deb" >/dev/null
  trap 'dpkg -r korbenit-screenshot >/dev/null' EXIT
  # -ac: the unprivileged user may use the display.
  xvfb-run -a -s "-screen 0 1280x1024x24 -ac" "$0" "$deb" --inside
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
