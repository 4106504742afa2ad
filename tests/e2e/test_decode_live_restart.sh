#!/usr/bin/env bash
# tavrel-decode --live --robust --json --first outlives its sound server (a private
# PulseAudio of its own, beside the shared one):
#   - the server killed under it (a crash): "lost" on standard error within 5 s; the
#     server started again: "back", and the next tag is read;
#   - no server at the start: "cannot be opened"; the server starts: "open", a tag is read;
#   - Ctrl-C or SIGTERM ends it within a second, with the server up, gone or hung
#     (stopped with SIGSTOP, where the pulse plugin's close waits for seconds).
set -uo pipefail
source "$(dirname "$0")/capture_common.sh"
source "$(dirname "$0")/pulse.sh"
decode=$TAVREL_BUILD/cli/tavrel-decode
feeder=$TAVREL_BUILD/tests/e2e/tag_feed
work=$E2E_WORK/decode_live_restart
rm -rf "$work" && mkdir -p "$work/xdg" && chmod 700 "$work/xdg"
export XDG_RUNTIME_DIR=$work/xdg
pulse_pid=
feed_pid=
decode_pid=

cleanup() {
  kill -CONT "$pulse_pid" 2>/dev/null
  kill "$decode_pid" "$feed_pid" "$pulse_pid" 2>/dev/null
  wait 2>/dev/null
  await 50 ended "$pulse_pid"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in out err; do
    echo "--- $f:" >&2
    cat "$work/$f" >&2
  done
  exit 1
}

# Feeds the server's pipe with the steps given, then silence, in the background.
feed() {
  kill "$feed_pid" 2>/dev/null
  "$feeder" "$XDG_RUNTIME_DIR/tag.fifo" "$@" 2>>"$work/feed" &
  feed_pid=$!
}
# A crash of the server, and the end of its feeder.
crash_pulse() {
  kill -CONT "$pulse_pid" 2>/dev/null
  kill -KILL "$pulse_pid" "$feed_pid" 2>/dev/null
  wait "$feed_pid" 2>/dev/null
  await 50 ended "$pulse_pid" || fail "the sound server outlived SIGKILL"
}
said() { grep -q "$1" "$work/err"; }
read_id() { grep -q "\"id\":\"$1\"" "$work/out"; }
start_decode() {
  "$decode" --live --robust --json --first >"$work/out" 2>"$work/err" &
  decode_pid=$!
}

# Sends signal $1 and checks that the program ends within a second with status $2.
ends_within_a_second() {
  local start=$(date +%s%N)
  kill -"$1" "$decode_pid"
  await 10 ended "$decode_pid" || fail "still running 1 s after SIG$1 ($3)"
  wait "$decode_pid"
  local status=$?
  echo "   SIG$1 $3: ended after $((($(date +%s%N) - start) / 1000000)) ms, status $status"
  [ "$status" -eq "$2" ] || fail "exit status $status after SIG$1 ($3), not $2"
}

# The server crashes under a running reader and comes back.
start_pulse "$work/pulse.log" || fail "no sound server"
start_decode
feed silence:0.5 tag:8400043916:1.5
await 100 read_id 8400043916 || fail "the first tag was not read"
crash_pulse
await 50 said 'sound input "default" lost' || fail "no word of the lost input within 5 s"
start_pulse "$work/pulse.log" || fail "the sound server did not start again"
feed silence:0.5 tag:0102030405:1.5
await 150 said 'sound input "default" is back after' || fail "no word of the input's return"
await 50 read_id 0102030405 || fail "no read after the server came back"
ends_within_a_second INT 0 "after a restart"
[ "$(wc -l <"$work/out")" -eq 2 ] || fail "not one line per presentation"
echo "   $(grep -c . "$work/err") lines on stderr: $(tr '\n' '|' <"$work/err")"

# The reader starts before its server.
crash_pulse
start_decode
await 50 said 'sound input "default" cannot be opened' || fail "no word of the missing input"
start_pulse "$work/pulse.log" || fail "the sound server did not start"
feed silence:0.5 tag:1f0044de9c:1.5
await 150 said 'sound input "default" is open after' || fail "the input was not found"
await 50 read_id 1F0044DE9C || fail "no read once the server came"
ends_within_a_second TERM 0 "after a late server"

# Ctrl-C and SIGTERM at any point: with the server gone, and with it hung.
for row in "KILL TERM gone" "STOP INT hung"; do
  read -r how signal state <<<"$row"
  crash_pulse
  start_pulse "$work/pulse.log" || fail "no sound server"
  feed silence:0.5
  start_decode
  await 50 recording || fail "the reader did not start recording ($state)"
  kill -"$how" "$pulse_pid"
  await 60 said 'sound input "default" lost' || fail "no word of the lost input ($state)"
  ends_within_a_second "$signal" 1 "with the server $state"
done
