#pragma once
// Cuts one block of the analysis channel into timed high and low runs.

#include <cstdint>

namespace tavrel {

constexpr int8_t low_threshold = -22;  ///< signed samples at or below this are low
constexpr int8_t high_threshold = 22;  ///< signed samples at or above this are high

/// Converts samples 0..len-1 of `buffer` in place from unsigned (128 = middle) to signed,
/// resets the half-bit ring and reports every complete run to push_run, high runs with
/// level 1 (0 when `invert`). Samples at len and beyond are neither read nor changed; a
/// run still open at len is dropped. Worker thread.
void slice_block(uint8_t* buffer, int32_t len, int32_t invert);

/// Where slice_block will start on the unconverted samples 0..len-1: the first high
/// sample after a low one, or len. Lets a caller place the reported runs in time.
int32_t slice_start(const uint8_t* buffer, int32_t len);

}  // namespace tavrel
