#!/usr/bin/env bash
# Side-by-side recording benchmark: quillet-cli against ffmpeg's x11grab with
# libx264 set to the same encoder parameters, on a 1920x1080 virtual display
# (BENCH_SIZE=WxH for another size).
#
#   scripts/bench-record.sh            # 30 s per run, 15 and 25 fps, busy and still scenes
#   BENCH_SECONDS=10 scripts/bench-record.sh
#   BENCH_BASELINE_CLI=/path/to/older/quillet-cli scripts/bench-record.sh
#   BENCH_BASELINE_FIRST=1 ...          # the baseline records before quillet-cli
#   BENCH_COMPARE=wmv BENCH_RATES=15 scripts/bench-record.sh   # quillet's WMV beside its MP4
#
# Reports, for every recorder and frame rate: CPU seconds (user + system) per
# recorded second, the ratio to ffmpeg coding the same picture size, frames
# produced / frame slots and CPU milliseconds per produced frame. For
# quillet-cli (and a baseline build given by BENCH_BASELINE_CLI, recorded in
# the same run from the same scene) it then prints histograms of how late the
# video thread's ticks started and how long they ran, from the tick trace the
# recorder writes when QUILLET_TICK_TRACE names a file. Needs a finished build
# (QUILLET_BUILD_DIR, default build/). Runs inside scripts/test-env.sh.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$repo/build}
cli=$build/bin/quillet-cli
baseline=${BENCH_BASELINE_CLI:-}
seconds=${BENCH_SECONDS:-30}
rates=${BENCH_RATES:-"15 25"}
scenes=${BENCH_SCENES:-"busy still"}
# Display size; other sizes are for diagnosis (the reported figures use 1920x1080).
size=${BENCH_SIZE:-1920x1080}

[ -x "$cli" ] || { echo "bench-record: $cli is missing; build first" >&2; exit 2; }
[ -z "$baseline" ] || [ -x "$baseline" ] || { echo "bench-record: $baseline is not a program" >&2; exit 2; }
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
  # -stats keeps the progress line (frames written, and dup= for frames it
  # repeated because a capture came late) under -v error.
  # shellcheck disable=SC2046
  cpu_of ffmpeg -v error -stats -y -f x11grab -framerate "$1" -video_size "$size" -i "$DISPLAY" -t "$seconds" \
    "${filter[@]}" $(x264_opts "$1") "$2"
  stop_scene
}
# Frames ffmpeg captured itself / frames it wrote, from its last progress line.
ffmpeg_counts() {
  tr '\r' '\n' <"$work/out" | grep 'frame=' | tail -n1 | awk '{
    line = $0; f = 0; d = 0
    if (match(line, /frame= *[0-9]+/)) { s = substr(line, RSTART, RLENGTH); sub(/frame= */, "", s); f = s + 0 }
    if (match(line, /dup= *[0-9]+/)) { s = substr(line, RSTART, RLENGTH); sub(/dup= */, "", s); d = s + 0 }
    printf "%d/%d", f - d, f }'
}
# Records with a quillet-cli build; leaves its summary in $work/out and its
# tick trace in $work/trace-<label>-<scene>-<fps>.txt.
quillet_run() { # label program fps output
  local trace="$work/trace-$1-$scene-$3.txt"
  start_scene "$scene"
  QUILLET_TICK_TRACE=$trace cpu_of "$2" record -o "$4" --seconds "$seconds" --fps "$3" --sound off --no-countdown --yes
  stop_scene
}
# framesEncoded/framesCounted as the recorder printed them.
quillet_counts() { sed -n 's/^frames: \([0-9]*\) produced for \([0-9]*\) frame slots.*/\1\/\2/p' "$work/out" | tail -n1; }
row() { # scene fps recorder cpu file counts ffmpeg-same-cpu-per-second
  local dur; dur=$(duration "$5")
  awk -v s="$1" -v r="$2" -v n="$3" -v c="$4" -v d="$dur" -v k="$(kbps "$5" "$dur")" -v p="$6" -v g="$7" \
    -v slots="$((seconds * $2))" 'BEGIN {
    split(p, a, "/"); produced = a[1] + 0;
    per = (d > 0 ? c / d : 0);
    printf "%-6s %4d %-9s %8.3f %6s %10s %6.1f%% %9.2f %8s\n", s, r, n, per,
      (g > 0 ? sprintf("%.2f", per / g) : "-"), produced "/" slots, (slots > 0 ? 100 * produced / slots : 0),
      (produced > 0 ? 1000 * c / produced : 0), k }'
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

