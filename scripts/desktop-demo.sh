#!/usr/bin/env bash
# Records a short MP4 through the desktop program, driven as a user would:
# start from the main window's button, stop from the tray menu, then a
# screenshot of the main window. Used by the main job on a machine without a
# display: it runs itself on a private virtual desktop (scripts/test-env.sh)
# with a moving scene and a test tone, recording the computer's own sound.
#
#   scripts/desktop-demo.sh [OUTPUT.mp4]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$repo/build}
program=$build/bin/quillet
cli=$build/bin/quillet-cli
out=${1:-$build/demo/quillet-demo.mp4}
case "$out" in /*) ;; *) out=$PWD/$out ;; esac
seconds=${QUILLET_DEMO_SECONDS:-10}
shot=$(dirname "$out")/quillet-main-window.png

[ -x "$program" ] || { echo "desktop-demo: $program is missing; build first (scripts/build.sh)" >&2; exit 2; }
mkdir -p "$(dirname "$out")"

if [ -z "${QUILLET_DEMO_SCENE:-}" ]; then
  QUILLET_DEMO_SCENE=1 exec bash "$repo/scripts/test-env.sh" -- bash "$0" "$out"
fi

drive_repo=$repo
source "$repo/scripts/desktop-drive.sh"
drive_begin quillet-desktop-demo
source "$repo/scripts/demo-scene.sh"

drive_private_home "$work"
mkdir -p "$work/out"
computer=$(demo_computer_sound_index "$cli")
cat >"$HOME/Documents/OrvikClass/Data.ini" <<INI
[screen]
Sel3=0
fps=15
[Quillet]
a=1
ad=${computer:-0}
path=$work/out/
INI

lang="$build/bin/Language/$(drive_ini "$build/bin/Language/sel.ini" Quillet Language 2>/dev/null || true)"
[ -f "$lang" ] || lang=$build/bin/Language/english.ini
title=$(drive_exact "$(drive_ini "$lang" Quillet Title)")
start_box=$(drive_exact "$(drive_ini "$lang" MSG start)")
end_box=$(drive_exact "$(drive_ini "$lang" MSG recEnd2)")

demo_scene_start "$work" "$((seconds + 8))"
drive_start_tray
"$program" >"$work/quillet.log" 2>&1 &
program_pid=$!
pids+=($program_pid)

main=$(drive_wait_window "$title") || { echo "desktop-demo: the main window did not appear" >&2; exit 1; }
drive_tray_icon >/dev/null || sleep 1
echo "desktop-demo: pressing Start in the main window"
drive_click "$main" $(drive_centre kStart)
box=$(drive_wait_window "$start_box") || { echo "desktop-demo: no start confirmation" >&2; exit 1; }
drive_keys "$box" Return
echo "desktop-demo: countdown, then recording for $seconds s"
sleep $((5 + seconds))
echo "desktop-demo: stopping from the tray menu"
drive_tray_entry 1 || { echo "desktop-demo: the tray icon is not docked" >&2; exit 1; }
box=$(drive_wait_window "$end_box" 150) || { echo "desktop-demo: the recording did not end" >&2; exit 1; }
drive_keys "$box" Escape
main=$(drive_wait_window "$title")
sleep 0.5
import -window "$main" "$shot"
"$program" exit
for _ in $(seq 50); do kill -0 "$program_pid" 2>/dev/null || break; sleep 0.1; done

recording=$(ls -t "$work/out"/*.mp4 2>/dev/null | head -n1 || true)
[ -n "$recording" ] || { echo "desktop-demo: no recording was written" >&2; exit 1; }
mv "$recording" "$out"
echo
if command -v ffprobe >/dev/null; then
  ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,nb_frames:format=duration \
    -of compact=p=0:nk=0 "$out" || true
fi
echo "desktop-demo: the recording is $out"
echo "desktop-demo: a screenshot of the main window is $shot"
