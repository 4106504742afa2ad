#!/usr/bin/env bash
# Starts the real parts the end-to-end tests talk to, once for all of them:
#   - an X server (Xvfb), exported as DISPLAY
#   - a private PulseAudio whose default input is a pipe source; TAG_FIFO is the pipe,
#     fed with tests/e2e programs (tag_feed)
#   - a Wine prefix (WINEPREFIX) for the Windows build, when that build exists
# then runs every tests/e2e/test_*.sh (only test_$E2E_ONLY*.sh when E2E_ONLY is set) and
# prints "e2e: N passed, N failed"; any failure fails the run, and the servers' logs are
# shown.
# Environment for the scripts: TAVREL_BUILD (Linux build dir), TAVREL_WINDOWS_BUILD
# (mingw build dir, may be absent), E2E_WORK (a scratch folder), TAG_FIFO, DISPLAY,
# XDG_RUNTIME_DIR, WINEPREFIX.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
export TAVREL_BUILD=${TAVREL_BUILD:-$root/build/dev}
export TAVREL_WINDOWS_BUILD=${TAVREL_WINDOWS_BUILD:-$root/build/windows}
export E2E_WORK
E2E_WORK=$(mktemp -d /tmp/tavrel-e2e.XXXXXX)
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && WINEPREFIX=$WINEPREFIX wineserver -k 2>/dev/null
  rm -rf "$E2E_WORK"
}
trap cleanup EXIT

source "$(dirname "$0")/wait.sh"

# X server, on a display number nobody else holds.
source "$(dirname "$0")/xvfb.sh"
unset DISPLAY
start_xvfb 1024x768 "$E2E_WORK/xvfb.log" && pids+=("$xvfb_pid")
[ -n "${DISPLAY:-}" ] || { echo "e2e: no X server" >&2; exit 1; }

# Sound server in the sound input's format; it creates the pipe itself.
eval "$("$TAVREL_BUILD/tests/e2e/tag_feed" --facts)"  # sample_rate, block_frames
export XDG_RUNTIME_DIR=$E2E_WORK/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
export TAG_FIFO=$XDG_RUNTIME_DIR/tag.fifo
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  -L module-native-protocol-unix -L "module-null-sink sink_name=out" \
  -L "module-pipe-source source_name=tag file=$TAG_FIFO format=u8 rate=$sample_rate channels=2" \
  -L module-always-sink >"$E2E_WORK/pulse.log" 2>&1 &
pids+=($!)
await 200 quiet pactl info || { echo "e2e: gave up waiting for: pactl info" >&2; exit 1; }
pactl set-default-source tag

# Wine, only for a Windows build.
if [ -d "$TAVREL_WINDOWS_BUILD" ]; then
  export WINEPREFIX=$E2E_WORK/wine WINEDEBUG=-all
  # No Mono or Gecko: their install prompts would wait for a click that never comes.
  WINEDLLOVERRIDES="mscoree,mshtml=" timeout 300 wineboot -i >"$E2E_WORK/wineboot.log" 2>&1 ||
    echo "e2e: wineboot failed" >&2
fi

passed=0
failed=0
for t in "$here"/test_${E2E_ONLY:-}*.sh; do
  [ -e "$t" ] || continue
  name=$(basename "$t" .sh)
  echo "-- $name"
  if bash "$t"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "-- $name FAILED"
  fi
done
if [ "$failed" -gt 0 ]; then
  for log in xvfb pulse; do
    echo "--- $log.log (last lines)"
    tail -n 15 "$E2E_WORK/$log.log"
  done
fi
echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
