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
  # fuzz targets (libFuzzer: the update reply, the screen decoder); install and package checks
  clang libclang-rt-14-dev desktop-file-utils librsvg2-bin file
  # the SWF player is compiled from Haxe; SWF recordings are played in a real
  # Flash-compatible player inside Chromium by tests/tools/swfplay
  haxe chromium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Node runs the SWF player harness. A node that is already installed (from
# any source) is kept; Debian's comes with its npm.
command -v node >/dev/null 2>&1 || missing+=(nodejs npm)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
else
  echo "install-deps: installing ${#missing[@]} packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "install-deps: done"
fi

# The harness's npm packages (the player's web build and the browser driver;
# no browser is downloaded: the harness uses Debian's chromium), from its lock
# file, again only when the lock changed.
harness="$(cd "$(dirname "$0")/.." && pwd)/tests/tools/swfplay"
if [ -f "$harness/package-lock.json" ]; then
  stamp="$harness/node_modules/.quillet-lock"
  if ! cmp -s "$harness/package-lock.json" "$stamp" 2>/dev/null; then
    echo "install-deps: npm ci in tests/tools/swfplay"
    (cd "$harness" && npm ci --no-audit --no-fund --loglevel=error)
    cp "$harness/package-lock.json" "$stamp"
  fi
fi
