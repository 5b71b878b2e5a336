# Sourced by scripts that drive the desktop program from outside, as a user
# would (the desktop demo, the README screenshots): xdotool for clicks and
# keys, a tray host for the tray icon. Control places come from the program's
# own layout header, window titles from its language files.
#   drive_repo=REPO; source scripts/desktop-drive.sh

drive_layout="$drive_repo/app/desktop/MainWindowLayout.h"

# Makes a scratch folder ($work) and stops every process listed in pids, and
# removes the folder, when the script ends.
drive_begin() { # NAME
  pids=()
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  trap drive_end EXIT
}
drive_end() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}

# "X Y" of the centre of a main-window control (kStart, kPause, kSettings, ...).
drive_centre() {
  sed -n "s/.*constexpr Box $1{\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\)}.*/\1 \2 \3 \4/p" "$drive_layout" |
    awk '{print $1 + int($3 / 2), $2 + int($4 / 2)}'
}

# A value from an ini file: drive_ini FILE SECTION KEY (surrounding quotes removed).
drive_ini() {
  awk -v want="$2" -v key="$3" '
    /^\[/ { gsub(/[\[\]\r]/, ""); section = tolower($0); next }
    section == tolower(want) && index($0, key "=") == 1 {
      v = substr($0, length(key) + 2); gsub(/\r/, "", v); gsub(/^"|"$/, "", v); print v; exit }' "$1"
}

# An extended regular expression matching exactly the given text.
drive_exact() {
  printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\.*^$()+?{}|]/\\&/g')"
}

# Waits for a visible window named like the regex; prints its id.
drive_wait_window() {
  local regex=$1 tries=${2:-80} id
  for _ in $(seq "$tries"); do
    id=$(xdotool search --onlyvisible --name "$regex" 2>/dev/null | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

drive_click() { # WINDOW X Y [BUTTON]
  xdotool mousemove --window "$1" "$2" "$3" sleep 0.2 click "${4:-1}"
}

drive_keys() { # WINDOW KEYS...
  local w=$1; shift
  xdotool windowfocus --sync "$w" sleep 0.2 key "$@"
}

# The program's tray icon: its small window docked in the tray.
drive_tray_icon() {
  local w
  for w in $(xdotool search --onlyvisible --classname '^quillet$' 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$WIDTH" -le 48 ] && [ "$HEIGHT" -le 48 ]; then echo "$w"; return 0; fi
  done
  return 1
}

# Opens the tray menu (right click) and picks its n-th enabled entry (0 first).
drive_tray_entry() {
  local icon keys=()
  icon=$(drive_tray_icon) || return 1
  xdotool mousemove --window "$icon" 10 12 sleep 0.2 click 3
  sleep 0.7
  for _ in $(seq 0 "$1"); do keys+=(Down); done
  xdotool key "${keys[@]}" Return
}

drive_start_tray() {
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false --tint 0x303030 >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5
}

# Gives the program a home and a runtime folder of its own below WORK, so no
# real settings are touched: exports HOME and XDG_RUNTIME_DIR.
drive_private_home() {
  export HOME=$1/home XDG_RUNTIME_DIR=$1/run
  mkdir -p "$HOME/Documents/OrvikClass"
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"
}
