#pragma once
// One pass of the capture worker over a block of the right channel: slice what is due,
// hold the last samples back for the next pass.

#include <cstdint>

namespace tavrel {

constexpr int32_t carry_samples = 100;  ///< samples held back from each pass for the next
constexpr uint8_t middle_level = 128;   ///< unsigned sample of a silent input

/// Slices the `carry` samples held back at right[0..carry-1] and the `n` new samples
/// stored behind them, except the last 100, which are moved to right[0..99] unconverted
/// to be sliced first in the next pass. `right` holds at least carry + n samples and at
/// least 100. Fewer than 100 samples in all (a first pass that got nothing) slice
/// nothing; they are kept at the end of right[0..99], behind middle-level samples.
/// Returns the carry for the next pass, always 100. Worker thread.
int32_t feed_block(uint8_t* right, int32_t carry, int32_t n, int32_t invert);

}  // namespace tavrel
