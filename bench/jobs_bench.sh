#!/usr/bin/env bash
# tavrel-decode -j 2 and -j 1 against no -j on many small files, measured in the same run,
# the three taking turns so that other load falls on each alike: -j must never make a
# command slower than decoding one file after the other.
#
#   bench/jobs_bench.sh [BUILD_DIR [FILES]]   (default build/release, 2000 files)
#
# Each file holds 0.3 s of one tag (28 kB); twenty different tags go round, so that output
# out of order would show in the check that all three commands write the same.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
files=${2:-2000}
if [ -z "${1:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target tavrel-decode tavrel-gen >/dev/null
fi
decode=$build/cli/tavrel-decode
gen=$build/cli/tavrel-gen

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for ((k = 0; k < 20; ++k)); do
  "$gen" -q -o "$work/tag$k.wav" -s 0.2 --gap 0.05 "$(printf %010X $((k + 1)))"
done
for ((i = 0; i < files; ++i)); do
  cp "$work/tag$((i % 20)).wav" "$work/f$(printf %05d "$i").wav"
done
rm "$work"/tag*.wav
cat "$work"/*.wav >/dev/null  # into the page cache

source bench/timing.sh

"$decode" --json "$work"/*.wav >"$work/plain.out" || true
for j in 1 2; do
  "$decode" --json -j $j "$work"/*.wav >"$work/j$j.out" || true
  cmp -s "$work/plain.out" "$work/j$j.out" || { echo "-j $j writes other output" >&2; exit 1; }
done

rounds=5
plain_us= j1_us= j2_us=
for ((r = 0; r < rounds; ++r)); do
  t=$(best_us 1 "$decode" "$work"/*.wav)
  if [ -z "$plain_us" ] || [ "$t" -lt "$plain_us" ]; then plain_us=$t; fi
  t=$(best_us 1 "$decode" -j 1 "$work"/*.wav)
  if [ -z "$j1_us" ] || [ "$t" -lt "$j1_us" ]; then j1_us=$t; fi
  t=$(best_us 1 "$decode" -j 2 "$work"/*.wav)
  if [ -z "$j2_us" ] || [ "$t" -lt "$j2_us" ]; then j2_us=$t; fi
done

awk -v n="$files" -v p="$plain_us" -v a="$j1_us" -v b="$j2_us" -v r="$rounds" \
  -v cores="$(nproc)" 'BEGIN {
  printf "%d files of 0.3 s, %d cores (best of %d rounds, same output from all three):\n", n, cores, r
  printf "  tavrel-decode FILES        %9.1f ms\n", p / 1000
  printf "  tavrel-decode -j 1 FILES   %9.1f ms\n", a / 1000
  printf "  tavrel-decode -j 2 FILES   %9.1f ms\n", b / 1000
  printf "  ratio -j 2 over no -j: %.2fx, -j 1 over no -j: %.2fx (goal: no slower, 5 %% allowed for noise: %s)\n", b / p, a / p,
    (b <= p * 1.05 ? "met" : "missed")
}'
