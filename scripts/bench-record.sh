#!/usr/bin/env bash
# Side-by-side recording benchmark: quillet-cli against ffmpeg's x11grab with
# libx264 set to the same encoder parameters, on a 1920x1080 virtual display
# (BENCH_SIZE=WxH for another size).
#
#   scripts/bench-record.sh            # 30 s per run, 15 and 25 fps, busy and still scenes
#   BENCH_SECONDS=10 scripts/bench-record.sh
#
# Reports CPU seconds (user + system) per recorded second for both, their
# ratio, and framesEncoded / framesCounted of quillet. Needs a finished build
# (QUILLET_BUILD_DIR, default build/). Runs inside scripts/test-env.sh.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$repo/build}
cli=$build/bin/quillet-cli
seconds=${BENCH_SECONDS:-30}
rates=${BENCH_RATES:-"15 25"}
scenes=${BENCH_SCENES:-"busy still"}
# Display size; other sizes are for diagnosis (the reported figures use 1920x1080).
size=${BENCH_SIZE:-1920x1080}

[ -x "$cli" ] || { echo "bench-record: $cli is missing; build first" >&2; exit 2; }
if [ -z "${QUILLET_BENCH_INNER:-}" ]; then
  QUILLET_BENCH_INNER=1 exec bash "$repo/scripts/test-env.sh" --size "$size" -- bash "$0" "$@"
fi

work=$(mktemp -d /tmp/quillet-bench.XXXXXX)
pids=()
stop_scene() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done; pids=(); }
trap 'stop_scene; rm -rf "$work"' EXIT

# The scrolling text: the repository's own sources, so it looks like a page of
# code being read.
find "$repo/engine" "$repo/capture" -name '*.cpp' | sort | xargs cat | sed -n '1,200p' >"$work/page.txt"
font=$(fc-match -f '%{file}' 'DejaVu Sans Mono' 2>/dev/null || true)

start_scene() {
  xsetroot -solid '#3a4a5a'
  if [ "$1" = busy ]; then
    # A playing video region and a window of text scrolling at 50 pixels a
    # second over a still desktop.
    ffplay -loglevel quiet -an -noborder -left 200 -top 150 -f lavfi -i 'testsrc2=s=640x360:r=25' &
    pids+=($!)
    ffplay -loglevel quiet -an -noborder -left 900 -top 600 -f lavfi \
      -i "color=c=white:s=800x300:r=25,drawtext=fontfile=$font:textfile=$work/page.txt:expansion=none:fontsize=14:fontcolor=black:x=8:y=8-t*50" &
    pids+=($!)
    sleep 1.5
  fi
}

# CPU seconds (user + system) of a command, from /proc accounting of its
# process tree via GNU time.
cpu_of() { /usr/bin/time -f '%U %S' -o "$work/time" "$@" >"$work/out" 2>&1 || true; awk '{print $1 + $2}' "$work/time"; }

# The x264 parameters of Quillet's H.264 wrapper, as ffmpeg options.
x264_opts() {
  local fps=$1
  echo "-c:v libx264 -threads 1 -qp 26 -bf 0 -coder 0 -refs 1 -me_method hex -subq 5 -8x8dct 0 \
    -weightp 0 -rc-lookahead 0 -mbtree 0 -sc_threshold 40 -g $((fps * 10)) -keyint_min $fps -pix_fmt yuv420p"
}

# Other work on the machine skews CPU times and the produced share; say how busy it was.
echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
# Each recording gets the scene started afresh: the busy scene changes in
# character over time (the cellular pattern thins out), so two recorders
# running one after the other would otherwise see different pictures.
kbps() { local bytes; bytes=$(stat -c %s "$1" 2>/dev/null || echo 0); awk -v b="$bytes" -v d="$2" 'BEGIN { printf "%d", (d > 0 ? b * 8 / d / 1000 : 0) }'; }
printf '%-6s %4s %14s %14s %7s %10s %-15s %s\n' scene fps quillet_cpu/s ffmpeg_cpu/s ratio produced encoded/counted 'kbit/s (q/f)'
for scene in $scenes; do
  for fps in $rates; do
    start_scene "$scene"
    q=$(cpu_of "$cli" record -o "$work/q.mp4" --seconds "$seconds" --fps "$fps" --sound off --no-countdown --yes)
    stop_scene
    produced=$(sed -n 's/.*(\([0-9.]*\)%).*/\1/p' "$work/out" | tail -n1)
    # framesEncoded / framesCounted as the recorder printed them.
    counts=$(sed -n 's/^frames: \([0-9]*\) produced for \([0-9]*\) frame slots.*/\1\/\2/p' "$work/out" | tail -n1)
    qdur=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$work/q.mp4" 2>/dev/null || echo "$seconds")
    start_scene "$scene"
    # shellcheck disable=SC2046
    f=$(cpu_of ffmpeg -v error -y -f x11grab -framerate "$fps" -video_size "$size" -i "$DISPLAY" -t "$seconds" \
      $(x264_opts "$fps") "$work/f.mp4")
    stop_scene
    fdur=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$work/f.mp4" 2>/dev/null || echo "$seconds")
    rates_kb="$(kbps "$work/q.mp4" "$qdur")/$(kbps "$work/f.mp4" "$fdur")"
    awk -v s="$scene" -v r="$fps" -v q="$q" -v f="$f" -v qd="$qdur" -v fd="$fdur" -v p="$produced" -v c="$counts" -v k="$rates_kb" 'BEGIN {
      qs = q / qd; fs = f / fd;
      printf "%-6s %4d %14.3f %14.3f %7.2f %9s%% %-15s %s\n", s, r, qs, fs, (fs > 0 ? qs / fs : 0), p, c, k }'
  done
done
