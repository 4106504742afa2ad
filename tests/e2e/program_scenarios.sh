# The whole program against the real sound server and X server; sourced by
# test_program_linux.sh and test_program_wine.sh with PROGRAM, PROGRAM_NAME and
# CLOSE_LIMIT (seconds allowed from Escape to exit) set.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/program_lib.sh"

tag_a=0012345678 number_a=4660.22136
tag_b=00ABCD0042 number_b=43981.66
tag_msb=8400043916 number_msb=4.14614  # first data bit 1

echo "one tag held for 3 s: the number in the window, then dashes; the log byte for byte"
start_program
geometry
regions
feed silence:1 tag:$tag_a:3
tag_from=$(($(date +%s%N) + 1000000000))  # the feed paces in real time
seen=
for _ in $(seq 40); do
  shoot
  if [ "$(count_dark "$text_x" "$digit_y" 300 10)" -gt 100 ]; then
    seen=$(date +%s%N)
    break
  fi
  sleep 0.05
done
[ -n "$seen" ] || fail "the number never showed in the window"
echo "  number shown $(((seen - tag_from) / 1000000)) ms after the tag's first frame was fed"
await_feed_read 5
# The block turns grey before the display falls back; shot again, it must still be.
shoot
[ "$(count_dark "$text_x" "$dash_y" 300 12)" -gt 50 ] || fail "no dashes after the tag left"
[ "$(count_colour "$ind_x" "$ind_y" "$ind_w" "$ind_h" 808080)" -ge 100 ] || fail "block not grey"
close_program "$CLOSE_LIMIT"
stop_feed
expect_reads $number_a
echo "  closed ${closed_after} s after Escape"

echo "tag A, then B, then A"
start_program
feed silence:0.5 tag:$tag_a:1.5 silence:0.5 tag:$tag_b:1.5 silence:0.5 tag:$tag_a:1.5
await_feed_read 10
close_program "$CLOSE_LIMIT"
stop_feed
expect_reads $number_a $number_b $number_a

echo "a tag whose first data bit is 1; Enter does not close the window"
start_program
# Enter first: the reads that the window shows afterwards come from a window still open.
key Return
feed silence:0.5 tag:$tag_msb:1.5
await_reads_done
kill -0 "$prog_pid" 2>/dev/null || fail "Enter closed the window"
close_program "$CLOSE_LIMIT"
stop_feed
expect_reads $number_msb

# A signal the program must not read until a check box (invert or crc_check) is clicked.
read_only_after_click() {
  local what=$1 step=$2 number=$3 box=$4
  echo "$what is read only after a click on the $box box"
  start_program
  geometry
  regions
  feed "$step"
  await 20 feed_started || fail "the feed did not start"
  # Two seconds of the signal, watched: a number in the window is a read.
  await 20 shows_number && fail "$what was read before the click"
  click_box "$box"
  await 40 shows_number || fail "$what was not read after the click"
  close_program "$CLOSE_LIMIT"
  stop_feed
  expect_reads "$number"
}

read_only_after_click "an inverted signal" tag:$tag_b:6:invert $number_b invert
read_only_after_click "a wrong row parity" tag:$tag_a:6:badrow $number_a crc_check

echo "a recording made by tavrel-gen, played in: read as tavrel-decode reads it"
recording=$E2E_WORK/gen.raw
"$TAVREL_BUILD/cli/tavrel-gen" -o "$recording" -s 1.5 --gap 0.5 --noise 0.03 --jitter 1 \
  $tag_msb $tag_b >/dev/null || fail "tavrel-gen failed"
[ "$("$TAVREL_BUILD/cli/tavrel-decode" --raw "$recording" | tr '\r' '\n' | grep -v '^$' |
  sed 's/ - .*//' | uniq | tr '\n' ' ')" = "$number_msb $number_b " ] || fail "tavrel-decode"
start_program
feed "file:$recording"
await_feed_read 8
close_program "$CLOSE_LIMIT"
stop_feed
expect_reads $number_msb $number_b

echo "no sound server"
start_program PULSE_SERVER=unix:/nonexistent
close_program $((3 + CLOSE_LIMIT))  # one wait of 3 s for a block that never comes
[ "$(od -An -c "$prog_out" | tr -d ' \n')" = 'waveInOpenERROR!\n\n' ] ||
  fail "expected only \"waveInOpen ERROR!\" and the final line end"
echo "  closed ${closed_after} s after Escape"
