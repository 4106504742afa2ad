#!/usr/bin/env bash
# Tavrel's one entry point for people and CI.
#   ./dev.sh run    install what is missing, build, start Tavrel
#   ./dev.sh test   install what is missing, build every variant, run every test
#   ./dev.sh build  install what is missing, build the release program only
#   ./dev.sh peer   tavrel-decode against sigrok-cli's em4100 decoder (under 10 s once built)
#   ./dev.sh bench  the benchmarks at full size: slicer, a 1-hour file, 60 s of the program,
#                   both decoding paths over conditions, 10000 tags and 10 h of each non-tag,
#                   every tag family over conditions and 10 h of each non-tag, -j on 2000
#                   small files, 10 min of the headless reader with a sound server restart
set -euo pipefail
cd "$(dirname "$0")"

# Debian packages, by purpose.
build_packages="cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libasound2-dev libgtk-3-dev fonts-dejavu-core fonts-dejavu-extra libsndfile1-dev
  libsamplerate0-dev libcli11-dev nlohmann-json3-dev libcairo2-dev libmosquitto-dev"
test_packages="clang libclang-rt-dev clang-format python3 g++-mingw-w64-x86-64 wine wine64
  pulseaudio pulseaudio-utils libasound2-plugins alsa-utils xvfb xauth xdotool imagemagick
  sigrok-cli sox groff-base pipewire wireplumber dbus-daemon tmux x11-utils xsettingsd lintian
  mosquitto mosquitto-clients systemd python3-jinja2 openssl"

log() { printf '\n== %s\n' "$*"; }

install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

run_tests() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1" -j "$(nproc)"
}

check_format() {
  log "clang-format"
  git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror
}

fuzz() {
  local seconds=${FUZZ_SECONDS:-60}
  log "fuzzing the slicer for ${seconds} s"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz --target slice_fuzz
  local corpus
  corpus=$(mktemp -d)
  cp tests/fuzz/seeds/* "$corpus/"
  build/fuzz/tests/fuzz/slice_fuzz -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
    "$corpus" 2>&1 | tail -n 3
  rm -rf "$corpus"
}

e2e() {
  log "end-to-end tests (Xvfb, PulseAudio, Wine)"
  build windows
  TAVREL_BUILD=$PWD/build/dev TAVREL_WINDOWS_BUILD=$PWD/build/windows TAVREL_TSAN_BUILD=$PWD/build/tsan \
    tests/e2e/run_all.sh
}

bench() {
  log "benchmark (release)"
  build release
  build/release/bench/decode_bench --benchmark_min_time=0.2
  log "every tag family at once over 10 minutes of mixed families: reads, delay, speed (release)"
  build/release/bench/families_bench
  # Small sizes here; full size by hand with ./dev.sh bench.
  log "tavrel-decode --raw against cat, 5 minutes of recording (release)"
  bench/file_bench.sh build/release 300
  # Full size (20 per condition, 10000 tags, 10 h of each signal without a tag) by hand.
  log "reads, wrong IDs and false reads of both decoding paths, small size (release)"
  build/release/bench/robust_count --per-condition 4 --recordings 200 --hours 0.01
  # Full size (20 per condition and family, 10 h of each signal without a tag) by hand.
  log "reads, wrong IDs, cross-family and false reads of every tag family, small size (release)"
  build/release/bench/family_count --per-condition 4 --hours 0.01
  log "the live program's processor time against arecord's, 10 s (release)"
  bench/live_cpu.sh build/release 10
  log "tavrel-decode -j 2 and -j 1 against no -j, 300 small files (release)"
  bench/jobs_bench.sh build/release 300
}

package() {
  log "Debian package: build, lintian, install and remove (release)"
  build release >/dev/null
  tests/package/test_deb.sh build/release
}

peer_bench() {
  log "tavrel-decode against sigrok-cli's em4100 decoder (release)"
  build release
  bench/peer_bench.sh build/release
}

case "${1:-}" in
  run)
    # The pulse plugin lets ALSA's default device reach PulseAudio or PipeWire.
    install_packages $build_packages libasound2-plugins
    build release >/dev/null
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      echo "Tavrel needs a desktop session (no DISPLAY or WAYLAND_DISPLAY is set)." >&2
      exit 1
    fi
    exec build/release/app/tavrel
    ;;
  build)
    install_packages $build_packages
    build release
    ;;
  test)
    install_packages $build_packages $test_packages
    check_format
    log "unit tests (debug)"
    run_tests dev
    log "unit tests (ASan + UBSan)"
    run_tests asan
    log "unit tests (ThreadSanitizer)"
    run_tests tsan
    e2e
    fuzz
    bench
    peer_bench
    package
    ;;
  peer)
    install_packages $build_packages $test_packages
    peer_bench
    ;;
  bench)
    install_packages $build_packages $test_packages
    build release
    build/release/bench/decode_bench
    build/release/bench/families_bench --benchmark_repetitions=5
    bench/file_bench.sh build/release 3600
    nice build/release/bench/robust_count
    nice build/release/bench/family_count
    bench/peer_bench.sh build/release
    bench/live_cpu.sh build/release 60
    bench/jobs_bench.sh build/release
    bench/live_soak.sh build/release 600
    ;;
  *)
    echo "usage: $0 run|test|build|peer|bench" >&2
    exit 2
    ;;
esac
