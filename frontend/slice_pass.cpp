#include "frontend/slice_pass.hpp"

#include <cstring>

#include "frontend/level_slicer.hpp"

namespace tavrel {

void slice_pass(ChannelBuffers& buffers, int32_t n, int32_t invert) {
  const int32_t len = buffers.carry + n - carry_samples;
  slice_block(buffers.right, len, invert);
  if (len < 0) {
    // Only a first pass with fewer than carry_samples samples gets here (the program's has none,
    // a tool's may come from a very short file): there is nothing to carry, and the
    // middle level slices to nothing.
    std::memset(buffers.right, 128, carry_samples);
  } else {
    // Forward, one by one: the ranges overlap when len < carry_samples.
    for (int32_t j = 0; j < carry_samples; ++j) buffers.right[j] = buffers.right[len + j];
  }
  buffers.carry = carry_samples;
}

}  // namespace tavrel
