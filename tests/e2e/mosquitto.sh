# Sourced by the scripts that need an MQTT broker of their own: a private mosquitto on a
# free port of 127.0.0.1, anonymous, keeping its retained messages and persistent
# sessions across a restart (on SIGTERM it writes them to its folder).

# Writes the configuration into folder $1 and sets broker_dir and broker_port.
make_broker() {
  broker_dir=$1
  mkdir -p "$broker_dir"
  broker_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  # Run as root, mosquitto becomes the user mosquitto unless told to stay, and then
  # cannot save its state into a folder of ours.
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence true\npersistence_location %s/\nuser %s\n' \
    "$broker_port" "$broker_dir" "$(id -un)" >"$broker_dir/mosquitto.conf"
}

# Starts the broker made by make_broker and waits until it takes connections; its pid
# goes to broker_pid.
start_broker() {
  local i
  mosquitto -c "$broker_dir/mosquitto.conf" >>"$broker_dir/mosquitto.log" 2>&1 &
  broker_pid=$!
  for ((i = 0; i < 100; i++)); do
    kill -0 "$broker_pid" 2>/dev/null || return 1
    (exec 3<>"/dev/tcp/127.0.0.1/$broker_port") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Records everything the broker carries into $1, one "RETAIN<tab>TOPIC<tab>PAYLOAD" line
# per message, across restarts of the broker: mosquitto_sub ends with its broker, so it is
# started again, with a persistent session (QoS 1) that keeps what came meanwhile. The
# loop runs in a process group of its own, so that stop_recorder ends it with its client.
record_broker() {
  setsid bash -c 'while :; do
      mosquitto_sub -h 127.0.0.1 -p "$1" -i tavrel-e2e-recorder -c -q 1 -t "#" -v \
        -F "%r\t%t\t%p" 2>/dev/null
      sleep 0.1
    done' recorder "$broker_port" >>"$1" &
  recorder_pid=$!
}

stop_recorder() {
  kill -- "-$recorder_pid" 2>/dev/null
  wait "$recorder_pid" 2>/dev/null
}
