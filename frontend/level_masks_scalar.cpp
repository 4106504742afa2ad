// Sample by sample, for processors without a vector unit the build knows.

#include "frontend/level_masks.hpp"
#include "frontend/level_slicer.hpp"

namespace tavrel {

LevelMasks mark_levels(uint8_t* samples) {
  LevelMasks m{0, 0};
  for (int32_t x = 0; x < mask_samples; ++x) {
    const auto s = static_cast<int8_t>(samples[x] - 128);
    samples[x] = static_cast<uint8_t>(s);
    m.low |= static_cast<uint64_t>(s <= low_threshold) << x;
    m.high |= static_cast<uint64_t>(s >= high_threshold) << x;
  }
  return m;
}

}  // namespace tavrel