printf '%-6s %4s %-9s %8s %6s %10s %7s %9s %8s\n' scene fps recorder 'cpu/s' 'ratio' 'produced' 'share' 'cpu ms/fr' 'kbit/s'
for scene in $scenes; do
  for fps in $rates; do
    # BENCH_BASELINE_FIRST=1 records the baseline first, to tell the order's
    # effect (other work on the machine) from the builds'.
    if [ -n "$baseline" ] && [ -n "${BENCH_BASELINE_FIRST:-}" ]; then
      quillet_run baseline "$baseline" "$fps" "$work/b.mp4" >/dev/null
      b=$(awk '{print $1 + $2}' "$work/time"); bc=$(quillet_counts)
    fi
    quillet_run quillet "$cli" "$fps" "$work/q.mp4" >/dev/null
    q=$(awk '{print $1 + $2}' "$work/time"); qc=$(quillet_counts)
    picture=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$work/q.mp4")
    if [ -n "$baseline" ] && [ -z "${BENCH_BASELINE_FIRST:-}" ]; then
      quillet_run baseline "$baseline" "$fps" "$work/b.mp4" >/dev/null
      b=$(awk '{print $1 + $2}' "$work/time"); bc=$(quillet_counts)
    fi
    f=$(ffmpeg_run "$fps" "$work/f.mp4"); fc=$(ffmpeg_counts)
    if [ "$picture" != "$size" ]; then
      fs=$(ffmpeg_run "$fps" "$work/fs.mp4" "scale=${picture/x/:}:flags=bicubic"); fsc=$(ffmpeg_counts)
    else
      fs=$f; fsc=$fc; cp "$work/f.mp4" "$work/fs.mp4"
    fi
    same=$(awk -v c="$fs" -v d="$(duration "$work/fs.mp4")" 'BEGIN { printf "%.6f", (d > 0 ? c / d : 0) }')
    row "$scene" "$fps" quillet "$q" "$work/q.mp4" "$qc" "$same"
    [ -z "$baseline" ] || row "$scene" "$fps" baseline "$b" "$work/b.mp4" "$bc" "$same"
    row "$scene" "$fps" ffmpeg "$f" "$work/f.mp4" "$fc" "$same"
    [ "$picture" = "$size" ] || row "$scene" "$fps" ffm-same "$fs" "$work/fs.mp4" "$fsc" "$same"
  done
done
echo "(produced: frames really captured / frame slots of the run; for quillet framesEncoded of all"
echo " framesCounted slots, for ffmpeg frames written less those it repeated (dup=) of fps x seconds."
echo " ratio: cpu/s against ffmpeg coding quillet's picture size. Quillet pictures: $picture.)"

# Histograms of the video thread's ticks, from the recorders' tick traces.
echo
echo "tick traces: lateness = ms a tick started after it was due; duration = ms the tick ran"
for trace in "$work"/trace-*.txt; do
  [ -s "$trace" ] || continue
  name=$(basename "$trace" .txt); name=${name#trace-}
  awk -v name="$name" '
    /^#/ { next }
    { n++; late = $1; dur = $2; adv = $3
      lb = (late == 0 ? 0 : late <= 1 ? 1 : late <= 2 ? 2 : late <= 5 ? 3 : late <= 10 ? 4 : late <= 20 ? 5 : 6)
      db = (dur <= 10 ? 0 : dur <= 20 ? 1 : dur <= 30 ? 2 : dur <= 40 ? 3 : dur <= 60 ? 4 : dur <= 100 ? 5 : 6)
      L[lb]++; D[db]++; if (adv > 0) frames++; if (adv > 1) multi++; lsum += late; dsum += dur }
    END {
      if (n == 0) exit
      split("0 1 2 3-5 6-10 11-20 >20", ln, " "); split("0-10 11-20 21-30 31-40 41-60 61-100 >100", dn, " ")
      printf "%-22s ticks %5d  frames %5d  covering >1 slot %4d  mean lateness %.1f  mean duration %.1f\n", name, n, frames, multi, lsum / n, dsum / n
      printf "%-22s lateness ", ""; for (i = 0; i < 7; i++) printf "%s:%d ", ln[i + 1], L[i]; printf "\n"
      printf "%-22s duration ", ""; for (i = 0; i < 7; i++) printf "%s:%d ", dn[i + 1], D[i]; printf "\n" }' "$trace"
done
