// Frame by frame, for processors without a vector unit the build knows.

#include "io/stereo_split.hpp"

namespace tavrel {

void split_stereo(const uint8_t* frames, int32_t n, int channel, uint8_t* out) {
  for (int32_t i = 0; i < n; ++i) out[i] = frames[2 * i + channel];
}

}  // namespace tavrel
