// NEON: 16 frames per step, vld2q_u8 deinterleaving them as it loads, vst1q_u8.

#include <arm_neon.h>

#include "io/stereo_split.hpp"

namespace tavrel {

void split_stereo(const uint8_t* frames, int32_t n, int channel, uint8_t* out) {
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const uint8x16x2_t both = vld2q_u8(frames + 2 * i);
    vst1q_u8(out + i, channel == 0 ? both.val[0] : both.val[1]);
  }
  for (; i < n; ++i) out[i] = frames[2 * i + channel];
}

}  // namespace tavrel
