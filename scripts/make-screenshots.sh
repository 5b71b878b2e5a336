#!/usr/bin/env bash
# Makes the README's screenshots of the desktop program: the main window, the
# settings window and the tray menu, in English and in Chinese, on a private
# virtual desktop. Run it after changing a window or a language file.
#
#   scripts/make-screenshots.sh [FOLDER]     (default docs/screenshots)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLET_BUILD_DIR:-$repo/build}
dest=${1:-$repo/docs/screenshots}
case "$dest" in /*) ;; *) dest=$PWD/$dest ;; esac
[ -x "$build/bin/quillet" ] || { echo "make-screenshots: build first (scripts/build.sh)" >&2; exit 2; }

if [ -z "${QUILLET_TEST_ENV:-}" ]; then
  exec bash "$repo/scripts/test-env.sh" -- bash "$0" "$dest"
fi

drive_repo=$repo
source "$repo/scripts/desktop-drive.sh"
drive_begin quillet-shots

# A copy of the program, so switching its language leaves the build alone.
mkdir -p "$work/bin/Language" "$dest"
cp "$build/bin/quillet" "$work/bin/"
cp "$repo/Language/english.ini" "$repo/Language/chinese.ini" "$work/bin/Language/"
drive_private_home "$work"
# A fixed output folder keeps the file box the same from run to run.
printf '[Quillet]\npath=/home/user/Videos/Screen/\n' >"$HOME/Documents/OrvikClass/Data.ini"
xsetroot -solid '#5a6e7f'
drive_start_tray

# Small palette images: the README carries them.
save() { convert "$1" -strip -colors 96 "PNG8:$2"; echo "make-screenshots: $2"; }

for lang in english chinese; do
  short=$([ $lang = english ] && echo en || echo zh)
  file=$work/bin/Language/$lang.ini
  printf '[Quillet]\nLanguage=%s.ini\n' "$lang" >"$work/bin/Language/sel.ini"
  title=$(drive_exact "$(drive_ini "$file" Quillet Title)")
  setup=$(drive_exact "$(drive_ini "$file" Setup Title)")

  "$work/bin/quillet" >/dev/null 2>&1 &
  pid=$!
  pids+=($pid)
  main=$(drive_wait_window "$title") || { echo "make-screenshots: no main window" >&2; exit 1; }
  drive_tray_icon >/dev/null || sleep 1
  xdotool windowmove "$main" 40 60
  sleep 0.5
  import -window "$main" "$work/main.png"
  save "$work/main.png" "$dest/main-$short.png"

  # Settings menu, first entry: the settings window.
  drive_click "$main" $(drive_centre kSettings)
  sleep 0.5
  xdotool key Down Return
  settings=$(drive_wait_window "$setup") || { echo "make-screenshots: no settings window" >&2; exit 1; }
  xdotool windowmove "$settings" 40 60
  sleep 0.5
  import -window "$settings" "$work/settings.png"
  save "$work/settings.png" "$dest/settings-$short.png"
  drive_keys "$settings" Escape
  sleep 0.3

  # The tray menu with its icon: the top right corner of the screen.
  icon=$(drive_tray_icon)
  # Opened from the icon's lower edge, the menu leaves the icon in sight.
  xdotool mousemove --window "$icon" 10 27 sleep 0.2 click 3
  sleep 0.8
  menu=""
  for w in $(xdotool search --onlyvisible --classname '^quillet$'); do
    [ "$w" = "$main" ] || [ "$w" = "$icon" ] && continue
    menu=$w
  done
  [ -n "$menu" ] || { echo "make-screenshots: the tray menu did not open" >&2; exit 1; }
  eval "$(xdotool getwindowgeometry --shell "$menu")"
  screen_w=$(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1]}')
  left=$((X - 12))
  import -window root -crop "$((screen_w - left))x$((Y + HEIGHT + 12))+$left+0" "$work/tray.png"
  save "$work/tray.png" "$dest/tray-$short.png"
  xdotool key Escape
  sleep 0.3

  "$work/bin/quillet" exit
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
done
