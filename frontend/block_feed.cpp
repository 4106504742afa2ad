#include "frontend/block_feed.hpp"

#include <algorithm>
#include <cstring>

#include "frontend/level_slicer.hpp"

namespace tavrel {

int32_t feed_block(uint8_t* right, int32_t carry, int32_t n, int32_t invert) {
  const int32_t len = carry + n - carry_samples;
  slice_block(right, len, invert);
  if (len >= 0) {
    // The ranges overlap when len < 100; as the target lies before the source, memmove
    // gives what copying one by one from the front would.
    std::memmove(right, right + len, carry_samples);
  } else {
    // Nothing before right[0] to carry: keep what there is as the newest samples, so
    // that the next block still follows it without a gap.
    const int32_t kept = std::max(carry + n, 0);
    std::memmove(right + carry_samples - kept, right, static_cast<size_t>(kept));
    std::fill(right, right + carry_samples - kept, middle_level);
  }
  return carry_samples;
}

}  // namespace tavrel
