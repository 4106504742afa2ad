#pragma once
// One pass of the capture worker over a block: the block behind the carried samples is
// sliced, and its last samples are held back for the next pass. Apart from the worker
// loop, so that tools which feed recordings link it without the capture and the dialog.

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

}  // namespace tavrel
