# Waiting on conditions, for the end-to-end scripts and the live benchmark (sourced).

# Waits up to $1 tenths of a second for the command that follows to succeed.
await() {
  local end=$(($(date +%s%N) + $1 * 100000000))
  shift
  until "$@"; do
    [ "$(date +%s%N)" -lt "$end" ] || return 1
    sleep 0.1
  done
}
ended() { ! kill -0 "$1" 2>/dev/null; }  # process $1 has ended
quiet() { "$@" >/dev/null 2>&1; }  # the command that follows, its output dropped
