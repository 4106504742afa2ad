#!/usr/bin/env bash
# A soak of the headless reader, tavrel-decode --live --robust --json --first, against a
# private PulseAudio whose default input is a pipe fed in real time, with the server
# killed (as in a crash) and started again in the middle:
#   - presentations of the real EM4100 captures (tests/data/real), each as captured and
#     weak, offset, inverted, clipped and in noise down to 3 dB SNR, with pauses of
#     silence, white noise of three levels and a steady 2.8 kHz tone with an offset
#     between them;
#   - every read matched to the presentation it falls in (from its start to 1 s after its
#     end): reads, misses, wrong IDs, and false reads in the stretches without a tag;
#   - memory (resident after a minute and at the end, and the peak) and processor time
#     from /proc, against arecord reading the same input over the same time (a capture
#     client that does nothing with the samples), measured in the same run.
#
#   bench/live_soak.sh [BUILD_DIR [SECONDS]]   (default build/release, 600 s)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-600}
if [ -z "${1:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target tavrel-decode tag_feed >/dev/null
fi
decode=$build/cli/tavrel-decode
feeder=$build/tests/e2e/tag_feed
for tool in pulseaudio pactl arecord python3; do
  command -v $tool >/dev/null || { echo "live_soak: $tool is missing (./dev.sh test installs it)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/tavrel-soak.XXXXXX)
export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
  kill -CONT "${pulse_pid:-}" 2>/dev/null || true
  for pid in "${pids[@]}" "${pulse_pid:-}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source tests/e2e/wait.sh
source tests/e2e/pulse.sh
wait_for() {
  await "$1" quiet "${@:2}" || { echo "live_soak: gave up waiting for: ${*:2}" >&2; exit 1; }
}

# The two halves of the input as recordings, and what each stretch of them holds.
python3 - "$work" "$seconds" tests/data/real <<'EOF'
import json, math, os, random, re, sys
work, seconds, real = sys.argv[1], float(sys.argv[2]), sys.argv[3]
rate = 48000
rng = random.Random(7)
tags = {}
for name in sorted(os.listdir(real)):
    # The EM4100 captures, named by their ID; the other families' are named otherwise.
    if re.fullmatch(r"[a-z0-9]+_[0-9a-f]{10}(_[a-z]+)?_48k_u8x2\.raw", name):
        right = open(os.path.join(real, name), "rb").read()[1::2]
        tags[name.split("_")[1].upper()] = [v - 128 for v in right[rate // 2:]]  # 1 s of tag
# Noise is set against each capture's own power: a decaying capture holds far less than a
# square wave of the same swing.
rms = {tag: math.sqrt(sum(s * s for s in signal) / len(signal)) for tag, signal in tags.items()}

def clip(v):
    return 0 if v < 0 else 255 if v > 255 else int(round(v))

# How a presentation reaches the input: scale, offset, noise SNR in dB (None: none).
conditions = [("as captured", 1, 0, None), ("inverted", -1, 0, None), ("weak", 0.1, 0, None),
              ("offset", 0.5, 35, None), ("clipped", 3, 10, None), ("noise 10 dB", 1, 0, 10),
              ("noise 6 dB", 1, 0, 6), ("noise 3 dB", 1, 0, 3), ("weak in noise 10 dB", 0.2, -10, 10)]

def presentation(signal, rms, scale, offset, snr):
    sd = 0 if snr is None else abs(scale) * rms / 10 ** (snr / 20)
    length = int(rate * rng.uniform(0.6, 1.0))
    start = rng.randrange(0, len(signal) - length)
    return [clip(128 + offset + scale * s + (rng.gauss(0, sd) if sd else 0))
            for s in signal[start:start + length]]

def pause(kind, length):
    if kind == "silence":
        return [128] * length
    if kind.startswith("noise"):
        sd = float(kind.split()[1])
        return [clip(128 + rng.gauss(0, sd)) for _ in range(length)]
    return [clip(133 + 40 * math.sin(2 * math.pi * 2804 * i / rate)) for i in range(length)]

pauses = ["silence", "silence", "noise 5", "noise 20", "noise 60", "tone 2804 Hz"]
half = seconds / 2
stretches = []
for part in (0, 1):
    samples, at = bytearray(), 0
    while at < half * rate:
        kind = rng.choice(pauses)
        gap = pause(kind, int(rate * rng.uniform(1, 4 if kind == "silence" else 6)))
        stretches.append({"part": part, "start": at / rate, "end": (at + len(gap)) / rate,
                          "tag": None, "what": kind})
        samples += bytes(v for g in gap for v in (128, g))
        at += len(gap)
        tag = rng.choice(sorted(tags))
        what, scale, offset, snr = rng.choice(conditions)
        p = presentation(tags[tag], rms[tag], scale, offset, snr)
        stretches.append({"part": part, "start": at / rate, "end": (at + len(p)) / rate,
                          "tag": tag, "what": what})
        samples += bytes(v for s in p for v in (128, s))
        at += len(p)
    samples += bytes([128]) * (2 * rate)  # a second of silence ends each half
    open(f"{work}/part{part}.raw", "wb").write(samples)
json.dump(stretches, open(f"{work}/stretches.json", "w"))
EOF

ticks=$(getconf CLK_TCK)
cpu() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }  # utime + stime
# arecord ends with its server: its last reading is kept.
declare -A arecord_ticks
record_arecord() {
  local pid
  for pid in "${!arecord_ticks[@]}"; do
    [ -e "/proc/$pid/stat" ] && arecord_ticks[$pid]=$(cpu "$pid")
  done
  return 0
}
start_arecord() {
  arecord -q -D default -f U8 -c 2 -r 48000 -t raw /dev/null 2>/dev/null &
  pids+=($!)
  arecord_ticks[$!]=0
}
feed_part() {
  "$feeder" --stop "$XDG_RUNTIME_DIR/tag.fifo" "file:$work/part$1.raw" 2>>"$work/feed" &
  feed_pid=$!
  pids+=($feed_pid)
}

start_pulse "$work/pulse.log" || { echo "live_soak: no sound server" >&2; exit 1; }
"$decode" --live --robust --json --first >"$work/reads" 2>"$work/messages" &
prog=$!
pids+=($prog)
wait_for 100 sh -c "pactl list short source-outputs | grep -q ."
start_arecord
wait_for 100 sh -c "[ \$(pactl list short source-outputs | wc -l) -ge 2 ]"
start=$(date +%s%N)
p0=$(cpu $prog)

# The halves, with the crash and restart of the server between them.
samples=()
for part in 0 1; do
  feed_part $part
  while ! ended "$feed_pid"; do
    sleep 1
    record_arecord
    kill -0 $prog 2>/dev/null || { echo "live_soak: tavrel-decode ended early" >&2; exit 1; }
    samples+=("$(awk '/^VmRSS/ { print $2 }' /proc/$prog/status)")
  done
  if [ $part -eq 0 ]; then
    restart=$(date +%s.%N)
    kill -KILL "$pulse_pid"
    await 50 ended "$pulse_pid"
    wait_for 50 grep -q 'lost' "$work/messages"
    start_pulse "$work/pulse.log" || { echo "live_soak: the server did not start again" >&2; exit 1; }
    start_arecord
  fi
done
record_arecord
p1=$(cpu $prog)
end=$(date +%s%N)
peak=$(awk '/^VmHWM/ { print $2 }' /proc/$prog/status)
kill -INT $prog
wait_for 10 ended $prog
a=0
for pid in "${!arecord_ticks[@]}"; do a=$((a + arecord_ticks[$pid])); done

python3 - "$work" "$restart" "$((p1 - p0))" "$a" "$ticks" "$(((end - start) / 1000000))" "$peak" \
  "${samples[*]}" <<'EOF'
import json, re, sys
work, restart, prog, arec, hz, ms, peak, rss = sys.argv[1:9]
stretches = json.load(open(f"{work}/stretches.json"))
starts = {}
for line in open(f"{work}/feed"):
    m = re.match(r"wall (\S+) file:.*part(\d)\.raw", line)
    if m:
        starts[int(m.group(2))] = float(m.group(1))
import calendar
from datetime import datetime
def unix(wall):
    t = datetime.strptime(wall, "%Y-%m-%dT%H:%M:%S.%fZ")
    return calendar.timegm(t.timetuple()) + t.microsecond / 1e6
for s in stretches:
    s["t0"], s["t1"] = starts[s["part"]] + s["start"], starts[s["part"]] + s["end"]
    s["reads"] = []
tagged = [s for s in stretches if s["tag"]]
wrong = false = 0
false_kinds = {}
for line in open(f"{work}/reads"):
    read = json.loads(line)
    t = unix(read["wall"])
    home = [s for s in tagged if s["t0"] - 0.05 <= t <= s["t1"] + 1.0]
    if not home:
        false += 1
        kind = [s["what"] for s in stretches if s["t0"] <= t <= s["t1"]]
        false_kinds[kind[0] if kind else "?"] = false_kinds.get(kind[0] if kind else "?", 0) + 1
        continue
    s = home[0]
    if read["id"] == s["tag"]:
        s["reads"].append(read)
    else:
        wrong += 1
reads = sum(1 for s in tagged if s["reads"])
extra = sum(len(s["reads"]) - 1 for s in tagged if len(s["reads"]) > 1)
extra_kinds = {}
for s in tagged:
    if len(s["reads"]) > 1:
        extra_kinds[s["what"]] = extra_kinds.get(s["what"], 0) + len(s["reads"]) - 1
missed = {}
for s in tagged:
    if not s["reads"]:
        missed[s["what"]] = missed.get(s["what"], 0) + 1
quiet = sum(s["t1"] - s["t0"] for s in stretches if not s["tag"])
hz, prog, arec, wall = int(hz), int(prog) / int(hz), int(arec) / int(hz), int(ms) / 1000
rss = [int(v) for v in rss.split()]
messages = open(f"{work}/messages").read().strip().splitlines()
print(f"{wall:.0f} s of live input, the sound server killed and started again at the half:")
for m in messages:
    print(f"  stderr: {m}")
print(f"  presentations  {len(tagged)} of {len(set(c['tag'] for c in tagged))} real tags in "
      f"{len(set(c['what'] for c in tagged))} conditions")
print(f"  reads          {reads}   (more than one in a presentation: {extra}"
      f"{' ' + str(extra_kinds) if extra_kinds else ''})")
print(f"  misses         {len(tagged) - reads}   {missed if missed else ''}")
print(f"  wrong IDs      {wrong}")
print(f"  false reads    {false} in {quiet:.0f} s of silence, noise and tone {false_kinds if false_kinds else ''}")
print(f"  memory         resident {rss[min(60, len(rss) - 1)] / 1024:.1f} MB after 1 min, "
      f"{rss[-1] / 1024:.1f} MB at the end, peak {int(peak) / 1024:.1f} MB")
print(f"  processor time tavrel-decode {prog:.2f} s ({100 * prog / wall:.2f} % of a core), "
      f"arecord on the same input {arec:.2f} s: {prog / arec if arec else 0:.2f}x")
EOF
