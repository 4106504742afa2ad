// NEON, which every 64-bit ARM processor has: the four products of a sample with its
// references in one widening multiply-accumulate. Uses vld1q_s32, vld1_s16, vdup_n_s16,
// vmlal_s16, vst1q_s32.

#include <arm_neon.h>

#include "lf/demod/fsk_sums.hpp"

namespace tavrel {

int64_t fsk_sum(FskDemod& d, const uint8_t* samples, int32_t n) {
  // The sums wrap as unsigned; in two's complement the signed lanes wrap the same.
  int32x4_t acc = vld1q_s32(reinterpret_cast<const int32_t*>(d.sums[d.taken & (fsk_ring - 1)].v));
  int32_t previous = d.previous;
  int32_t at = d.table_at;
  int64_t total = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t x = samples[i];
    const int16x4_t u = vdup_n_s16(static_cast<int16_t>(x - previous));
    previous = x;
    total += x;
    acc = vmlal_s16(acc, u, vld1_s16(d.table[at].v));
    if (++at == d.table_size) at = 0;
    vst1q_s32(reinterpret_cast<int32_t*>(d.sums[(d.taken + 1 + i) & (fsk_ring - 1)].v), acc);
  }
  d.previous = previous;
  d.table_at = at;
  return total;
}

}  // namespace tavrel
