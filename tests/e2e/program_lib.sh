# Helpers for end-to-end runs of the whole program; sourced by test_program_*.sh after
# they set PROGRAM (a command line, e.g. "wine /path/tavrel.exe") and PROGRAM_NAME.

source "$(dirname "${BASH_SOURCE[0]}")/capture_common.sh"

fail() {
  echo "FAIL [$PROGRAM_NAME]: $*" >&2
  if [ -n "${prog_out:-}" ] && [ -f "$prog_out" ]; then
    echo "--- stdout:" >&2
    od -c "$prog_out" | head -20 >&2
    echo "--- stderr:" >&2
    tail -n 20 "$prog_out.err" >&2
    echo "--- windows:" >&2
    xdotool search --name . getwindowname %@ 2>&1 | head -10 >&2
  fi
  stop_all
  exit 1
}

feed_pid=
feed_log=
prog_pid=
wid=

# Feeds the pipe source with tag_feed steps, in the background; each step's start time
# goes to $feed_log, and "end" when the last step has been written.
feed() {
  feed_log=$E2E_WORK/feed.$RANDOM.log
  "$TAVREL_BUILD/tests/e2e/tag_feed" "$TAG_FIFO" "$@" 2>"$feed_log" &
  feed_pid=$!
}
feed_started() { [ -s "$feed_log" ]; }
feed_done() { grep -q ' end$' "$feed_log" 2>/dev/null; }

stop_feed() {
  [ -n "$feed_pid" ] && kill "$feed_pid" 2>/dev/null && wait "$feed_pid" 2>/dev/null
  feed_pid=
}

