#!/usr/bin/env bash
# The live program's processor time while it reads a tag, from /proc/PID/stat, against
# arecord reading the same sound input over the same stretch of time (a capture client
# that does nothing with the samples), measured in the same run. Real parts: Xvfb and a
# private PulseAudio whose default input is a pipe fed with a tag signal, as the
# end-to-end tests run them.
#
#   bench/live_cpu.sh [BUILD_DIR [SECONDS]]   (default build/release, 60 s)
#
# Prints each thread's share too, so that the remaining time can be placed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-60}
if [ -z "${1:-}" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target tavrel tag_feed >/dev/null
fi
program=$build/app/tavrel
feeder=$build/tests/e2e/tag_feed
eval "$("$feeder" --facts)"  # sample_rate, block_frames
for tool in Xvfb pulseaudio pactl arecord xdotool; do
  command -v $tool >/dev/null || { echo "live_cpu: $tool is missing (./dev.sh test installs it)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/tavrel-cpu.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source tests/e2e/wait.sh
# Waits as await does, quietly, and gives up the whole run when the time is out.
wait_for() {
  await "$1" quiet "${@:2}" || { echo "live_cpu: gave up waiting for: ${*:2}" >&2; exit 1; }
}

source tests/e2e/xvfb.sh
start_xvfb 1024x768 "$work/xvfb.log" || { echo "live_cpu: no X server" >&2; exit 1; }
pids+=("$xvfb_pid")

export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
fifo=$XDG_RUNTIME_DIR/tag.fifo
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  -L module-native-protocol-unix -L "module-null-sink sink_name=out" \
  -L "module-pipe-source source_name=tag file=$fifo format=u8 rate=$sample_rate channels=2" \
  -L module-always-sink >"$work/pulse.log" 2>&1 &
pids+=($!)
wait_for 200 pactl info
pactl set-default-source tag

# A tag for the whole run and a little more; the feeder writes in real time.
"$feeder" "$fifo" "tag:0102030405:$((seconds + 30))" 2>/dev/null &
pids+=($!)

"$program" </dev/null >"$work/out" 2>"$work/err" &
prog=$!
pids+=($prog)
wait_for 300 sh -c "xdotool search --onlyvisible --name '^Tavrel$' | grep -q ."
arecord -q -D default -f U8 -c 2 -r "$sample_rate" -t raw "$work/capture.raw" 2>"$work/arecord.err" &
capture=$!
pids+=($capture)
# The input flows once arecord has stored a second of it.
wait_for 100 sh -c "[ \$(stat -c %s '$work/capture.raw' 2>/dev/null || echo 0) -gt $((2 * sample_rate)) ]"

ticks=$(getconf CLK_TCK)
# utime + stime of a process or thread, in clock ticks (fields 14 and 15 after the name).
cpu() { sed 's/^.*) //' "$1" | awk '{ print $12 + $13 }'; }
threads() {
  for t in /proc/$1/task/*; do
    printf '%s:%s %s\n' "${t##*/}" "$(tr ' ' '_' <"$t/comm")" "$(cpu "$t/stat")"
  done
}

start=$(date +%s%N)
p0=$(cpu /proc/$prog/stat)
a0=$(cpu /proc/$capture/stat)
threads $prog | sort >"$work/threads0"
# The measured stretch is real time by nature; the program is checked on every second.
for ((s = 0; s < seconds; s++)); do
  sleep 1
  kill -0 $prog 2>/dev/null || { echo "live_cpu: the program ended early" >&2; exit 1; }
done
p1=$(cpu /proc/$prog/stat)
a1=$(cpu /proc/$capture/stat)
threads $prog | sort >"$work/threads1"
end=$(date +%s%N)
# Escape ends the program, which writes out its console log.
wid=$(xdotool search --onlyvisible --name '^Tavrel$' | head -n 1)
xdotool windowfocus --sync "$wid" 2>/dev/null || true
# Real key events to the focus (a synthetic release would leave Escape held down in the
# server); SIGTERM ends the program the same way when the key does not reach it.
xdotool key Escape 2>/dev/null || kill -TERM $prog
wait_for 100 sh -c "! kill -0 $prog 2>/dev/null"
reads=$(tr '\r' '\n' <"$work/out" | grep -c . || true)

awk -v p0="$p0" -v p1="$p1" -v a0="$a0" -v a1="$a1" -v hz="$ticks" -v ns=$((end - start)) \
  -v reads="$reads" 'BEGIN {
  wall = ns / 1e9; p = (p1 - p0) / hz; a = (a1 - a0) / hz
  printf "%.1f s of reading a tag (%d log lines), processor time from /proc/PID/stat (1/%d s ticks):\n", wall, reads, hz
  printf "  tavrel                       %7.3f s  %6.3f %% of a core\n", p, 100 * p / wall
  printf "  arecord on the same input    %7.3f s  %6.3f %% of a core\n", a, 100 * a / wall
  printf "  tavrel over arecord: %.2fx   goal under 0.1 %% of a core: %s\n",
         (a > 0 ? p / a : 0), (100 * p / wall < 0.1 ? "met" : "missed")
}'
echo "  tavrel by thread (first is the main thread with the dialog; seconds):"
join "$work/threads0" "$work/threads1" | sort -n | awk -v hz="$ticks" '{ printf "    %-22s %7.3f\n", $1, ($3 - $2) / hz }'
