#include "frontend/level_slicer.hpp"

#include <bit>
#include <cstring>

#include "decode/half_bit_ring.hpp"
#include "frontend/level_masks.hpp"

namespace tavrel {

static int8_t to_signed(uint8_t sample) {
  return static_cast<int8_t>(sample - 128);
}

int32_t slice_start(const uint8_t* buffer, int32_t len) {
  // The first rising crossing: skip to a low sample, then to the next high one.
  int32_t i = 0;
  while (i < len && to_signed(buffer[i]) > low_threshold) ++i;
  while (i < len && to_signed(buffer[i]) < high_threshold) ++i;
  return i;
}

// The block seen 64 samples at a time. Each stretch is converted and marked once, when
// the search first reaches it, so every sample below len is converted exactly once.
struct Scan {
  uint8_t* buffer;
  int32_t len;       ///< samples to slice
  int32_t base;      ///< index of the first sample of the marked stretch
  LevelMasks masks;  ///< marks of samples base .. base + 63
};

static void mark_at(Scan& s, int32_t base) {
  s.base = base;
  const int32_t n = s.len - base;
  if (n >= mask_samples) {
    s.masks = mark_levels(s.buffer + base);
    return;
  }
  // The last, short stretch: samples at len and behind are neither read nor changed.
  // The middle level pads it, marking nothing.
  uint8_t tail[mask_samples];
  std::memset(tail, 128, sizeof tail);
  std::memcpy(tail, s.buffer + base, static_cast<size_t>(n));
  s.masks = mark_levels(tail);
  std::memcpy(s.buffer + base, tail, static_cast<size_t>(n));
}

// The first sample at or after i (i >= s.base) that is low, or high, or len when none is.
template <bool low>
static int32_t next_marked(Scan& s, int32_t i) {
  const int32_t offset = i - s.base;
  uint64_t m = 0;
  if (offset < mask_samples) m = (low ? s.masks.low : s.masks.high) & (~uint64_t{0} << offset);
  while (m == 0) {
    if (s.base + mask_samples >= s.len) return s.len;
    mark_at(s, s.base + mask_samples);
    m = low ? s.masks.low : s.masks.high;
  }
  return s.base + std::countr_zero(m);
}

void slice_block(uint8_t* buffer, int32_t len, int32_t invert) {
  if (len <= 0) {
    reset();
    return;
  }
  Scan s{buffer, len, 0, {}};
  mark_at(s, 0);
  // The first rising crossing: a low sample, then the next high one.
  int32_t i = next_marked<true>(s, 0);
  if (i < len) i = next_marked<false>(s, i);

  reset();
  const int32_t high_level = invert ? 0 : 1;
  const int32_t low_level = invert ? 1 : 0;
  // Samples between the thresholds continue the run in progress; a run still open at
  // len is dropped.
  while (i < len) {
    const int32_t low_at = next_marked<true>(s, i);
    if (low_at >= len) break;
    push_run(high_level, low_at - i);
    const int32_t high_at = next_marked<false>(s, low_at);
    if (high_at >= len) break;
    push_run(low_level, high_at - low_at);
    i = high_at + 1;  // the sample that ended the low run is not counted in the next high run
  }
  // Each search that gave up has marked up to len already; this keeps any other way out
  // of the loop from leaving samples unconverted.
  while (s.base + mask_samples < len) mark_at(s, s.base + mask_samples);
}

}  // namespace tavrel
