#pragma once
// What the watch on the program's decoding path saw, placed in time, for the pictures.

#include <cstdint>

#include "decode/half_bit_ring.hpp"

namespace tavrel {

enum class WatchKind : uint8_t {
  block,  ///< a pass began: the window was emptied
  run,    ///< the slicer reported a run, dropped or not
  check,  ///< a half-bit was stored and the window ending with it tested
};

struct WatchEvent {
  WatchKind kind;
  bool inverted;      ///< the pass slices with invert set
  int64_t start;      ///< sample index from the start: the pass's first sample, the run's
                      ///< first sample, or the tested half-bit's first sample
  int32_t length;     ///< samples in the run or the half-bit; 0 for a block
  int32_t level;      ///< the run's or half-bit's level as push_run took it
  FrameCheck result;  ///< check only: the window's test
};

}  // namespace tavrel
