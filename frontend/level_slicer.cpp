#include "frontend/level_slicer.hpp"

#include "decode/half_bit_ring.hpp"

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

void slice_block(uint8_t* buffer, int32_t len, int32_t invert) {
  int32_t i = slice_start(buffer, len);
  for (int32_t x = 0; x < len; ++x) buffer[x] = static_cast<uint8_t>(to_signed(buffer[x]));
  const int8_t* s = reinterpret_cast<const int8_t*>(buffer);

  reset();
  const int32_t high_level = invert ? 0 : 1;
  const int32_t low_level = invert ? 1 : 0;
  // Samples between the thresholds continue the run in progress.
  while (i < len) {
    int32_t high_run = 0;
    while (i < len && s[i] > low_threshold) ++i, ++high_run;
    if (i >= len) return;
    push_run(high_level, high_run);

    int32_t low_run = 0;
    while (i < len && s[i] < high_threshold) ++i, ++low_run;
    if (i >= len) return;
    push_run(low_level, low_run);

    ++i;  // the sample that ended the low run is not counted in the next high run
  }
}

}  // namespace tavrel
