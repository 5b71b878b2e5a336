# The busy desktop the recording benchmarks share: a playing video region and
# a window of text scrolling at 50 pixels a second over a still desktop.
# Source it after setting `work` (a scratch folder); start_scene busy|still,
# stop_scene, cpu_of COMMAND. Needs ffplay and a display.

pids=()
# A player that ignores the polite signal (it happens under load) would hold the
# run for ever: it gets two seconds, then the hard one.
stop_scene() {
  local pid i
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for i in $(seq 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pids=()
}

# The scrolling text: 200 lines of code-like words from a fixed generator, so
# every run and every machine scrolls the same page.
awk 'BEGIN {
  split("int const return if for while static void uint8_t size_t auto std::vector frame picture width height stride {} ();", w, " ");
  x = 7;
  for (i = 0; i < 200; i++) {
    x = (x * 69069 + 1) % 4294967296; n = 3 + x % 9;
    x = (x * 69069 + 1) % 4294967296; line = substr("                ", 1, (x % 4) * 4);
    for (j = 0; j < n; j++) { x = (x * 69069 + 1) % 4294967296; line = line w[1 + x % 19] " " }
    print line
  }
}' >"$work/page.txt"
font=$(fc-match -f '%{file}' 'DejaVu Sans Mono' 2>/dev/null || true)

start_scene() {
  xsetroot -solid '#3a4a5a'
  if [ "$1" = busy ]; then
    ffplay -loglevel quiet -an -noborder -left 200 -top 150 -f lavfi -i 'testsrc2=s=640x360:r=25' &
    pids+=($!)
    ffplay -loglevel quiet -an -noborder -left 900 -top 600 -f lavfi \
      -i "color=c=white:s=800x300:r=25,drawtext=fontfile=$font:textfile=$work/page.txt:expansion=none:fontsize=14:fontcolor=black:x=8:y=8-t*50" &
    pids+=($!)
    sleep 1.5
  fi
}

# CPU seconds (user + system) of a command, from /proc accounting of its
# process tree via GNU time; its output goes to $work/out.
cpu_of() { /usr/bin/time -f '%U %S' -o "$work/time" "$@" >"$work/out" 2>&1 || true; awk '{print $1 + $2}' "$work/time"; }
