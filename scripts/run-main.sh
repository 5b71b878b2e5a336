#!/usr/bin/env bash
# Installs what is missing, builds, and runs Quillet's main job: a 10-second
# MP4 recording of the desktop with sound. Without a display and a sound
# server it records a private virtual desktop playing a test scene and tone.
#   scripts/run-main.sh [OUTPUT.mp4]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
./build/bin/quillet-cli selfcheck
bash scripts/record-demo.sh "$@"
