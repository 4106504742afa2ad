#pragma once
// One channel out of interleaved 8-bit stereo, one file per instruction set (chosen by
// CMake, like the slicer's masks).

#include <cstdint>

namespace tavrel {

/// Copies channel `channel` (0 left, 1 right) of `n` stereo frames (left, right) to
/// out[0..n-1]. Any thread.
void split_stereo(const uint8_t* frames, int32_t n, int channel, uint8_t* out);

}  // namespace tavrel
