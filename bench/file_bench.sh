#!/usr/bin/env bash
# tavrel-decode --raw on a long recording against cat of the same file, both reading it
# from the page cache, measured in the same run: how close decoding comes to the cost of
# merely reading the file.
#
#   bench/file_bench.sh [BUILD_DIR [SECONDS]]   (default build/release, 3600 s)
#
# The recording (at the sound input's rate, 8-bit stereo, six tags, noise and edge
# jitter) takes 96 kB per second on disk: 346 MB for the hour. CI runs it at a smaller size.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-3600}
if [ -z "${1:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target tavrel-decode tavrel-gen tag_feed >/dev/null
fi
decode=$build/cli/tavrel-decode
gen=$build/cli/tavrel-gen
eval "$("$build/tests/e2e/tag_feed" --facts)"  # sample_rate, block_frames

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ids="8400043916 0102030405 C3A5F00F11 0000000001 7FFFFFFFFF 1234567890"
each=$(awk -v s="$seconds" 'BEGIN { printf "%.3f", s / 6 - 0.2 }')
"$gen" -o "$work/rec.raw" -s "$each" --gap 0.2 --noise 0.02 --jitter 1 $ids
cat "$work/rec.raw" >/dev/null  # into the page cache

source bench/timing.sh

runs=7
cat_us=$(best_us $runs cat "$work/rec.raw")
decode_us=$(best_us $runs "$decode" --raw "$work/rec.raw")
reads=$("$decode" --raw "$work/rec.raw" | tr '\r' '\n' | grep -c . || true)
bytes=$(stat -c %s "$work/rec.raw")

awk -v rate="$sample_rate" -v c="$cat_us" -v d="$decode_us" -v s="$seconds" -v b="$bytes" -v r="$runs" -v n="$reads" 'BEGIN {
  printf "%s s recording, %.0f MB, %d/s 8-bit stereo, six tags (best of %d runs):\n", s, b / 1e6, rate, r
  printf "  cat FILE >/dev/null              %9.1f ms  %7.0f MB/s\n", c / 1000, b / c
  printf "  tavrel-decode --raw FILE         %9.1f ms  %7.0f MB/s  %d log lines\n", d / 1000, b / d, n
  printf "  ratio tavrel-decode over cat: %.2fx (goal at most 2x: %s)\n", d / c, (d / c <= 2 ? "met" : "missed")
}'
