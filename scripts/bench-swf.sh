#!/usr/bin/env bash
# SWF size and speed: one minute of the busy test desktop (a playing video
# and a window of scrolling text, 1920x1080) at 10 frames per second recorded
# as SWF in block mode (quality 4) and in player mode (quality 2), beside MP4
# of the same scene; then the player-mode file plays in Ruffle on the wall
# clock and the player's frame rate is reported.
#
#   scripts/bench-swf.sh                 # 60 s per recording
#   BENCH_SECONDS=20 scripts/bench-swf.sh
#
# Reports file size, kB and CPU seconds (user + system) per recorded second,
# and the share of frame slots the recorder produced. Needs a finished build
# (QUILLET_BUILD_DIR, default build/) and the harness (scripts/install-deps.sh).
# Runs inside scripts/test-env.sh.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$repo/build}
cli=$build/bin/quillet-cli
seconds=${BENCH_SECONDS:-60}
fps=10

[ -x "$cli" ] || { echo "bench-swf: $cli is missing; build first" >&2; exit 2; }
if [ -z "${QUILLET_BENCH_INNER:-}" ]; then
  QUILLET_BENCH_INNER=1 exec bash "$repo/scripts/test-env.sh" --size 1920x1080 -- bash "$0" "$@"
fi

work=$(mktemp -d /tmp/quillet-bench-swf.XXXXXX)
trap 'stop_scene; rm -rf "$work"' EXIT
# shellcheck source=scripts/bench-scene.sh
source "$repo/scripts/bench-scene.sh"

echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-22s %10s %9s %11s %9s\n' recording bytes 'kB/s' 'cpu s/s' produced
for run in "block-q4 swf 4" "player-q2 swf 2" "mp4-q2 mp4 2"; do
  read -r name ext level <<<"$run"
  start_scene busy
  cpu=$(cpu_of "$cli" record -o "$work/$name.$ext" --seconds "$seconds" --fps "$fps" --quality "$level" \
    --sound off --no-countdown --yes)
  stop_scene
  slots=$(sed -n 's/^frames: [0-9]* produced for \([0-9]*\) frame slots.*/\1/p' "$work/out" | tail -n1)
  produced=$(sed -n 's/.*(\([0-9.]*\)%).*/\1/p' "$work/out" | tail -n1)
  bytes=$(stat -c %s "$work/$name.$ext")
  awk -v n="$name" -v b="$bytes" -v c="$cpu" -v s="${slots:-0}" -v f="$fps" -v p="$produced" 'BEGIN {
    d = s / f; printf "%-22s %10d %9.1f %11.3f %8s%%\n", n, b, (d > 0 ? b / 1000 / d : 0), (d > 0 ? c / d : 0), p }'
done

# The player's own pace: it reports the frames it played and the time they took.
harness=$repo/tests/tools/swfplay
if command -v node >/dev/null && [ -d "$harness/node_modules" ]; then
  cat >"$work/job.json" <<JOB
{"files": [{"path": "$work/player-q2.swf", "width": 1920, "height": 1088,
  "steps": [{"realtime": $(( (seconds + 60) * 1000 ))}]}]}
JOB
  node "$harness/play.mjs" "$work/job.json" "$work/result.json" >"$work/play.log" 2>&1 || true
  line=$(grep -o 'played [0-9]* frames in [0-9]* ms' "$work/result.json.txt" | head -n1 || true)
  if [ -n "$line" ]; then
    awk -v l="$line" 'BEGIN { split(l, a, " "); printf "player in Ruffle: %s frames in %.1f s = %.2f frames/s (recorded at %d)\n",
      a[2], a[5] / 1000, (a[5] > 0 ? (a[2] - 1) * 1000 / a[5] : 0), '"$fps"' }'
  else
    echo "player in Ruffle: no report (see the harness output below)"; cat "$work/play.log" "$work/result.json.txt" 2>/dev/null | head -20
  fi
else
  echo "player in Ruffle: skipped (no node or harness; run scripts/install-deps.sh)"
fi
