#pragma once
// The processing loop: block after block from the sound input through the slicer.

#include <cstdint>

namespace tavrel {

constexpr int32_t channel_buffer_samples = 96000;  ///< room per channel, far above one block
constexpr int32_t carry_samples = 100;  ///< samples held back and sliced with the next block

/// The worker's two channel buffers. Each block lands at offset `carry`; only the right
/// channel is analysed.
struct ChannelBuffers {
  uint8_t left[channel_buffer_samples];
  uint8_t right[channel_buffer_samples];
  int32_t carry;  ///< samples at the start of `right` held back from the previous block
};

/// Slices one block of `n` new samples already stored at right + carry, with everything
/// carried before it except the last carry_samples, which are moved to the start for the
/// next block. Worker thread.
void slice_pass(ChannelBuffers& buffers, int32_t n, int32_t invert);

/// Thread entry: opens the sound input, slices block after block while run_flag is set,
/// then closes it, ends the console line and sets worker_done. Returns 0.
int capture_worker();

}  // namespace tavrel
