#!/usr/bin/env bash
# The Linux program as a user meets it in a terminal (tmux, a real pseudo-terminal with
# job control): typed keys are not echoed and the terminal's mode comes back; a background
# start is never stopped; Ctrl-C, SIGTERM and SIGHUP end it like closing the window, with
# every read in a redirected log; the window goes at once; only its own words show.
set -u
PROGRAM="$TAVREL_BUILD/app/tavrel"
PROGRAM_NAME=tavrel-terminal
CLOSE_LIMIT=2
[ -x "$PROGRAM" ] || { echo "no $PROGRAM"; exit 1; }
command -v tmux >/dev/null || { echo "no tmux"; exit 1; }
source "$(dirname "$0")/program_lib.sh"

tag_a=0012345678 number_a=4660.22136

sock=tavrel-e2e-$$
tm() { tmux -L "$sock" "$@"; }
trap 'tm kill-server 2>/dev/null' EXIT
tm new-session -d -s e2e -x 150 -y 40 \
  "env -i PATH=$PATH HOME=$HOME TERM=xterm PS1='$ ' DISPLAY=$DISPLAY XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR bash --norc --noprofile"
pane() { tm capture-pane -p -J -t e2e; }

pane_has() { pane | grep -qE "$1"; }

# Types a command line into the terminal's shell, on a cleared screen, with @END@ in it
# replaced by `done_mark`, which the line is to print when it has finished.
runs=0
type_line() {
  runs=$((runs + 1))
  done_mark="__end$runs"
  tm send-keys -t e2e clear Enter
  await 30 pane_has '^\$ $' || fail "the shell did not come back"
  tm clear-history -t e2e
  tm send-keys -t e2e -l "${1//@END@/$done_mark}"
  tm send-keys -t e2e Enter
}
await_end() {
  await $(($1 * 10)) pane_has "^$done_mark [0-9]+" || fail "not ended within $1 s: $(pane)"
  pane_has "^$done_mark 0\$" || fail "exit code: $(pane | grep "^$done_mark")"
}

