# Sourced by the end-to-end scripts that need an X server of their own.

# Starts Xvfb with a screen of $1 (WIDTHxHEIGHT) on a display nobody else holds, logging
# to $2, and exports DISPLAY once the server answers; its pid goes to xvfb_pid. Another
# run (or a developer's own X server) may hold the number drawn, and Xvfb then exits at
# once: another number is drawn.
start_xvfb() {
  local size=$1 log=$2 display try i
  for try in 1 2 3 4 5 6 7 8; do
    display=$((100 + RANDOM % 800))
    { [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; } && continue
    # -noreset: by default the server resets when its last client leaves, and a client
    # connecting in that moment (the program, right after the check below) is refused.
    Xvfb ":$display" -screen 0 "${size}x24" -nolisten tcp -noreset >"$log" 2>&1 &
    xvfb_pid=$!
    for ((i = 0; i < 100; i++)); do
      kill -0 "$xvfb_pid" 2>/dev/null || break
      if DISPLAY=:$display xdotool getdisplaygeometry >/dev/null 2>&1; then
        export DISPLAY=:$display
        return 0
      fi
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    echo "e2e: display :$display is taken or Xvfb failed (try $try):" >&2
    tail -n 3 "$log" >&2
  done
  return 1
}
