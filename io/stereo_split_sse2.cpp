// SSE2: 16 frames per step. Each frame is a 16-bit lane, left in its low byte; the wanted
// byte is moved low (_mm_and_si128 or _mm_srli_epi16) and two registers of lanes are
// packed into one of bytes (_mm_packus_epi16).

#include <emmintrin.h>

#include "io/stereo_split.hpp"

namespace tavrel {

void split_stereo(const uint8_t* frames, int32_t n, int channel, uint8_t* out) {
  const __m128i low_bytes = _mm_set1_epi16(0x00FF);
  int32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + 2 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + 2 * i + 16));
    if (channel == 0) {
      a = _mm_and_si128(a, low_bytes);
      b = _mm_and_si128(b, low_bytes);
    } else {
      a = _mm_srli_epi16(a, 8);
      b = _mm_srli_epi16(b, 8);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
  for (; i < n; ++i) out[i] = frames[2 * i + channel];
}

}  // namespace tavrel
