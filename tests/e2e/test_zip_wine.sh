#!/usr/bin/env bash
# The Windows zip as a user gets it: unpacked into a bare folder, tavrel.exe starts
# from there under Wine and ends cleanly, and the how-to-start text is beside it.
set -u
source "$(dirname "$0")/program_lib.sh"
PROGRAM_NAME=zip
[ -f "$TAVREL_WINDOWS_BUILD/CPackConfig.cmake" ] || { echo "no Windows build"; exit 1; }
cpack --config "$TAVREL_WINDOWS_BUILD/CPackConfig.cmake" -G ZIP -B "$E2E_WORK/zip" >/dev/null ||
  fail "cpack -G ZIP failed"
bare=$E2E_WORK/bare
mkdir -p "$bare"
(cd "$bare" && python3 -m zipfile -e "$E2E_WORK"/zip/tavrel-*-windows.zip .) || fail "unzip"
folder=$(echo "$bare"/tavrel-*-windows)
listing=$(cd "$folder" && ls | tr '\n' ' ')
[ "$listing" = "LICENSE.txt README.txt tavrel.exe " ] || fail "zip holds: $listing"
grep -q 'tavrel.exe' "$folder/README.txt" || fail "README.txt does not say how to start"
PROGRAM="wine $folder/tavrel.exe"
drain_source  # sound an earlier test left queued would be read
start_program
feed silence:5
close_program 4
stop_feed
[ "$(od -An -c "$prog_out" | tr -d ' \n')" = '\n' ] || fail "unexpected output"
echo "  unpacked into a bare folder and ran under Wine"
