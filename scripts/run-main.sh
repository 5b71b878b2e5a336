#!/usr/bin/env bash
# Installs what is missing, builds, and runs Quillet's main job. With a display
# it starts the desktop program. Without one it records a 10-second MP4
# through the desktop program on a private virtual desktop (a moving scene
# and a test tone; started from the main window, stopped from the tray menu)
# and prints where the recording and a screenshot of the main window are.
#   scripts/run-main.sh [OUTPUT.mp4]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
./build/bin/quillet-cli selfcheck
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "run-main: starting the desktop program on $DISPLAY"
  exec ./build/bin/quillet
fi
bash scripts/desktop-demo.sh "$@"
