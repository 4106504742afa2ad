#include "tests/support/plain_decoder.hpp"

#include "decode/read_register.hpp"
#include "frontend/level_slicer.hpp"

namespace tavrel::test {

void plain_slice(uint8_t* buffer, int32_t len, int32_t invert, RunTaker take, void* context) {
  auto* s = reinterpret_cast<int8_t*>(buffer);
  for (int32_t x = 0; x < len; ++x) s[x] = static_cast<int8_t>(buffer[x] - 128);
  int32_t i = 0;
  while (i < len && s[i] > low_threshold) ++i;
  while (i < len && s[i] < high_threshold) ++i;
  while (i < len) {
    int32_t k = 0;
    while (i < len && s[i] > low_threshold) ++i, ++k;
    if (i >= len) return;
    take(context, invert ? 0 : 1, k);
    int32_t m = 0;
    while (i < len && s[i] < high_threshold) ++i, ++m;
    if (i >= len) return;
    take(context, invert ? 1 : 0, m);
    ++i;
  }
}

FrameCheck plain_check(const HalfBitRing& ring, bool check_parity, uint64_t& bits) {
  if (ring.count < ring_size) return FrameCheck::too_few;
  const auto h = [&ring](int k) { return ring.levels[(ring.write_index + k) % ring_size]; };
  // Nine 1 bits, (0, 1) each; the first data bit may be 1 as well.
  for (int k = 0; k < 18; ++k) {
    if (h(k) != k % 2) return FrameCheck::header;
  }
  int bit[64];
  for (int p = 0; p < 64; ++p) {
    if (h(2 * p) == 0 && h(2 * p + 1) == 1) {
      bit[p] = 1;
    } else if (h(2 * p) == 1 && h(2 * p + 1) == 0) {
      bit[p] = 0;
    } else {
      return FrameCheck::manchester;
    }
  }
  if (check_parity) {
    for (int r = 0; r < 10; ++r) {
      const int sum = bit[9 + 5 * r] + bit[10 + 5 * r] + bit[11 + 5 * r] + bit[12 + 5 * r];
      if (sum % 2 != bit[13 + 5 * r]) return FrameCheck::row_parity;
    }
    for (int c = 0; c < 4; ++c) {
      int sum = 0;
      for (int r = 0; r < 10; ++r) sum += bit[9 + c + 5 * r];
      if (sum % 2 != bit[59 + c]) return FrameCheck::column_parity;
    }
  }
  if (bit[63] != 0) return FrameCheck::stop_bit;
  bits = 0;
  for (int p = 0; p < 64; ++p) bits = bits << 1 | static_cast<uint64_t>(bit[p]);
  return FrameCheck::ok;
}

static void plain_store(HalfBitRing& ring, bool check_parity, int32_t level) {
  ring.levels[ring.write_index] = level;
  ring.write_index = (ring.write_index + 1) % ring_size;
  ring.count += 1;
  uint64_t bits = 0;
  if (plain_check(ring, check_parity, bits) != FrameCheck::ok) return;
  // Data rows 2-5 and 6-9, four bits each behind the header and two earlier rows.
  int32_t id[2] = {0, 0};
  for (int r = 2; r < 10; ++r) {
    for (int j = 0; j < 4; ++j) id[r / 6] = id[r / 6] * 2 + ((bits >> (63 - 9 - 5 * r - j)) & 1);
  }
  record(id[0], id[1]);
}

void plain_push_run(HalfBitRing& ring, bool check_parity, int32_t level, int32_t run_length) {
  if (run_length < 8 || run_length > 32) return;
  plain_store(ring, check_parity, level);
  if (run_length >= 20) plain_store(ring, check_parity, level);
}

}  // namespace tavrel::test
