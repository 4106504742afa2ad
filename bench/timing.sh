# Timing for the benchmark scripts (sourced).

# Best of N wall-clock runs, in microseconds: the least disturbed by other load.
best_us() {
  local runs=$1 best= start end t
  shift
  for ((i = 0; i < runs; ++i)); do
    start=$(date +%s%N)
    "$@" >/dev/null || true
    end=$(date +%s%N)
    t=$(((end - start) / 1000))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}