find_window() {
  wid=
  for _ in $(seq 300); do
    wid=$(xdotool search --onlyvisible --name '^Tavrel$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && return 0
    sleep 0.1
  done
  fail "no window named Tavrel; the terminal: $(pane)"
}

echo "keys typed while a tag is read are not echoed; one is taken at the end; the mode is back"
type_line "stty -g >$E2E_WORK/stty.1; $PROGRAM; r=\$?; stty -g >$E2E_WORK/stty.2; echo @END@ \$r"
find_window
feed silence:0.5 tag:$tag_a:3
repeat() { pane | sed -n "s/^$number_a - \([0-9]*\) .*/\1/p"; }
await 50 pane_has "^$number_a - [0-9]+ " || fail "no rewritten log line: $(pane)"
typed_at=$(repeat)
tm send-keys -t e2e -l xyz
await 30 eval '[ "$(repeat)" -gt $((typed_at + 20)) ]' || fail "the log line stopped: $(pane)"
pane | grep -q xyz && fail "typed keys were echoed: $(pane)"
pane | grep -qE "^$number_a( - [0-9]+ +)?\$" || fail "the log line is broken: $(pane)"
key Escape
await_end "$CLOSE_LIMIT"
stop_feed
cmp -s "$E2E_WORK/stty.1" "$E2E_WORK/stty.2" || fail "terminal mode changed"
# The first key was taken at teardown; the rest stays for the shell, as in a console.
await 20 pane_has '^\$ yz$' || fail "expected \"yz\" left for the shell: $(pane)"
tm send-keys -t e2e C-u

echo "a background start: never stopped by the terminal; closing the window ends it"
type_line "stty -g >$E2E_WORK/stty.3; $PROGRAM &"
find_window
feed silence:5
pid=$(xdotool getwindowpid "$wid")
tm send-keys -t e2e -l abc  # for the shell; the program must not touch the terminal
start=$(date +%s%N)
"$TAVREL_BUILD/tests/e2e/wm_close" "$wid"
await $((CLOSE_LIMIT * 10)) eval '! kill -0 $pid 2>/dev/null' ||
  fail "still running ${CLOSE_LIMIT} s after its window was closed: $(pane)"
echo "  ended $((($(date +%s%N) - start) / 1000000)) ms after the window was closed"
stop_feed
tm send-keys -t e2e C-u "stty -g >$E2E_WORK/stty.4; echo $done_mark \$?" Enter
await_end 3
pane_has 'Stopped' && fail "the job was stopped: $(pane)"
pane_has 'Done' || fail "the shell saw no end of the job: $(pane)"
cmp -s "$E2E_WORK/stty.3" "$E2E_WORK/stty.4" || fail "terminal mode changed"

echo "Ctrl-C with the log redirected: every read reaches the file"
prog_out=$E2E_WORK/ctrl-c.log
type_line "$PROGRAM >$prog_out; echo @END@ \$?"
find_window
feed silence:0.5 tag:$tag_a:1.5
await_reads_done
tm send-keys -t e2e C-c
await_end "$CLOSE_LIMIT"
stop_feed
expect_reads $number_a

for signal in TERM HUP; do
  echo "SIGSIG$signal ends it like closing the window" | sed 's/SIGSIG/SIG/'
  # A signal ignored where the tests run (nohup) stays ignored in the program, as it
  # should: start it with the signal's default disposition.
  start_program --default-signal="$signal"
  feed silence:0.5 tag:$tag_a:1.5
  await_reads_done
  kill -s "$signal" "$prog_pid"
  await $((CLOSE_LIMIT * 10)) eval '! kill -0 $prog_pid 2>/dev/null' || fail "still running"
  wait "$prog_pid" || fail "exit code $?"
  prog_pid=
  stop_feed
  expect_reads $number_a
done

echo "the window goes at once on Escape while the device delivers nothing"
type_line "$PROGRAM; echo @END@ \$?"
find_window
"$TAVREL_BUILD/tests/e2e/tag_feed" --stop "$TAG_FIFO" silence:0.5 2>/dev/null
# Nothing comes from here on: once a wait for a block has timed out, the worker waits.
await 80 pane_has '^Wait timeout!' || fail "no wait for a block timed out: $(pane)"
key Escape
start=$(date +%s%N)
# Mapped or not: the dialog's own window must no longer exist (GTK's hidden leader window,
# named after the program, lives as long as the display connection).
await 20 eval '! xdotool search --name "^Tavrel\$" 2>/dev/null | grep -qx "$wid"' ||
  fail "the window stayed"
gone_ms=$((($(date +%s%N) - start) / 1000000))
echo "  window gone ${gone_ms} ms after Escape"
[ "$gone_ms" -le 500 ] || fail "the window took ${gone_ms} ms to go"
pane_has "^$done_mark" && fail "the window went only when the program ended"
feed silence:1  # a block, and the worker finishes its teardown
await_end 4
stop_feed

echo "no sound server: the terminal shows the program's own message only"
type_line "PULSE_SERVER=unix:/nonexistent $PROGRAM; echo @END@ \$?"
find_window
key Escape
await_end $((3 + CLOSE_LIMIT))
[ "$(pane | sed -n '2,/^__end/p' | tr '\n' '|')" = "waveInOpen ERROR!||$done_mark 0|" ] ||
  fail "expected only \"waveInOpen ERROR!\" and the final line end: $(pane)"

echo "no display: one line on stderr, the log as without a window, the mode back"
feed silence:30
type_line "stty -g >$E2E_WORK/stty.5; env -u DISPLAY $PROGRAM; stty -g >$E2E_WORK/stty.6; echo @END@"
await 50 pane_has "^$done_mark" || fail "no end without a display: $(pane)"
cmp -s "$E2E_WORK/stty.5" "$E2E_WORK/stty.6" || fail "terminal mode changed"
prog_out=$E2E_WORK/nodisplay.out
for run in 1 2 3 4 5; do
  env -u DISPLAY -u WAYLAND_DISPLAY "$PROGRAM" </dev/null >"$prog_out" 2>"$prog_out.err" ||
    fail "exit code $?"
  [ "$(od -An -c "$prog_out" | tr -d ' ')" = '\n' ] || fail "run $run: log not a bare line end"
  [ "$(cat "$prog_out.err")" = \
    "tavrel: cannot open the display (DISPLAY and WAYLAND_DISPLAY are not set)" ] ||
    fail "run $run: stderr"
done
stop_feed
echo "  5 runs: stdout \"\\n\", stderr one line"
