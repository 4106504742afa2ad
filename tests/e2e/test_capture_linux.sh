#!/usr/bin/env bash
# Capture through the ALSA wave-input layer from the sound server's pipe source: a block
# of frames about every 250 ms carrying the fed pattern, then a clean stop and
# release. Also runs the layer's own tests that need a live source.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/capture_common.sh"

out=$E2E_WORK/capture_linux.out
smoke=$TAVREL_BUILD/tests/e2e/capture_smoke
feed=$TAVREL_BUILD/tests/e2e/tag_feed

drain_source
capture_with_pattern "$out" "$feed" "$smoke" 16 || exit 1
check_capture_output "$out" 16 || exit 1

echo "   ALSA layer against the live source"
"$feed" "$TAG_FIFO" silence:1 2>/dev/null &
feeder=$!
TAVREL_LIVE_CAPTURE=1 timeout 60 "$TAVREL_BUILD/tests/capture/wavein_alsa_tests" \
  >"$E2E_WORK/wavein_alsa_tests.out" 2>&1
status=$?
kill "$feeder"
wait "$feeder" 2>/dev/null
grep -E '^\[  (PASSED|FAILED|SKIPPED) ' "$E2E_WORK/wavein_alsa_tests.out" | sed 's/^/   /'
drain_source
exit $status
