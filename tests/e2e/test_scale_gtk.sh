#!/usr/bin/env bash
# The GTK status dialog on a 2x desktop (GDK_SCALE=2), and at 192 and 144 dpi (Xft/DPI from
# an XSETTINGS daemon, as a desktop's settings daemon sends it): the window's size follows
# the dialog table at base units grown with the DPI, it lies whole on the screen, no text
# reaches the edge of its control (which would cut it), the indicator's block grows with the
# pixels, and the window carries the icon. On an X server of its own, wide enough for 2x.
set -u
here=$(cd "$(dirname "$0")" && pwd)
PROGRAM="$TAVREL_BUILD/tests/e2e/dialog_demo 30"
PROGRAM_NAME=dialog_scale
[ -x "$TAVREL_BUILD/tests/e2e/dialog_demo" ] || { echo "no dialog_demo in $TAVREL_BUILD"; exit 1; }
command -v xsettingsd >/dev/null || { echo "no xsettingsd"; exit 1; }
source "$here/program_lib.sh"

# A box of the dialog table, "left top width height" in dialog units, as the build wrote it.
box() {
  local units=${1}_units
  echo "${!units}"
}

screen_w=1600 screen_h=1000
source "$(dirname "$0")/xvfb.sh"
settings_pid=
xvfb_pid=
trap 'kill $settings_pid $xvfb_pid 2>/dev/null' EXIT
start_xvfb "${screen_w}x${screen_h}" "$E2E_WORK/xvfb-scale.log" || fail "no X server of its own"

# Sends Xft/DPI (dots per inch) through XSETTINGS until the next call; 0 for none.
settings() {
  [ -n "$settings_pid" ] && kill "$settings_pid" && wait "$settings_pid" 2>/dev/null
  settings_pid=
  [ "$1" -eq 0 ] && return
  echo "Xft/DPI $(($1 * 1024))" >"$E2E_WORK/xsettings.conf"
  xsettingsd -c "$E2E_WORK/xsettings.conf" >"$E2E_WORK/xsettings.log" 2>&1 &
  settings_pid=$!
  for _ in $(seq 50); do grep -qs "Took ownership" "$E2E_WORK/xsettings.log" && return; sleep 0.1; done
  fail "xsettingsd did not start"
}

# Dialog units to screen pixels, offset from the window: Windows' rounding of x * base_x / 4
# and y * base_y / 8, times the GDK scale factor.
sx() { echo $((device * (($1 * base_x + 2) / 4))); }
sy() { echo $((device * (($1 * base_y + 4) / 8))); }

# Sets cx cy cw ch: the box of control $1 in screen pixels, $2 pixels in from each side.
control() {
  local left top width height
  read -r left top width height <<<"$(box "$1")"
  cx=$((win_x + $(sx "$left") + $2)) cy=$((win_y + $(sy "$top") + $2))
  cw=$(($(sx "$width") - 2 * $2)) ch=$(($(sy "$height") - 2 * $2))
}

# Text that fits keeps clear of its control's right and bottom edges; cut text runs into
# them. $2: pixels of edge to leave out.
text_fits() {
  control "$1" "$2"
  local inside right bottom
  inside=$(count_dark "$cx" "$cy" "$cw" "$ch")
  right=$(count_dark $((cx + cw - 2)) "$cy" 2 "$ch")
  bottom=$(count_dark "$cx" $((cy + ch - 1)) "$cw" 1)
  echo "  $1: ${cw}x${ch}, $inside dark pixels, $right in the right columns, $bottom in the bottom row"
  [ "$inside" -gt 20 ] || fail "no text in $1"
  [ "$right" -eq 0 ] && [ "$bottom" -eq 0 ] || fail "the text of $1 reaches its edge: cut"
}

check_scale() {
  local what=$1 dpi=$2
  shift 2
  device=1
  [ "${1:-}" = GDK_SCALE=2 ] && device=2
  base_x=$(((6 * dpi + 48) / 96)) base_y=$(((13 * dpi + 48) / 96))
  echo "[$PROGRAM_NAME] $what: base units ${base_x}x${base_y}, GDK scale $device"
  settings "$([ "$dpi" -eq 96 ] && echo 0 || echo "$dpi")"
  start_program "$@"
  geometry
  local left top width height
  read -r left top width height <<<"$(box window)"
  echo "  window ${win_w}x${win_h} at ${win_x},${win_y}"
  [ "$win_w" -eq "$(sx "$width")" ] && [ "$win_h" -eq "$(sy "$height")" ] ||
    fail "window ${win_w}x${win_h}, not $(sx "$width")x$(sy "$height") from the dialog table"
  [ "$win_x" -eq "$(sx "$left")" ] && [ "$win_y" -eq "$(sy "$top")" ] || fail "window not at $left,$top units"
  [ $((win_x + win_w)) -le $screen_w ] && [ $((win_y + win_h)) -le $screen_h ] || fail "off the screen"

  # Reads show the number, the label's count and a red block.
  local edge=$((device * ((2 * dpi + 48) / 96))) red=0 digits=0
  control indicator "$edge"
  for _ in $(seq 50); do
    shoot
    red=$(count_colour "$cx" "$cy" "$cw" "$ch" FF0000)
    control display "$edge"
    digits=$(count_dark "$cx" "$cy" "$cw" "$ch")
    control indicator "$edge"
    [ "$red" -gt 0 ] && [ "$digits" -gt 1000 ] && break
    sleep 0.2
  done
  # A 10 x 17 block, cut to the indicator's height: it grows as the pixels do.
  local block=$((10 * 16 * (device * dpi) ** 2 / 96 ** 2))
  echo "  red block of $red pixels (a dialog's 160 scaled: $block), $digits dark in the display"
  [ "$red" -ge $((block * 8 / 10)) ] && [ "$red" -le $((block * 13 / 10)) ] || fail "red block not scaled"
  text_fits display "$edge"
  text_fits label $((device * ((dpi + 48) / 96)))
  text_fits invert 0
  text_fits crc_check 0
  [ "$(xprop -id "$wid" _NET_WM_ICON | grep -c 'Icon (')" -ge 4 ] || fail "no icon on the window"
  convert "$shot" -crop "${win_w}x${win_h}+${win_x}+${win_y}" +repage "$E2E_WORK/scale-$dpi-$device.png"
  close_program 2
}

check_scale "a 2x desktop" 96 GDK_SCALE=2
check_scale "192 dpi" 192
check_scale "144 dpi" 144
settings 0