# Starts the program with stdout to $prog_out; extra environment as arguments (VAR=value).
start_program() {
  prog_out=$E2E_WORK/out.$RANDOM
  env "$@" $PROGRAM </dev/null >"$prog_out" 2>"$prog_out.err" &
  prog_pid=$!
  wid=
  for _ in $(seq 300); do
    # Only a mapped window: GTK names its window before mapping it, and an unmapped one
    # can neither take the keyboard nor give the right geometry.
    wid=$(xdotool search --onlyvisible --name '^Tavrel$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && return 0
    kill -0 "$prog_pid" 2>/dev/null || fail "program ended before its window opened"
    sleep 0.1
  done
  fail "no window named Tavrel"
}

# Presses key $1 in the window. A window id that has gone stale (X reports BadWindow,
# as seen under ThreadSanitizer's slow start) is looked up again before the next try.
# The key goes to the focus through XTEST, press and release alike: `key --window` sends
# the release as a synthetic event once the focus has left the window (Escape closes
# it), and the server then holds Escape down, closing every window that opens under the
# pointer afterwards.
key() {
  for _ in 1 2 3 4 5; do
    if xdotool windowfocus --sync "$wid" 2>/dev/null; then
      xdotool key "$1"
      return
    fi
    sleep 0.2
    wid=$(xdotool search --onlyvisible --name '^Tavrel$' 2>/dev/null | tail -n 1)
  done
  xdotool key "$1"
}

# Presses Escape and waits up to $1 seconds for the program to end with code 0.
close_program() {
  local limit=$1 start end rc
  start=$(date +%s.%N)
  key Escape
  for _ in $(seq $((limit * 20))); do
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$prog_pid" 2>/dev/null && fail "still running ${limit} s after Escape"
  wait "$prog_pid"
  rc=$?
  end=$(date +%s.%N)
  prog_pid=
  [ "$rc" -eq 0 ] || fail "exit code $rc"
  closed_after=$(awk "BEGIN { printf \"%.2f\", $end - $start }")
}

# Whether the window shows a number (dark pixels in the digits' band) in a new screenshot.
shows_number() {
  shoot
  [ "$(count_dark "$text_x" "$digit_y" 300 10)" -gt 100 ]
}

# Waits for the window to show the number, then for it to fall back to dashes: every read
# of the tag has been made and logged.
await_reads_done() {
  geometry
  regions
  await 100 shows_number || fail "the number never came in the window"
  await 50 eval '! shows_number' || fail "the number did not go from the window"
}

# Waits until the feed has written all its steps and the window no longer shows a number:
# the last tag's reads are over. The window shows the number while reads come in, and the
# last ones come after the feed has written them.
await_feed_read() {
  geometry
  regions
  await $(($1 * 10)) feed_done || fail "the feed did not end within $1 s"
  await 50 eval '! shows_number' || fail "the number did not go from the window"
}

stop_all() {
  stop_feed
  [ -n "${prog_pid:-}" ] && kill "$prog_pid" 2>/dev/null
  prog_pid=
}

# The console text a tag read N times in a row leaves: "\nH.L" then N-1 rewrites.
expected_reads() {
  local number=$1 count=$2 n
  printf '\n%s' "$number"
  for ((n = 0; n + 1 < count; n++)); do printf '\r%s - %d      ' "$number" "$n"; done
}

# Checks that the program's whole output is one run of reads of each number given, in
# order, then the final line end.
expect_reads() {
  local expected=$E2E_WORK/expected.$RANDOM rest=$prog_out.rest
  cp "$prog_out" "$rest"
  : >"$expected"
  for number in "$@"; do
    # Count this number's reads at the head of what is left.
    local count
    count=$(python3 - "$rest" "$number" <<'PY'
import re, sys
data = open(sys.argv[1], 'rb').read()
num = re.escape(sys.argv[2].encode())
m = re.match(rb'\n' + num + rb'((\r' + num + rb' - \d+      )*)', data)
if not m:
    print(0); sys.exit()
print(1 + m.group(1).count(b'\r'))
open(sys.argv[1], 'wb').write(data[m.end():])
PY
)
    [ "$count" -gt 0 ] || fail "expected reads of $number"
    expected_reads "$number" "$count" >>"$expected"
    echo "  $number read $count times"
  done
  printf '\n' >>"$expected"
  cmp -s "$prog_out" "$expected" || fail "console output differs from the expected bytes"
}

# The dialog's layout in dialog units ("left top width height" per box), from the table
# the programs are built with.
source "$TAVREL_BUILD/platform/dialog_layout.sh"

# The window's place and size. Its size in dialog units gives the dialog's base units:
# 6 x 13 pixels on GTK, what the substitute font gives under Wine.
geometry() {
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  win_x=$X win_y=$Y win_w=$WIDTH win_h=$HEIGHT
  read -r _ _ units_w units_h <<<"$window_units"
}
unit_x() { echo $((win_x + ($1 * win_w + units_w / 2) / units_w)); }
unit_y() { echo $((win_y + ($1 * win_h + units_h / 2) / units_h)); }

shoot() {
  shot=$E2E_WORK/shot.$RANDOM.png
  import -window root "$shot"
}

# Pixels of one exact colour (hex) in the rectangle x y w h of the last screenshot.
count_colour() {
  convert "$shot" -crop "${3}x${4}+${1}+${2}" +repage txt:- | grep -ci "#$5 " || true
}

# Dark pixels (text) in the rectangle x y w h of the last screenshot.
count_dark() {
  convert "$shot" -crop "${3}x${4}+${1}+${2}" +repage -colorspace Gray -threshold 35% \
    -format '%[fx:round((1-mean)*w*h)]' info:
}

# Waits up to $2 seconds until the output has a line $1, $3 times (default once).
wait_for_line() {
  local want=${3:-1}
  for _ in $(seq $(($2 * 10))); do
    [ "$(grep -ac "^$1\$" "$prog_out")" -ge "$want" ] && return 0
    sleep 0.1
  done
  fail "no line \"$1\" (x$want) in the output"
}

# Clicks the check box $1 (invert or crc_check) on its square: 6 units in, halfway down.
click_box() {
  local units=${1}_units left top width height
  read -r left top width height <<<"${!units}"
  xdotool mousemove --sync "$(unit_x $((left + 6)))" "$(unit_y $((top + height / 2)))" click 1
}

# Regions, in screen pixels. The statics have a 2-pixel client edge; the number's cell
# starts 10 pixels into the display. Digits fill the band 12..22 pixels below the cell's
# top; dashes and the point lie lower, so only a number darkens it.
regions() {
  local left top width height
  read -r left top width height <<<"$indicator_units"
  ind_x=$(($(unit_x "$left") + 2)) ind_y=$(($(unit_y "$top") + 2))
  ind_w=$(($(unit_x $((left + width))) - 2 - ind_x))
  ind_h=$(($(unit_y $((top + height))) - 2 - ind_y))
  read -r left top width height <<<"$display_units"
  text_x=$(($(unit_x "$left") + 12)) text_y=$(($(unit_y "$top") + 12))
  digit_y=$((text_y + 12)) dash_y=$((text_y + 27))
}
