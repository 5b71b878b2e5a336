#!/usr/bin/env bash
# Side-by-side recording benchmark: quillet-cli against ffmpeg's x11grab with
# libx264 set to the same encoder parameters, on a 1920x1080 virtual display
# (BENCH_SIZE=WxH for another size).
#
#   scripts/bench-record.sh            # 30 s per run, 15 and 25 fps, busy and still scenes
#   BENCH_SECONDS=10 scripts/bench-record.sh
#   BENCH_COMPARE=wmv BENCH_RATES=15 scripts/bench-record.sh   # quillet's WMV beside its MP4
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
trap 'stop_scene; rm -rf "$work"' EXIT
# shellcheck source=scripts/bench-scene.sh
source "$repo/scripts/bench-scene.sh"


# The x264 parameters of Quillet's H.264 wrapper, as ffmpeg options.
x264_opts() {
  local fps=$1
  echo "-c:v libx264 -threads 1 -qp 26 -bf 0 -coder 0 -refs 1 -me_method hex -subq 5 -8x8dct 0 \
    -weightp 0 -rc-lookahead 0 -mbtree 0 -sc_threshold 40 -g $((fps * 10)) -keyint_min $fps -pix_fmt yuv420p"
}

# Other work on the machine skews CPU times and the produced share; say how busy it was.
echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
# Each recording gets the scene started afresh, so that every recorder sees
# the same pictures from the same moment on (the text scrolls on, the video
# plays on).
#
# The recorder stretches a 1920x1080 screen to 1920x1088 pictures (its output
# sizes are multiples of 16), which ffmpeg does not; a stretched picture of
# moving text costs the encoder more. So ffmpeg is run twice: as it records
# by default, and scaled with bicubic to the recorder's picture size, which
# codes the same picture as the recorder (the like-for-like figure).
kbps() { local bytes; bytes=$(stat -c %s "$1" 2>/dev/null || echo 0); awk -v b="$bytes" -v d="$2" 'BEGIN { printf "%d", (d > 0 ? b * 8 / d / 1000 : 0) }'; }
duration() { ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1" 2>/dev/null || echo "$seconds"; }
ffmpeg_run() { # fps output [scale filter]
  local filter=()
  [ -n "${3:-}" ] && filter=(-vf "$3")
  start_scene "$scene"
  # shellcheck disable=SC2046
  cpu_of ffmpeg -v error -y -f x11grab -framerate "$1" -video_size "$size" -i "$DISPLAY" -t "$seconds" \
    "${filter[@]}" $(x264_opts "$1") "$2"
  stop_scene
}
# BENCH_COMPARE=wmv: the recorder's WMV output against its own MP4 of the same
# scene, each from a freshly started scene, instead of against ffmpeg.
produced_of() { sed -n 's/.*(\([0-9.]*\)%).*/\1/p' "$work/out" | tail -n1; }
if [ "${BENCH_COMPARE:-}" = wmv ]; then
  printf '%-6s %4s %9s %9s %6s %9s %9s %s\n' scene fps mp4 wmv ratio mp4_prod wmv_prod 'kbit/s (mp4/wmv)'
  for scene in $scenes; do
    for fps in $rates; do
      declare -A cpu prod kb
      for fmt in mp4 wmv; do
        start_scene "$scene"
        cpu[$fmt]=$(cpu_of "$cli" record -o "$work/q.$fmt" --seconds "$seconds" --fps "$fps" --sound off --no-countdown --yes)
        stop_scene
        prod[$fmt]=$(produced_of)
        d=$(duration "$work/q.$fmt")
        kb[$fmt]=$(kbps "$work/q.$fmt" "$d")
        cpu[$fmt]=$(awk -v c="${cpu[$fmt]}" -v d="$d" 'BEGIN { printf "%.3f", (d > 0 ? c / d : 0) }')
      done
      awk -v s="$scene" -v r="$fps" -v m="${cpu[mp4]}" -v w="${cpu[wmv]}" -v pm="${prod[mp4]}" -v pw="${prod[wmv]}" \
        -v k="${kb[mp4]}/${kb[wmv]}" 'BEGIN {
        printf "%-6s %4d %9.3f %9.3f %6.2f %8s%% %8s%% %s\n", s, r, m, w, (m > 0 ? w / m : 0), pm, pw, k }'
    done
  done
  exit 0
fi

printf '%-6s %4s %9s %9s %6s %9s %6s %9s %-9s %s\n' scene fps quillet ffmpeg ratio ffm_same ratio produced enc/count 'kbit/s (q/f/same)'
for scene in $scenes; do
  for fps in $rates; do
    start_scene "$scene"
    q=$(cpu_of "$cli" record -o "$work/q.mp4" --seconds "$seconds" --fps "$fps" --sound off --no-countdown --yes)
    stop_scene
    produced=$(sed -n 's/.*(\([0-9.]*\)%).*/\1/p' "$work/out" | tail -n1)
    # framesEncoded / framesCounted as the recorder printed them.
    counts=$(sed -n 's/^frames: \([0-9]*\) produced for \([0-9]*\) frame slots.*/\1\/\2/p' "$work/out" | tail -n1)
    qdur=$(duration "$work/q.mp4")
    picture=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$work/q.mp4")
    f=$(ffmpeg_run "$fps" "$work/f.mp4")
    fdur=$(duration "$work/f.mp4")
    if [ "$picture" != "$size" ]; then
      fs=$(ffmpeg_run "$fps" "$work/fs.mp4" "scale=${picture/x/:}:flags=bicubic")
      fsdur=$(duration "$work/fs.mp4")
    else
      fs=$f; fsdur=$fdur; cp "$work/f.mp4" "$work/fs.mp4"
    fi
    rates_kb="$(kbps "$work/q.mp4" "$qdur")/$(kbps "$work/f.mp4" "$fdur")/$(kbps "$work/fs.mp4" "$fsdur")"
    awk -v s="$scene" -v r="$fps" -v q="$q" -v f="$f" -v g="$fs" -v qd="$qdur" -v fd="$fdur" -v gd="$fsdur" \
      -v p="$produced" -v c="$counts" -v k="$rates_kb" 'BEGIN {
      qs = q / qd; fs = f / fd; gs = g / gd;
      printf "%-6s %4d %9.3f %9.3f %6.2f %9.3f %6.2f %8s%% %-9s %s\n", s, r, qs, fs, (fs > 0 ? qs / fs : 0), gs, (gs > 0 ? qs / gs : 0), p, c, k }'
  done
done
