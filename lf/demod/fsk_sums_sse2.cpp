// SSE2, which every x86-64 processor has: the four products of a sample with its
// references in one multiply-add of 16-bit pairs. Uses _mm_set1_epi32, _mm_loadl_epi64,
// _mm_unpacklo_epi16, _mm_madd_epi16, _mm_add_epi32, _mm_loadu_si128, _mm_storeu_si128.

#include <emmintrin.h>

#include <algorithm>

#include "lf/demod/fsk_sums.hpp"

namespace tavrel {

int64_t fsk_sum(FskDemod& d, const uint8_t* samples, int32_t n) {
  __m128i acc =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(&d.sums[d.taken & (fsk_ring - 1)]));
  const __m128i zero = _mm_setzero_si128();
  int32_t previous = d.previous;
  int32_t at = d.table_at;
  int64_t next = d.taken + 1;  // the sum after the next sample
  int64_t total = 0;
  while (n > 0) {
    // A stretch in which neither the ring nor the table of references wraps.
    const auto ring_at = static_cast<int32_t>(next & (fsk_ring - 1));
    const int32_t m = std::min({n, fsk_ring - ring_at, d.table_size - at});
    __m128i* out = reinterpret_cast<__m128i*>(&d.sums[ring_at]);
    const FskReference* reference = &d.table[at];
    for (int32_t i = 0; i < m; ++i) {
      const int32_t x = samples[i];
      // Each 32-bit lane: (u, its sign) times (reference, 0), so u * reference exactly.
      const __m128i u = _mm_set1_epi32(x - previous);
      previous = x;
      total += x;
      const __m128i r = _mm_unpacklo_epi16(
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&reference[i])), zero);
      acc = _mm_add_epi32(acc, _mm_madd_epi16(u, r));
      _mm_storeu_si128(out + i, acc);
    }
    samples += m;
    n -= m;
    next += m;
    at += m;
    if (at == d.table_size) at = 0;
  }
  d.previous = previous;
  d.table_at = at;
  return total;
}

}  // namespace tavrel
