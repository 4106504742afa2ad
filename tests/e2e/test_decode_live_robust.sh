#!/usr/bin/env bash
# tavrel-decode --live --robust --json --first against the sound server's pipe source, fed a
# weak (+-6 steps), inverted, offset RF/32 tag twice with a pause: one line per
# presentation, each out within 0.5 s of the end of the frame that made it sure (the
# second of the presentation), and after SIGINT exit 0 with the output complete.
set -uo pipefail
source "$(dirname "$0")/capture_common.sh"
decode=$TAVREL_BUILD/cli/tavrel-decode
feeder=$TAVREL_BUILD/tests/e2e/tag_feed
work=$E2E_WORK/decode_live
mkdir -p "$work"
tag=8400043916
flags=invert,swing=6,offset=10,clock=32
frame=0.016384  # seconds of one RF/32 frame

fail() {
  echo "FAIL: $*" >&2
  echo "--- output (arrival time, line):" >&2
  cat "$work/out" >&2
  echo "--- stderr:" >&2
  cat "$work/err" >&2
  kill "$feed_pid" "$decode_pid" 2>/dev/null
  exit 1
}

lines_in() { [ "$(wc -l <"$2")" -ge "$1" ]; }
fed() { grep -q "^wall [0-9.]* $1\$" "$work/feed"; }

drain_source
rm -f "$work/pipe" && mkfifo "$work/pipe"
# Each line stamped with the time it arrives, so a line held in a buffer shows late.
while IFS= read -r line; do echo "$(date +%s.%N) $line"; done <"$work/pipe" >"$work/out" &
reader_pid=$!
"$decode" --live --robust --json --first >"$work/pipe" 2>"$work/err" &
decode_pid=$!
"$feeder" "$TAG_FIFO" silence:1 "tag:$tag:1:$flags" silence:1.5 "tag:$tag:1:$flags" \
  silence:0.8 silence:0.2 2>"$work/feed" &
feed_pid=$!

await 150 fed silence:0.2 || fail "the feed did not get through its steps"
await 20 lines_in 2 "$work/out" || fail "fewer than two lines"
kill -INT "$decode_pid"
await 50 ended "$decode_pid" || fail "no end within 5 s of SIGINT"
wait "$decode_pid"
status=$?
wait "$reader_pid"
kill "$feed_pid" 2>/dev/null
wait "$feed_pid" 2>/dev/null
[ "$status" -eq 0 ] || fail "exit status $status after SIGINT"

[ "$(wc -l <"$work/out")" -eq 2 ] || fail "not one line per presentation"
starts=($(sed -n "s/^wall \([0-9.]*\) tag:.*/\1/p" "$work/feed"))
n=0
while read -r arrived json; do
  echo "$json" | grep -q "\"id\":\"$tag\"" || fail "wrong ID in: $json"
  echo "$json" | grep -q '"clock":32' || fail "not RF/32: $json"
  echo "$json" | grep -q '"inverted":true' || fail "not inverted: $json"
  echo "$json" | grep -qE '"wall":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]{12}Z"' || fail "no wall time"
  delay=$(awk -v a="$arrived" -v s="${starts[$n]}" -v f=$frame 'BEGIN { printf "%.3f", a - s - 2 * f }')
  echo "   presentation $((n + 1)): line out $delay s after the frame end"
  awk -v d="$delay" 'BEGIN { exit !(d < 0.5 && d > -0.05) }' || fail "line $((n + 1)) late or early"
  n=$((n + 1))
done <"$work/out"
echo "   two presentations, two lines; SIGINT gave exit 0"
