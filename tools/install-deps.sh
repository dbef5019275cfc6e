#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test the program, and
# any further packages named as arguments. Needs root; does nothing when everything is
# already there.
set -euo pipefail

packages=(
  build-essential cmake
  qt6-base-dev qt6-qpa-plugins libgl-dev libxcb1-dev
  libjpeg62-turbo-dev libpng-dev libcgif-dev libgif-dev libwebp-dev libmicrohttpd-dev
  googletest libgtest-dev libgmock-dev webp imagemagick
  xvfb xauth x11-utils x11-apps openbox xdotool wmctrl chromium
  fonts-wine fonts-liberation2 procps
  locales-all
)

packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
