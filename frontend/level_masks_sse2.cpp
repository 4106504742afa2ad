// SSE2, which every x86-64 processor has: 16 samples per compare, the marks gathered with
// movemask. Uses _mm_loadu_si128, _mm_xor_si128, _mm_storeu_si128, _mm_cmpgt_epi8,
// _mm_movemask_epi8.

#include <emmintrin.h>

#include "frontend/level_masks.hpp"
#include "frontend/level_slicer.hpp"

namespace tavrel {

LevelMasks mark_levels(uint8_t* samples) {
  // Flipping the top bit is the same as subtracting 128 from an unsigned byte.
  const __m128i middle = _mm_set1_epi8(static_cast<char>(0x80));
  // There is no signed "at or below": compare against the next value inside the band.
  const __m128i below_low = _mm_set1_epi8(static_cast<char>(low_threshold + 1));
  const __m128i below_high = _mm_set1_epi8(static_cast<char>(high_threshold - 1));
  LevelMasks m{0, 0};
  for (int32_t x = 0; x < mask_samples; x += 16) {
    auto* at = reinterpret_cast<__m128i*>(samples + x);
    const __m128i s = _mm_xor_si128(_mm_loadu_si128(at), middle);
    _mm_storeu_si128(at, s);
    const auto low = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(below_low, s)));
    const auto high = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(s, below_high)));
    m.low |= static_cast<uint64_t>(low) << x;
    m.high |= static_cast<uint64_t>(high) << x;
  }
  return m;
}

}  // namespace tavrel
