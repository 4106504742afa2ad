# Sourced by the scripts that need a sound server of their own, to stop and start it
# again: a private PulseAudio in $XDG_RUNTIME_DIR whose default input is a pipe source,
# $XDG_RUNTIME_DIR/tag.fifo, fed with tag_feed in the sound input's format.

# Starts the server, logging to $1, and waits until it answers with the pipe as its
# default input; its pid goes to pulse_pid (not a job of the shell: wait on it with
# `ended`). A pipe left by an earlier server is removed first: the module makes its own,
# and fails on one that exists.
start_pulse() {
  local log=$1 i
  rm -f "$XDG_RUNTIME_DIR/tag.fifo"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
    -L module-native-protocol-unix -L "module-null-sink sink_name=out" \
    -L "module-pipe-source source_name=tag file=$XDG_RUNTIME_DIR/tag.fifo format=u8 rate=48000 channels=2" \
    -L module-always-sink >>"$log" 2>&1 &
  pulse_pid=$!
  disown "$pulse_pid"  # a server killed on purpose is no news for the script's output
  for ((i = 0; i < 200; i++)); do
    kill -0 "$pulse_pid" 2>/dev/null || return 1
    pactl set-default-source tag >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
