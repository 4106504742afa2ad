// Live input: allocate_buffers, set_format, open_capture, read_block, stop_capture and
// release_buffers, as the capture worker calls them.

#include "io/live_in.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "capture/wave_capture.hpp"

namespace tavrel {

std::string read_live(int channel, const SampleSink& take, const std::atomic<bool>& stop,
                      SoundFacts& facts) {
  allocate_buffers();
  set_format();
  if (open_capture() == 0) {
    release_buffers();
    return "the default sound input could not be opened";
  }
  facts.opened = true;
  facts.file_rate = sample_rate;
  facts.channels = 2;
  facts.other_peak = 0;
  if (take.start) take.start(sample_rate);
  const auto left = std::make_unique<uint8_t[]>(block_frames);
  const auto right = std::make_unique<uint8_t[]>(block_frames);
  while (!stop.load(std::memory_order_relaxed)) {
    // 0 after eleven waits without sound: the input stalled; keep waiting for it.
    const int32_t n = read_block(left.get(), right.get());
    if (n <= 0) continue;
    const uint8_t* mine = channel == 0 ? left.get() : right.get();
    const uint8_t* other = channel == 0 ? right.get() : left.get();
    const auto [low, high] = std::minmax_element(mine, mine + n);
    facts.peak = std::max({facts.peak, *high - 128, 128 - *low});
    const auto [other_low, other_high] = std::minmax_element(other, other + n);
    facts.other_peak = std::max({facts.other_peak, *other_high - 128, 128 - *other_low});
    facts.file_frames += n;
    take.take(mine, n);
  }
  stop_capture();
  release_buffers();
  return "";
}

}  // namespace tavrel
