#pragma once
// The slicer's inner step, one file per instruction set (chosen by CMake): 64 samples
// converted to signed and classified at once, so that the slicer finds run ends by bit
// scans instead of testing sample after sample.

#include <cstdint>

namespace tavrel {

constexpr int32_t mask_samples = 64;  ///< samples classified by one call

/// Which of 64 samples lie at or beyond each threshold: bit x for sample x.
struct LevelMasks {
  uint64_t low;   ///< samples at or below low_threshold
  uint64_t high;  ///< samples at or above high_threshold
};

/// Converts samples[0..63] in place from unsigned (128 = middle) to signed and returns
/// which are low and which are high. Worker thread (any thread: no state).
LevelMasks mark_levels(uint8_t* samples);

}  // namespace tavrel
