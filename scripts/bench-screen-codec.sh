#!/usr/bin/env bash
# Side-by-side benchmark of the screen codec "QVS2" against ffmpeg's ZMBV,
# FFV1 and lossless x264 (libx264rgb -qp 0), all single-threaded, on the same
# raw frames read by the ffmpeg command line as rawvideo:
#   1. the scripted desktop (a moving window, a menu that comes back,
#      scrolling text, a video-like picture), generated at 1920x1080;
#   2. a desktop session recorded from a private 1920x1080 virtual display (a
#      playing video, a window of scrolling text, a window dragged around).
#
#   scripts/bench-screen-codec.sh              # 100 frames of each at 15 fps
#   BENCH_FRAMES=60 scripts/bench-screen-codec.sh
#
# Prints bytes per frame and CPU milliseconds per frame for each coder (ffmpeg
# figures without its own cost of reading the raw frames, which is measured
# separately), and the screen decoder's CPU per frame with its real-time
# factor at 15 fps. Needs a finished build (QUILLET_BUILD_DIR, default build/).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$repo/build}
tool=$build/bin/screen_codec_compare
frames=${BENCH_FRAMES:-100}
fps=15
size=1920x1080

[ -x "$tool" ] || { echo "bench-screen-codec: $tool is missing; build first" >&2; exit 2; }
if [ -z "${QUILLET_BENCH_INNER:-}" ]; then
  QUILLET_BENCH_INNER=1 exec bash "$repo/scripts/test-env.sh" --size "$size" -- bash "$0" "$@"
fi

work=$(mktemp -d /tmp/quillet-screen-bench.XXXXXX)
pids=()
stop_scene() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done; pids=(); }
trap 'stop_scene; rm -rf "$work"' EXIT

cpu_of() { /usr/bin/time -f "%U %S" -o "$work/time" "$@" </dev/null >"$work/out" 2>&1; awk '{print $1 + $2}' "$work/time"; }

record_desktop() {
  local out=$1 font
  font=$(fc-match -f '%{file}' 'DejaVu Sans Mono' 2>/dev/null || true)
  seq 1 400 | awk '{ printf "%4d  static int frame_%d(const uint8_t* picture, size_t stride) { return width * height; }\n", $1, $1 }' \
    >"$work/page.txt"
  xsetroot -solid '#3a4a5a'
  ffplay -loglevel quiet -an -noborder -left 200 -top 150 -f lavfi -i 'testsrc2=s=640x360:r=25' &
  pids+=($!)
  ffplay -loglevel quiet -an -noborder -left 900 -top 600 -f lavfi \
    -i "color=c=white:s=800x300:r=25,drawtext=fontfile=$font:textfile=$work/page.txt:expansion=none:fontsize=14:fontcolor=black:x=8:y=8-t*50" &
  pids+=($!)
  ffplay -loglevel quiet -an -noborder -window_title mover -left 100 -top 650 -f lavfi -i 'smptebars=s=320x200:r=5' &
  pids+=($!)
  sleep 2
  # Drag the third window to and fro, 16 pixels every 100 ms.
  (x=100; step=16; while true; do
     xdotool search --name mover windowmove %@ "$x" 650 >/dev/null 2>&1 || true
     x=$((x + step)); { [ $x -gt 500 ] || [ $x -lt 100 ]; } && step=$((-step))
     sleep 0.1
   done) &
  pids+=($!)
  ffmpeg -nostdin -v error -y -f x11grab -framerate "$fps" -video_size "$size" -i "$DISPLAY" -frames:v "$frames" \
    -f rawvideo -pix_fmt bgr0 "$out"
  stop_scene
}

compare() { # name raw
  local name=$1 raw=$2 n base
  n=$(( $(stat -c %s "$raw") / (1920 * 1080 * 4) ))
  echo "== $name: $n frames of $size at $fps fps (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  for depth in 32 16; do
    "$tool" code "$size" "$fps" "$raw" "$depth"
  done
  local input=(-threads 1 -f rawvideo -pix_fmt bgr0 -video_size "$size" -framerate "$fps" -i "$raw")
  base=$(cpu_of ffmpeg -nostdin -v error -y "${input[@]}" -f null -)
  awk -v b="$base" -v n="$n" 'BEGIN { printf "ffmpeg reading the raw frames alone: %.2f cpu-ms/frame (taken off below)\n", b * 1000 / n }'
  while IFS='|' read -r label opts; do
    # shellcheck disable=SC2086
    c=$(cpu_of ffmpeg -nostdin -v error -y "${input[@]}" -threads 1 $opts -f avi "$work/out.avi")
    bytes=$(stat -c %s "$work/out.avi")
    awk -v l="$label" -v c="$c" -v b="$base" -v s="$bytes" -v n="$n" \
      'BEGIN { printf "%-22s bytes/frame=%.0f code-cpu-ms/frame=%.2f\n", l, s / n, (c - b) * 1000 / n }'
  done <<'EOF'
zmbv (-g 300)|-c:v zmbv -g 300
ffv1|-c:v ffv1
x264 lossless (-qp 0)|-c:v libx264rgb -qp 0 -g 300
EOF
}

"$tool" scene "$size" "$frames" "$work/scene.raw"
compare "scripted desktop" "$work/scene.raw"
rm -f "$work/scene.raw"
record_desktop "$work/desktop.raw"
compare "recorded desktop session" "$work/desktop.raw"
