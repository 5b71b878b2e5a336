#!/usr/bin/env bash
# Playback benchmark of quillet-player, beside ffplay, on a private 1920x1080
# virtual display:
#   1. the busy desktop (scripts/bench-scene.sh) recorded at 15 fps into an AVI
#      of the screen codec, and the same recording converted to MP4 with
#      `quillet-cli convert`; the CPU of playing each to its end, as cores
#      (CPU seconds over the playing time): quillet-player on the AVI and on
#      the MP4, ffplay on the MP4;
#   2. a long recording of the same desktop (10 minutes unless told): the time
#      from asking for a seek to the picture at that time on the screen, for
#      twelve places spread over the recording.
#
#   scripts/bench-player.sh
#   BENCH_SECONDS=20 BENCH_LONG_SECONDS=600 scripts/bench-player.sh
#
# The recordings have no sound, so both players show pictures only and their
# clocks are the wall clock. Needs a finished build (QUILLET_BUILD_DIR,
# default build/), ffplay and GNU time.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$repo/build}
seconds=${BENCH_SECONDS:-20}
long=${BENCH_LONG_SECONDS:-600}
player=$build/bin/Player/quillet-player
cli=$build/bin/quillet-cli

for f in "$player" "$cli"; do [ -x "$f" ] || { echo "bench-player: $f is missing; build first" >&2; exit 2; }; done
command -v ffplay >/dev/null || { echo "bench-player: ffplay is missing" >&2; exit 2; }
if [ -z "${QUILLET_BENCH_INNER:-}" ]; then
  QUILLET_BENCH_INNER=1 exec bash "$repo/scripts/test-env.sh" --size 1920x1080 -- bash "$0" "$@"
fi

work=$(mktemp -d /tmp/quillet-player-bench.XXXXXX)
source "$repo/scripts/bench-scene.sh"
trap 'stop_scene; rm -rf "$work"' EXIT

record() { "$cli" record -o "$1" --seconds "$2" --fps 15 --area 0,0,1920,1080 --sound off --no-countdown -y >"$work/rec.log" 2>&1 ||
  { cat "$work/rec.log"; echo "bench-player: recording $1 failed" >&2; exit 1; }; }

echo "bench-player: recording ${seconds} s and ${long} s of the busy desktop at 1920x1080, 15 fps"
start_scene busy
record "$work/scene.avi" "$seconds"
record "$work/long.avi" "$long"
stop_scene
"$cli" convert "$work/scene.avi" "$work/scene.mp4" >"$work/conv.log" 2>&1 || { cat "$work/conv.log"; exit 1; }

# Plays FILE to its end through the control channel; prints "CPU WALL".
play_quillet() {
  local file=$1 t0 t1 line
  coproc P { /usr/bin/time -f '%U %S' -o "$work/time" "$player" --control "$file" 2>/dev/null; }
  t0=$EPOCHREALTIME
  while read -r line <&"${P[0]}"; do [[ $line == ended* ]] && break; done
  t1=$EPOCHREALTIME
  echo quit >&"${P[1]}"
  wait "$P_PID" || true
  awk -v a="$t0" -v b="$t1" '{ printf "%.2f %.2f\n", $1 + $2, b - a }' "$work/time"
}
play_ffplay() {
  local t0 t1
  t0=$EPOCHREALTIME
  /usr/bin/time -f '%U %S' -o "$work/time" ffplay -loglevel quiet -autoexit -an "$1" </dev/null >/dev/null 2>&1 || true
  t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" '{ printf "%.2f %.2f\n", $1 + $2, b - a }' "$work/time"
}
report() { awk -v n="$1" '{ printf "  %-28s %6.2f CPU s over %6.2f s: %.3f cores\n", n, $1, $2, $1 / $2 }'; }

echo "playing ${seconds} s of 1920x1080 at 15 fps to the end:"
play_quillet "$work/scene.avi" | report "quillet-player AVI (QVS2)"
play_quillet "$work/scene.mp4" | report "quillet-player MP4"
play_ffplay "$work/scene.mp4" | report "ffplay MP4"

echo "seeking in the ${long} s recording (ask -> picture on the screen):"
coproc P { "$player" --control --paused "$work/long.avi" 2>/dev/null; }
while read -r line <&"${P[0]}"; do [[ $line == shown* ]] && break; done
worst=0
for i in $(seq 0 11); do
  # Places spread over the whole length, not in order, none on a round second.
  ms=$(( (long * 1000 * ((i * 7) % 12) + long * 1000 / 2) / 12 + 137 ))
  t0=$EPOCHREALTIME
  echo "seek $ms" >&"${P[1]}"
  while read -r line <&"${P[0]}"; do [[ $line == shown*seek* ]] && break; done
  t1=$EPOCHREALTIME
  took=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%d", (b - a) * 1000 }')
  echo "  seek to $ms ms: $took ms (${line% *})"
  [ "$took" -gt "$worst" ] && worst=$took
done
echo quit >&"${P[1]}"
wait "$P_PID" || true
echo "  slowest seek: $worst ms"
