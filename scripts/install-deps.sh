#!/usr/bin/env bash
# Installs every system package Quillet needs to build, run and test on Debian 12.
# Idempotent: packages already present are skipped by apt. Must run as root (or via sudo).
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # coders and containers
  libx264-dev libmp3lame-dev zlib1g-dev liblzo2-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  # screen, input and sound
  libx11-dev libxext-dev libxfixes-dev libxdamage-dev libxrandr-dev libxtst-dev libxi-dev libpulse-dev
  # windows, menus, tray
  qt6-base-dev
  # tests and benchmarks: real decoders and reference encoders
  libgtest-dev libgmock-dev libbenchmark-dev libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev
  # headless desktop for tests and for the demo recording
  xvfb xdotool x11-utils x11-xserver-utils pulseaudio pulseaudio-utils sox ffmpeg imagemagick trayer fonts-wqy-microhei
  xdg-user-dirs
  # desktop program: opening recordings and folders; its tray tests with a StatusNotifier host
  xdg-utils dbus-daemon libglib2.0-bin
  # update-reply fuzz target (libFuzzer); install and package checks
  clang libclang-rt-14-dev desktop-file-utils librsvg2-bin file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "install-deps: installing ${#missing[@]} packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
