// NEON on 64-bit ARM: 16 samples per compare. NEON has no movemask, so each lane's
// result keeps one bit of its own weight and the lanes are summed per half
// (vld1q_u8, veorq_u8, vst1q_u8, vcleq_s8, vcgeq_s8, vandq_u8, vaddv_u8).

#include <arm_neon.h>

#include "frontend/level_masks.hpp"
#include "frontend/level_slicer.hpp"

namespace tavrel {

// The 16 lanes of a compare result as 16 bits, lane 0 in bit 0.
static uint64_t lane_bits(uint8x16_t is, uint8x16_t weights) {
  const uint8x16_t w = vandq_u8(is, weights);
  return static_cast<uint64_t>(vaddv_u8(vget_low_u8(w))) |
         static_cast<uint64_t>(vaddv_u8(vget_high_u8(w))) << 8;
}

LevelMasks mark_levels(uint8_t* samples) {
  static constexpr uint8_t weight_table[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                               1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t weights = vld1q_u8(weight_table);
  const int8x16_t low = vdupq_n_s8(low_threshold);
  const int8x16_t high = vdupq_n_s8(high_threshold);
  LevelMasks m{0, 0};
  for (int32_t x = 0; x < mask_samples; x += 16) {
    // Flipping the top bit is the same as subtracting 128 from an unsigned byte.
    const uint8x16_t u = veorq_u8(vld1q_u8(samples + x), vdupq_n_u8(0x80));
    vst1q_u8(samples + x, u);
    const int8x16_t s = vreinterpretq_s8_u8(u);
    m.low |= lane_bits(vcleq_s8(s, low), weights) << x;
    m.high |= lane_bits(vcgeq_s8(s, high), weights) << x;
  }
  return m;
}

}  // namespace tavrel
