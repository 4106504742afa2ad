# The whole program against the real sound server and X server; sourced by
# test_program_linux.sh and test_program_wine.sh with PROGRAM, PROGRAM_NAME and
# CLOSE_LIMIT (seconds allowed from Escape to exit) set.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/program_lib.sh"

tag_a=0012345678 number_a=4660.22136
tag_b=00ABCD0042 number_b=43981.66
tag_msb=8400043916 number_msb=4.14614  # first data bit 1

echo "one tag held for 3 s"
start_program
feed silence:0.5 tag:$tag_a:3
sleep 4.5
close_program "$CLOSE_LIMIT"
stop_feed
expect_reads $number_a
echo "  closed ${closed_after} s after Escape"

echo "tag A, then B, then A"
start_program
feed silence:0.5 tag:$tag_a:1.5 silence:0.5 tag:$tag_b:1.5 silence:0.5 tag:$tag_a:1.5
sleep 7
close_program "$CLOSE_LIMIT"
stop_feed
expect_reads $number_a $number_b $number_a

echo "a tag whose first data bit is 1; Enter does not close the window"
start_program
feed silence:0.5 tag:$tag_msb:1.5
sleep 2.5
key Return
sleep 0.7
kill -0 "$prog_pid" 2>/dev/null || fail "Enter closed the window"
close_program "$CLOSE_LIMIT"
stop_feed
expect_reads $number_msb

echo "no sound server"
start_program PULSE_SERVER=unix:/nonexistent
sleep 1
close_program 5
[ "$(od -An -c "$prog_out" | tr -d ' \n')" = 'waveInOpenERROR!\n\n' ] ||
  fail "expected only \"waveInOpen ERROR!\" and the final line end"
echo "  closed ${closed_after} s after Escape"
