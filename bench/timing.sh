# Timing for the benchmark scripts (sourced).

# Best of N wall-clock runs, in microseconds: the least disturbed by other load. The
# clock is bash's own (EPOCHREALTIME): a `date` for each reading would add its own start,
# about a millisecond, to commands that take a few.
best_us() {
  local runs=$1 best= start end t
  shift
  for ((i = 0; i < runs; ++i)); do
    start=${EPOCHREALTIME/./}
    "$@" >/dev/null || true
    end=${EPOCHREALTIME/./}
    t=$((end - start))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}
