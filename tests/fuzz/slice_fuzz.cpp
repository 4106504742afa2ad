// Arbitrary bytes as blocks of samples. Every number reported must come from a window
// that, checked again here the slow way, is a valid frame carrying that number.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode/half_bit_ring.hpp"
#include "frontend/level_slicer.hpp"

namespace tavrel {

void record(int32_t id_high, int32_t id_low) {
  const HalfBitRing& ring = half_bit_ring;
  if (ring.count < ring_size) std::abort();
  int bit[64];
  for (int p = 0; p < 64; ++p) {
    const int a = ring.levels[(ring.write_index + 2 * p) % ring_size];
    const int b = ring.levels[(ring.write_index + 2 * p + 1) % ring_size];
    if (!((a == 0 && b == 1) || (a == 1 && b == 0))) std::abort();
    bit[p] = (a == 0) ? 1 : 0;
  }
  for (int p = 0; p < 9; ++p) {
    if (bit[p] != 1) std::abort();
  }
  if (parity_check.load() != 0) {
    for (int r = 0; r < 10; ++r) {
      int sum = 0;
      for (int j = 0; j < 5; ++j) sum += bit[9 + 5 * r + j];
      if (sum % 2 != 0) std::abort();
    }
    for (int c = 0; c < 4; ++c) {
      int sum = bit[59 + c];
      for (int r = 0; r < 10; ++r) sum += bit[9 + c + 5 * r];
      if (sum % 2 != 0) std::abort();
    }
  }
  int high = 0, low = 0;
  for (int r = 2; r < 6; ++r)
    for (int j = 0; j < 4; ++j) high = high * 2 + bit[9 + 5 * r + j];
  for (int r = 6; r < 10; ++r)
    for (int j = 0; j < 4; ++j) low = low * 2 + bit[9 + 5 * r + j];
  if (high != id_high || low != id_low) std::abort();
}

}  // namespace tavrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte picks the options and the block length; the rest is signal.
  const int32_t invert = data[0] & 1;
  tavrel::parity_check = (data[0] >> 1) & 1;
  const size_t block = 64 + (data[0] >> 2) * 200;
  std::vector<uint8_t> samples(data + 1, data + size);
  for (size_t at = 0; at < samples.size(); at += block) {
    const size_t len = std::min(block, samples.size() - at);
    tavrel::slice_block(samples.data() + at, static_cast<int32_t>(len), invert);
  }
  return 0;
}
