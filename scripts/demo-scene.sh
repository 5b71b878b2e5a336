# Sourced by the demo scripts: a small moving scene on the (virtual) display
# and a test tone into the loudspeaker, so a recording shows motion in every
# second and has sound.
#   demo_scene_start WORK_DIR SECONDS   (appends the scene's process ids to pids)

demo_scene_start() {
  local work=$1 seconds=$2
  # A card window that wanders over a background changing colour.
  convert -size 360x200 xc:'#1d3557' -fill '#f1faee' -draw 'circle 100,100 100,40' \
    -fill '#e63946' -draw 'rectangle 190,50 320,150' "$work/card.png"
  display -title quillet-demo-card -geometry +100+100 "$work/card.png" &
  pids+=($!)
  (
    colours=('#264653' '#2a9d8f' '#e9c46a' '#f4a261' '#e76f51')
    i=0
    while :; do
      xsetroot -solid "${colours[$((i % 5))]}"
      win=$(xdotool search --name quillet-demo-card 2>/dev/null | head -n1 || true)
      if [ -n "$win" ]; then
        for step in $(seq 0 9); do
          xdotool windowmove "$win" $((100 + (i * 10 + step) * 37 % 1400)) $((100 + (i * 10 + step) * 23 % 700)) 2>/dev/null || true
          sleep 0.1
        done
      else
        sleep 1
      fi
      i=$((i + 1))
    done
  ) &
  pids+=($!)
  # A 440 Hz tone into the loudspeaker (the null sink "speaker"); the
  # computer's own sound, the last source of the list, records it.
  sox -n -r 48000 -c 2 "$work/tone.wav" synth $((seconds + 5)) sine 440 vol 0.4
  paplay -d speaker "$work/tone.wav" &
  pids+=($!)
}

# The index of the computer's own sound in the source list ("" when absent).
demo_computer_sound_index() {
  "$1" devices | awk '/speaker.monitor|own sound/ {print $1}' | tail -n1
}
