#!/usr/bin/env bash
# Installs a build into a scratch folder and checks the result the way a user
# meets it: the files in their places, the desktop entry and the icon valid,
# and the installed quillet-cli finding its language files beside itself.
# With --deb it also builds the Debian package, checks its dependencies and
# runs quillet-cli from the unpacked package.
#   scripts/check-install.sh [--deb] [BUILD_DIR]
set -euo pipefail
deb=0
if [ "${1:-}" = "--deb" ]; then deb=1; shift; fi
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "check-install: FAILED: $*" >&2; exit 1; }

root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
prog=$root/usr/lib/quillet

for f in usr/lib/quillet/quillet-cli usr/lib/quillet/Language/english.ini usr/lib/quillet/Language/chinese.ini \
         usr/share/icons/hicolor/scalable/apps/quillet.svg; do
  [ -f "$root/$f" ] || fail "missing /$f"
done
[ "$(readlink "$root/usr/bin/quillet-cli")" = "../lib/quillet/quillet-cli" ] || fail "/usr/bin/quillet-cli is not a link to the program"
if [ -x "$build/bin/quillet" ]; then
  [ -x "$prog/quillet" ] || fail "the desktop program was built but not installed"
  [ -L "$root/usr/bin/quillet" ] || fail "missing /usr/bin/quillet"
  desktop=$root/usr/share/applications/quillet.desktop
  [ -f "$desktop" ] || fail "missing the desktop entry"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
  fi
  grep -qx 'Exec=quillet' "$desktop" || fail "desktop entry does not start quillet"
fi
if command -v rsvg-convert >/dev/null; then
  rsvg-convert -w 48 -h 48 "$root/usr/share/icons/hicolor/scalable/apps/quillet.svg" -o "$work/icon.png" ||
    fail "the icon does not render"
  [ -s "$work/icon.png" ] || fail "the icon renders empty"
fi

# The installed program, started through its link, with a scratch home.
selfcheck() {
  local exe=$1 folder=$2 out
  mkdir -p "$work/home"
  out=$(cd / && HOME=$work/home XDG_CONFIG_HOME= "$exe" selfcheck) || { echo "$out"; fail "$exe selfcheck"; }
  grep -qF "program folder:   $folder/" <<<"$out" || { echo "$out"; fail "$exe does not run from $folder"; }
  grep -qF "language file:    $folder/Language/english.ini" <<<"$out" || { echo "$out"; fail "$exe misses its language files"; }
  grep -qx "selfcheck passed" <<<"$out" || { echo "$out"; fail "$exe selfcheck did not pass"; }
}
selfcheck "$root/usr/bin/quillet-cli" "$prog"

# A user who may not write the program's folder keeps the language choice
# with the settings. As root, try it as the unprivileged user "nobody".
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  command -v setpriv >/dev/null && id nobody >/dev/null 2>&1 && as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
fi
if [ "$(id -u)" -ne 0 ] || [ ${#as_user[@]} -gt 0 ]; then
  chmod 755 "$work"
  chmod a-w "$prog/Language"
  userhome=$work/userhome
  mkdir -p "$userhome/Documents/OrvikClass"
  printf '[Quillet]\nLanguage=chinese.ini\n' >"$userhome/Documents/OrvikClass/sel.ini"
  [ ${#as_user[@]} -gt 0 ] && chown -R nobody "$userhome"
  out=$(cd / && HOME=$userhome XDG_CONFIG_HOME= "${as_user[@]}" "$root/usr/bin/quillet-cli" selfcheck) ||
    { echo "$out"; fail "selfcheck as a user who cannot write $prog"; }
  grep -qF "language file:    $prog/Language/chinese.ini" <<<"$out" ||
    { echo "$out"; fail "the user's own language choice is not read"; }
  chmod u+w "$prog/Language"
fi
# With a display, the installed desktop program starts, shows its main window
# and ends when a second start asks it to.
if [ -x "$prog/quillet" ] && [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
  dhome=$work/desktophome
  mkdir -p "$dhome"
  (cd / && HOME=$dhome XDG_CONFIG_HOME= exec "$root/usr/bin/quillet") >"$work/quillet.log" 2>&1 &
  qpid=$!
  shown=0
  for _ in $(seq 150); do
    # All criteria must hold (xdotool's default is any), and its status says
    # nothing about a match: look at what it lists.
    if [ -n "$(xdotool search --all --pid "$qpid" --onlyvisible --name '^Quillet' 2>/dev/null)" ]; then shown=1; break; fi
    kill -0 "$qpid" 2>/dev/null || break
    sleep 0.1
  done
  [ $shown -eq 1 ] || { kill "$qpid" 2>/dev/null; cat "$work/quillet.log"; fail "the installed desktop program shows no window"; }
  (cd / && HOME=$dhome XDG_CONFIG_HOME= "$root/usr/bin/quillet" exit) || fail "quillet exit"
  for _ in $(seq 100); do kill -0 "$qpid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$qpid" 2>/dev/null; then kill "$qpid"; fail "the installed desktop program did not end on \"quillet exit\""; fi
  wait "$qpid" || fail "the installed desktop program ended with an error"
fi
echo "check-install: install tree good ($(find "$root" -type f | wc -l) files)"

if [ $deb -eq 1 ]; then
  (cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
  pkg=$(ls "$work"/pkg/quillet_*.deb | head -1)
  depends=$(dpkg-deb -f "$pkg" Depends)
  libs="libx264 libmp3lame0 libpulse0 libx11-6 libxdamage1 libxfixes3 libstdc++6"
  [ -x "$build/bin/quillet" ] && libs="$libs libqt6gui6 libqt6widgets6"
  for lib in $libs; do
    grep -q "$lib" <<<"$depends" || fail "package does not depend on $lib: $depends"
  done
  dpkg-deb -x "$pkg" "$work/unpacked"
  selfcheck "$work/unpacked/usr/bin/quillet-cli" "$work/unpacked/usr/lib/quillet"
  echo "check-install: package $(basename "$pkg") good; Depends: $depends"
fi
