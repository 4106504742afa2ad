// SSE2, which every x86-64 processor has: the four products of a sample with its
// references in one multiply-add of 16-bit pairs, and eight samples' differences at once.
// Uses _mm_loadl_epi64, _mm_unpacklo_epi8, _mm_unpacklo_epi16, _mm_slli_si128,
// _mm_insert_epi16, _mm_sub_epi16, _mm_sad_epu8, _mm_shufflelo_epi16, _mm_shufflehi_epi16,
// _mm_shuffle_epi32, _mm_set1_epi32, _mm_madd_epi16, _mm_add_epi32, _mm_loadu_si128,
// _mm_storeu_si128, _mm_cvtsi128_si64.

#include <emmintrin.h>

#include <algorithm>

#include "lf/demod/fsk_sums.hpp"

namespace tavrel {

// The 16-bit difference `j` of `u` in every 16-bit lane.
template <int j>
static __m128i spread(__m128i u) {
  if constexpr (j < 4) {
    return _mm_shuffle_epi32(_mm_shufflelo_epi16(u, j * 0x55), 0x00);
  } else {
    return _mm_shuffle_epi32(_mm_shufflehi_epi16(u, (j - 4) * 0x55), 0xAA);
  }
}

// One sample's difference (in the low 16 bits of each 32-bit lane; the high bits meet the
// reference's zero) times its references, into the running sums.
static __m128i add_products(__m128i acc, __m128i u, const FskReference& reference) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i r =
      _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&reference)), zero);
  return _mm_add_epi32(acc, _mm_madd_epi16(u, r));
}

template <int j>
static void eight_step(__m128i& acc, __m128i u, const FskReference* reference, __m128i* out) {
  acc = add_products(acc, spread<j>(u), reference[j]);
  _mm_storeu_si128(out + j, acc);
}

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
    int32_t i = 0;
    for (; i + 8 <= m; i += 8) {
      // The eight samples' differences from the ones before them, as 16-bit numbers.
      const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + i));
      const __m128i x = _mm_unpacklo_epi8(bytes, zero);
      const __m128i u = _mm_sub_epi16(x, _mm_insert_epi16(_mm_slli_si128(x, 2), previous, 0));
      previous = samples[i + 7];
      total += _mm_cvtsi128_si64(_mm_sad_epu8(bytes, zero));
      eight_step<0>(acc, u, reference + i, out + i);
      eight_step<1>(acc, u, reference + i, out + i);
      eight_step<2>(acc, u, reference + i, out + i);
      eight_step<3>(acc, u, reference + i, out + i);
      eight_step<4>(acc, u, reference + i, out + i);
      eight_step<5>(acc, u, reference + i, out + i);
      eight_step<6>(acc, u, reference + i, out + i);
      eight_step<7>(acc, u, reference + i, out + i);
    }
    for (; i < m; ++i) {
      const int32_t x = samples[i];
      // Each 32-bit lane: (u, its sign) times (reference, 0), so u * reference exactly.
      acc = add_products(acc, _mm_set1_epi32(x - previous), reference[i]);
      previous = x;
      total += x;
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
