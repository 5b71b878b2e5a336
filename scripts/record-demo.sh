#!/usr/bin/env bash
# Records a 10-second MP4 of the desktop with sound through quillet-cli.
#
#   scripts/record-demo.sh [OUTPUT.mp4]
#
# Expects a finished build (QUILLET_BUILD_DIR, default build/). With a display
# and a sound server it records them as they are (the default sound source of
# the settings). Without them it wraps itself in scripts/test-env.sh: a virtual
# display runs a small moving scene, a test tone plays into the null sink, and
# the computer's own sound is recorded. Prints where the file is.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$repo/build}
cli=$build/bin/quillet-cli
out=${1:-$build/demo/quillet-demo.mp4}
case "$out" in /*) ;; *) out=$PWD/$out ;; esac
seconds=${QUILLET_DEMO_SECONDS:-10}

[ -x "$cli" ] || { echo "record-demo: $cli is missing; build first (scripts/build.sh)" >&2; exit 2; }
mkdir -p "$(dirname "$out")"

have_display() { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; }
have_sound() { pactl info >/dev/null 2>&1; }

if [ -z "${QUILLET_DEMO_SCENE:-}" ] && ! { have_display && have_sound; }; then
  echo "record-demo: no display or no sound server here; recording a virtual desktop with a test scene" >&2
  QUILLET_DEMO_SCENE=1 exec bash "$repo/scripts/test-env.sh" -- bash "$0" "$out"
fi

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

source_args=()
if [ -n "${QUILLET_DEMO_SCENE:-}" ]; then
  work=$(mktemp -d /tmp/quillet-demo.XXXXXX)
  source "$repo/scripts/demo-scene.sh"
  demo_scene_start "$work" "$seconds"
  computer=$(demo_computer_sound_index "$cli")
  [ -n "$computer" ] && source_args=(--source "$computer")
  sleep 0.5
fi

"$cli" record -o "$out" --seconds "$seconds" --no-countdown --yes --sound on "${source_args[@]}"

echo
if command -v ffprobe >/dev/null; then
  ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,nb_frames:format=duration \
    -of compact=p=0:nk=0 "$out" || true
fi
echo "record-demo: the recording is $out"
