# The status dialog on screen, driven by dialog_demo (the real dialog and a stand-in
# worker that reads tag 4.14614 four times a second for a few seconds); sourced by
# test_dialog_gtk.sh and test_dialog_wine.sh with PROGRAM, PROGRAM_NAME, CLOSE_LIMIT and
# SHOT (the screenshot's file name under docs/) set. With UPDATE_SCREENSHOTS=1 the
# screenshot is copied into docs/.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/program_lib.sh"

echo "[$PROGRAM_NAME] a tag read four times a second: the number and a red block"
start_program
geometry
regions
echo "  window ${win_w}x${win_h} at ${win_x},${win_y}"
seen=
for _ in $(seq 30); do
  shoot
  red=$(count_colour "$ind_x" "$ind_y" "$ind_w" "$ind_h" FF0000)
  digits=$(count_dark "$text_x" "$digit_y" 300 10)
  if [ "$red" -gt 0 ] && [ "$digits" -gt 100 ]; then
    seen=1
    break
  fi
  sleep 0.2
done
[ -n "$seen" ] || fail "no red block and number while reading (red $red, dark $digits)"
# One block, 10 pixels wide, as high as the indicator lets it be (17 at most).
[ "$red" -ge 100 ] && [ "$red" -le 170 ] || fail "red block of $red pixels"
echo "  red block of $red pixels, $digits dark pixels in the digits' band"
convert "$shot" -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage "$E2E_WORK/$SHOT"
if [ "${UPDATE_SCREENSHOTS:-0}" = 1 ]; then
  cp "$E2E_WORK/$SHOT" "$here/../../docs/$SHOT"
  echo "  screenshot copied to docs/$SHOT"
fi

echo "[$PROGRAM_NAME] the reads stop: dashes and a grey block"
wait_for_line "feed stopped" 15
# The second refresh after the last read comes at most 800 ms after it.
at_rest() {
  shoot
  red=$(count_colour "$ind_x" "$ind_y" "$ind_w" "$ind_h" FF0000)
  grey=$(count_colour "$ind_x" "$ind_y" "$ind_w" "$ind_h" 808080)
  digits=$(count_dark "$text_x" "$digit_y" 300 10)
  dashes=$(count_dark "$text_x" "$dash_y" 300 12)
  [ "$red" -eq 0 ] && [ "$grey" -ge 100 ] && [ "$digits" -eq 0 ] && [ "$dashes" -gt 50 ]
}
await 30 at_rest ||
  fail "not at rest after the reads (red $red, grey $grey, digits $digits, dashes $dashes)"

echo "[$PROGRAM_NAME] the check boxes reach the worker"
wait_for_line "invert_state 0" 1
click_box invert
wait_for_line "invert_state 1" 3
click_box crc_check
wait_for_line "parity_check 0" 3
click_box invert
wait_for_line "invert_state 0" 3 2
click_box crc_check
wait_for_line "parity_check 1" 3 2

echo "[$PROGRAM_NAME] Enter leaves the window open, Escape closes it"
changes=$(grep -ac -e '^invert_state' -e '^parity_check' "$prog_out")
key Return
# A click after the key: once it has come through, so has the key.
click_box invert
wait_for_line "invert_state 1" 3 2
kill -0 "$prog_pid" 2>/dev/null || fail "Enter closed the window"
xdotool search --name '^Tavrel$' >/dev/null || fail "Enter closed the window"
[ "$(grep -ac -e '^invert_state' -e '^parity_check' "$prog_out")" -eq $((changes + 1)) ] ||
  fail "Enter changed a check box"
close_program "$CLOSE_LIMIT"
grep -aq '^after the dialog: invert_state 0$' "$prog_out" || fail "invert_state not 0 after the end"
echo "  closed ${closed_after} s after Escape"
