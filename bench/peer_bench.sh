#!/usr/bin/env bash
# tavrel-decode against a peer decoder, sigrok-cli's em4100 protocol decoder, on the same
# 60 s recording made with tavrel-gen: both decode times, their ratio, and a check that
# both find the same tags. Takes about 6 s once the release build is there.
#
#   bench/peer_bench.sh [BUILD_DIR]     (default build/release, built when missing)
#
# Needs sigrok-cli and sox (dev.sh installs both). Exits 1 when the two decoders find
# different tags; the speed targets are reported, not enforced, as they depend on the
# machine's load.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ -z "${1:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target tavrel-decode tavrel-gen tag_feed >/dev/null
fi
decode=$build/cli/tavrel-decode
gen=$build/cli/tavrel-gen
eval "$("$build/tests/e2e/tag_feed" --facts)"  # sample_rate, block_frames
for tool in sigrok-cli sox; do
  command -v $tool >/dev/null || { echo "peer_bench: $tool is missing (./dev.sh test installs it)" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Six tags of 9.8 s each with 0.2 s of silence before each and after the last (60.2 s),
# a little noise and edge jitter. The first data bit of 84... and C3... is 1, of the
# others 0. The silence matters: a tag cut off mid-frame and followed at once by another
# can give a window that passes every test, which Tavrel's sliding window would read.
ids="8400043916 0102030405 C3A5F00F11 0000000001 7FFFFFFFFF 1234567890"
"$gen" -o "$work/rec.wav" -s 9.8 --gap 0.2 --noise 0.02 --jitter 1 $ids
"$gen" -o "$work/short.wav" -s 1 --gap 0 --noise 0.02 --jitter 1 8400043916

# The peer reads logic levels: the right channel at the same rate, one byte per sample,
# bit 0 set when the sample lies above the middle level (128).
to_logic() {
  sox "$1" -t raw -e unsigned -b 8 -c 1 "$work/right.u8" remix 2
  LC_ALL=C tr '\000-\177\200-\377' '[\000*128][\001*128]' <"$work/right.u8" >"$2"
}
to_logic "$work/rec.wav" "$work/rec.bin"
to_logic "$work/short.wav" "$work/short.bin"

# A 1 bit is low then high here; the em4100 decoder calls that polarity active-low.
peer() {
  sigrok-cli -I binary:numchannels=1:samplerate=$sample_rate -i "$1" \
    -P em4100:data=0:polarity=active-low -A em4100=tag
}
ours() { "$decode" "$1"; }

source bench/timing.sh

ours_60=$(best_us 40 ours "$work/rec.wav")
ours_1=$(best_us 40 ours "$work/short.wav")
peer_60=$(best_us 3 peer "$work/rec.bin")
peer_1=$(best_us 3 peer "$work/short.bin")

# The tags each found, repeats of the same tag folded.
"$decode" --json "$work/rec.wav" | sed 's/.*"id":"\([0-9A-F]*\)".*/\1/' | uniq >"$work/ours.ids"
peer "$work/rec.bin" | sed -n 's/.*Tag: \([0-9A-F]*\).*/\1/p' | uniq >"$work/peer.ids"
ours_reads=$("$decode" --json "$work/rec.wav" | wc -l)
peer_reads=$(peer "$work/rec.bin" | grep -c 'Tag:' || true)

awk -v rate="$sample_rate" -v o60="$ours_60" -v o1="$ours_1" -v p60="$peer_60" -v p1="$peer_1" \
  -v oreads="$ours_reads" -v preads="$peer_reads" 'BEGIN {
  od = o60 - o1; pd = p60 - p1; if (od < 1) od = 1
  printf "60.2 s recording, %d samples/s, six tags (best of 40 runs, peer best of 3):\n", rate
  printf "  %-28s %11s %10s %16s %8s\n", "", "60.2 s", "1 s", "decoding 59.2 s", "reads"
  printf "  %-28s %8.1f ms %7.1f ms %13.1f ms %8d\n", "tavrel-decode", o60 / 1000, o1 / 1000, od / 1000, oreads
  printf "  %-28s %8.1f ms %7.1f ms %13.1f ms %8d\n", "sigrok-cli -P em4100", p60 / 1000, p1 / 1000, pd / 1000, preads
  printf "  ratio, whole command: %.0fx   decoding alone (60 s minus 1 s run): %.0fx\n", p60 / o60, pd / od
  printf "  goal whole command 150x faster: %s   decoding alone 100x: %s   whole 60 s under 50 ms: %s\n",
         (p60 / o60 >= 150 ? "met" : "missed"), (pd / od >= 100 ? "met" : "missed"),
         (o60 < 50000 ? "met" : "missed")
}'

if diff -u "$work/peer.ids" "$work/ours.ids" >"$work/ids.diff"; then
  echo "  same tags found by both: $(tr '\n' ' ' <"$work/ours.ids")"
else
  echo "peer_bench: the decoders found different tags (peer -, tavrel-decode +):" >&2
  cat "$work/ids.diff" >&2
  exit 1
fi
