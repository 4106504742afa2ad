#!/usr/bin/env bash
# The Windows build of the capture (winmm, a named kernel event) under Wine, recording
# from the same pipe source: blocks of frames about every 250 ms carrying the fed
# pattern, then a clean stop and release.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/capture_common.sh"

exe=$TAVREL_WINDOWS_BUILD/tests/e2e/capture_smoke.exe
if [ ! -f "$exe" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "   SKIP: no Windows build or no Wine prefix"
  exit 0
fi
out=$E2E_WORK/capture_wine.out

# From a bare folder: the program must need no MinGW runtime beside it.
bare=$E2E_WORK/bare-capture
mkdir -p "$bare"
cp "$exe" "$bare/"

drain_source
# Wine's wave input may lose or repeat a few frames in its first two blocks; those are
# shown but not judged.
capture_with_pattern "$out" "$TAVREL_BUILD/tests/e2e/tag_feed" wine "$bare/capture_smoke.exe" 16 2 ||
  exit 1
check_capture_output "$out" 16 || exit 1
drain_source
