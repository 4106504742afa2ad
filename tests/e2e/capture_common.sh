# Shared by the capture tests (sourced, not run): feed the pattern, record, judge.

eval "$("$TAVREL_BUILD/tests/e2e/tag_feed" --facts)"  # sample_rate, block_frames

source "$(dirname "${BASH_SOURCE[0]}")/wait.sh"

# Reads away whatever an earlier test left queued in the pipe source, so that a
# recording starts with what is fed next.
drain_source() {
  timeout 1 arecord -q -D default -f U8 -c 2 -r "$sample_rate" -t raw >/dev/null 2>&1
  return 0
}

# Some program records from the sound server (PulseAudio, or PipeWire without it).
recording() {
  pactl list short source-outputs 2>/dev/null | grep -q . ||
    pw-dump 2>/dev/null | grep -q '"media.class": "Stream/Input/Audio"'
}

# capture_with_pattern OUT FEED COMMAND... : starts the recording first, then the
# pattern (so no stale sound comes before it), and waits for the recorder.
capture_with_pattern() {
  local out=$1 feed=$2
  shift 2
  timeout 90 "$@" >"$out" 2>&1 &
  local recorder=$! i
  for ((i = 0; i < 100; i++)); do
    recording && break
    kill -0 "$recorder" 2>/dev/null || break
    sleep 0.1
  done
  "$feed" "$TAG_FIFO" pattern:120 2>/dev/null &
  local feeder=$!
  wait "$recorder"
  local status=$?
  kill "$feeder" 2>/dev/null
  wait "$feeder" 2>/dev/null
  sed 's/^/   /' "$out"
  if [ "$status" -ne 0 ]; then
    echo "   recorder exited with $status"
    return 1
  fi
}

# check_capture_output OUT BLOCKS : every block full and on the pattern, the mean
# interval 225..275 ms with none above 700 ms, no capture message, released at the end.
check_capture_output() {
  local out=$1 blocks=$2
  tr -d '\r' <"$out" >"$out.unix"
  local full
  local line="^block [0-9]+: $block_frames samples, .*left\\[0\\]=[0-9]+( \\(settling\\))?\$"
  full=$(grep -cE "$line" "$out.unix")
  if [ "$full" -ne "$blocks" ]; then
    echo "   expected $blocks full blocks on the pattern, got $full"
    return 1
  fi
  if grep -qE 'ERROR|Wait timeout|invalid|driver|memory|prepared' "$out.unix"; then
    echo "   capture wrote a message"
    return 1
  fi
  if [ "$(tail -n 1 "$out.unix")" != "released" ]; then
    echo "   no clean release"
    return 1
  fi
  awk '/^intervals:/ { found = 1; mean = $3; max = $7 }
       END {
         ok = found && mean >= 225 && mean <= 275 && max <= 700
         if (!ok) print "   block timing off: mean " mean " max " max " ms"
         exit !ok
       }' "$out.unix"
}
