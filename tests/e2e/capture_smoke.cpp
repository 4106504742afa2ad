// Records from the default sound input through the capture and the real wave-input
// service, as the worker would, and checks what arrives. The input is expected to carry
// tag_feed's pattern: left counts up by one per sample frame, right is its complement.
//
//   capture_smoke [BLOCKS [SETTLE]]     (default 16 blocks, settle 0)
//
// Prints one line per block with the time since the previous one, then
// "intervals: mean M min A max B ms" over the blocks after the first judged one. The
// first SETTLE blocks are shown but not judged: a sound path that needs time to settle
// (Wine's) may lose or repeat a few frames there. Exits 1 when a judged block is short
// or breaks the pattern, 0 otherwise.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>

#include "capture/wave_capture.hpp"
#include "platform/console.hpp"

using namespace tavrel;

namespace {

uint8_t left[block_frames];
uint8_t right[block_frames];

// The index of the first sample that breaks the pattern, or -1.
int32_t pattern_break() {
  for (int32_t j = 0; j < block_frames; ++j) {
    if (right[j] != static_cast<uint8_t>(~left[j])) return j;
    if (j > 0 && left[j] != static_cast<uint8_t>(left[j - 1] + 1)) return j;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  console_setup();
  const int blocks = argc > 1 ? std::atoi(argv[1]) : 16;
  const int settle = argc > 2 ? std::atoi(argv[2]) : 0;
  allocate_buffers();
  set_format();
  if (open_capture() != block_frames) return 1;

  using clock = std::chrono::steady_clock;
  clock::time_point last = clock::now();
  double sum = 0;
  double low = 1e9;
  double high = 0;
  bool ok = true;
  for (int k = 0; k < blocks; ++k) {
    const int32_t n = read_block(left, right);
    const clock::time_point now = clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - last).count();
    last = now;
    const int32_t broken = n == block_frames ? pattern_break() : 0;
    const char* verdict = broken < 0 ? "" : k < settle ? " (settling)" : " BAD";
    console_print("block %d: %d samples, +%.1f ms, left[0]=%d%s\n", k, n, ms, left[0], verdict);
    if (k < settle) continue;
    if (broken >= 0) {
      console_print("  pattern broken at sample %d: left %d right %d after left %d\n", broken,
                    left[broken], right[broken], broken > 0 ? left[broken - 1] : -1);
      ok = false;
    }
    if (k == settle) continue;
    sum += ms;
    low = std::min(low, ms);
    high = std::max(high, ms);
  }
  if (blocks > settle + 1) {
    console_print("intervals: mean %.1f min %.1f max %.1f ms\n", sum / (blocks - settle - 1), low,
                  high);
  }
  stop_capture();
  release_buffers();
  console_print("released\n");
  return ok ? 0 : 1;
}
