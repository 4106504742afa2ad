#!/usr/bin/env bash
# Two readers on one input: a stereo stream with one tag on each channel, read with
# --channel left,right: each tag is read by its own reader, named in its JSON ("reader":
# the channel, or the name --reader gives) and in its MQTT topic, and each reader has
# its Home Assistant discovery. Skipped, and said so, while tavrel-decode takes one
# channel only.
set -uo pipefail
source "$(dirname "$0")/wait.sh"
source "$(dirname "$0")/mosquitto.sh"
decode=$TAVREL_BUILD/cli/tavrel-decode
gen=$TAVREL_BUILD/cli/tavrel-gen
work=$E2E_WORK/decode_two_readers
rm -rf "$work" && mkdir -p "$work"
broker_pid=
recorder_pid=

refusal=$("$decode" --channel left,right --raw /dev/null 2>&1 >/dev/null)
if grep -q 'takes left or right' <<<"$refusal"; then
  echo "   SKIPPED: tavrel-decode does not take a list of channels yet"
  exit 0
fi

cleanup() {
  stop_recorder
  kill "$broker_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in out err carried; do
    echo "--- $f:" >&2
    cut -c1-200 "$work/$f" >&2
  done
  exit 1
}

carried=$work/carried
carries() { grep -qP "$1" "$carried"; }
recording() {
  mosquitto_pub -h 127.0.0.1 -p "$broker_port" -q 1 -t e2e/ready -m "$1" 2>/dev/null &&
    carries "e2e/ready\t$1\$"
}

make_broker "$work/broker"
start_broker || fail "mosquitto did not start"
record_broker "$carried"
await 50 recording "$$" || fail "the recorder did not subscribe"

# One tag on each channel at the same time, as two doors on one stereo input.
left=8400043916
right=1F0044DE9C
"$gen" -q -o "$work/left.raw" --channel left -s 2 "$left" || fail "tavrel-gen"
"$gen" -q -o "$work/right.raw" -s 2 "$right" || fail "tavrel-gen"
python3 - "$work/left.raw" "$work/right.raw" "$work/both.raw" <<'EOF' || fail "mixing"
import sys
left, right = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
both = bytearray(right)
both[0::2] = left[0::2]
open(sys.argv[3], "wb").write(both)
EOF

# CHANNELS, --reader (or -), and the two readers' names.
for row in "left,right - left right" "left,right front,back front back"; do
  read -r channels readers first second <<<"$row"
  names=()
  [ "$readers" = - ] || names=(--reader "$readers")
  prefix=e2e/$first
  "$decode" --raw --robust --json --first --channel "$channels" "${names[@]}" \
    --mqtt "mqtt://127.0.0.1:$broker_port/$prefix" - <"$work/both.raw" >"$work/out" 2>"$work/err" ||
    fail "exit status $? ($row)"
  for pair in "$first $left" "$second $right"; do
    read -r reader id <<<"$pair"
    [ "$(grep -c "\"reader\":\"$reader\"" "$work/out")" -eq 1 ] || fail "not one read by $reader"
    grep "\"reader\":\"$reader\"" "$work/out" | grep -q "\"id\":\"$id\"" || fail "$reader read another tag"
    await 50 carries "^0\t$prefix/$reader/scan\t.*\"id\":\"$id\"" || fail "no scan from $reader"
    carries "^\d\thomeassistant/tag/${prefix//\//_}_$reader/config\t.*\"topic\":\"$prefix/$reader/scan\"" ||
      fail "no discovery for $reader"
  done
  echo "   $row: one read and one scan per reader, each with its discovery"
done
