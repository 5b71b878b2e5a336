#!/usr/bin/env bash
# Runs a command inside a private headless desktop: a virtual X display
# (1920x1080x24 on a free display number) and a PulseAudio daemon with a null
# "speaker" sink as the default sink and a stand-in microphone "mic" fed from
# the null sink "micfeed". Both are stopped when the command ends; the command's
# exit code is returned.
#
#   scripts/test-env.sh [--depth 16|24] [--size WxH] -- command args...
#
# Inside, DISPLAY, PULSE_SERVER and XDG_RUNTIME_DIR point at the private
# servers, and QUILLET_TEST_ENV=1 is set. Play into "speaker" for computer sound
# (its monitor is speaker.monitor); play into "micfeed" to speak into "mic".
set -uo pipefail

depth=24
size=1920x1080
while [ $# -gt 0 ]; do
  case "$1" in
    --depth) depth=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--depth D] [--size WxH] -- command..." >&2; exit 2; }

for tool in Xvfb pulseaudio pactl xdpyinfo; do
  command -v "$tool" >/dev/null || { echo "test-env: $tool is missing; run scripts/install-deps.sh" >&2; exit 2; }
done

dir=$(mktemp -d /tmp/quillet-env.XXXXXX)
chmod 700 "$dir"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$dir/run" ]; then
    XDG_RUNTIME_DIR="$dir/run" pulseaudio -k 2>/dev/null
  fi
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null
  done
  [ -f "$dir/pulse.pid" ] && kill -9 "$(cat "$dir/pulse.pid")" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- virtual display on a free number chosen by the server itself
exec 3>"$dir/display"
Xvfb -displayfd 3 -screen 0 "${size}x${depth}" -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
  [ -s "$dir/display" ] && break
  sleep 0.05
done
[ -s "$dir/display" ] || { echo "test-env: Xvfb did not start:" >&2; cat "$dir/xvfb.log" >&2; exit 2; }
export DISPLAY=":$(head -n1 "$dir/display")"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done

# --- private sound server
export XDG_RUNTIME_DIR="$dir/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
export PULSE_STATE_PATH="$dir/state"
export PULSE_RUNTIME_PATH="$XDG_RUNTIME_DIR/pulse"
cat >"$dir/test.pa" <<'PA'
load-module module-native-protocol-unix auth-anonymous=1
load-module module-null-sink sink_name=speaker rate=48000 channels=2 sink_properties=device.description=Speaker
load-module module-null-sink sink_name=micfeed rate=48000 channels=2 sink_properties=device.description=MicFeed
load-module module-remap-source source_name=mic master=micfeed.monitor source_properties=device.description=Microphone
set-default-sink speaker
set-default-source mic
PA
pulseaudio --daemonize=yes -n -F "$dir/test.pa" --exit-idle-time=-1 --use-pid-file=yes \
  --log-target="file:$dir/pa.log" >/dev/null 2>&1
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
pactl info >/dev/null 2>&1 || { echo "test-env: PulseAudio did not start:" >&2; cat "$dir/pa.log" >&2; exit 2; }
cp "$XDG_RUNTIME_DIR/pulse/pid" "$dir/pulse.pid" 2>/dev/null
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"

# An idle null sink runs with seconds of latency and swallows the first sound;
# low-latency readers keep both sources awake for the whole run.
parec --latency-msec=10 -d speaker.monitor >/dev/null 2>&1 &
pids+=($!)
parec --latency-msec=10 -d mic >/dev/null 2>&1 &
pids+=($!)

export QUILLET_TEST_ENV=1
echo "test-env: DISPLAY=$DISPLAY (${size}x${depth}), PULSE_SERVER=$PULSE_SERVER" >&2
"$@"
rc=$?
exit $rc
