#!/usr/bin/env bash
# tavrel-decode --live --plot-every 1 DIR against the sound server's pipe source, fed a tag:
# a picture of the last stretch appears after each second of input, 1600x900 PNG, under
# its final name only; SIGINT ends it with exit 0 (a tag was read).
set -uo pipefail
source "$(dirname "$0")/capture_common.sh"
decode=$TAVREL_BUILD/cli/tavrel-decode
feeder=$TAVREL_BUILD/tests/e2e/tag_feed
work=$E2E_WORK/decode_live_plot
rm -rf "$work" && mkdir -p "$work/pictures"

fail() {
  echo "FAIL: $*" >&2
  echo "--- pictures:" >&2
  ls -la "$work/pictures" >&2
  echo "--- stderr:" >&2
  cat "$work/err" >&2
  kill "$feed_pid" "$decode_pid" 2>/dev/null
  exit 1
}

exists() { [ -s "$1" ]; }

drain_source
"$decode" --live -q --plot-every 1 "$work/pictures" >/dev/null 2>"$work/err" &
decode_pid=$!
"$feeder" "$TAG_FIFO" tag:8400043916:4 silence:1 2>"$work/feed" &
feed_pid=$!

await 100 exists "$work/pictures/plot-000003.png" || fail "no third picture"
kill -INT "$decode_pid"
await 50 ended "$decode_pid" || fail "no end within 5 s of SIGINT"
wait "$decode_pid"
status=$?
kill "$feed_pid" 2>/dev/null
wait "$feed_pid" 2>/dev/null
[ "$status" -eq 0 ] || fail "exit status $status after SIGINT"
for n in 1 2 3; do
  size=$(identify -format '%wx%h' "$work/pictures/plot-00000$n.png") || fail "picture $n unreadable"
  [ "$size" = 1600x900 ] || fail "picture $n is $size"
done
[ ! -e "$work/pictures/.partial.png" ] || fail "a partial picture was left"
echo "   a picture per second of live input, 1600x900; SIGINT gave exit 0"
