// Arbitrary bytes as blocks of samples, sliced by the fast slicer and by the plain one:
// both must give the same runs and the same converted samples, and the fast frame test
// must agree with the plain one on every window. Every number reported must come from a
// window that, checked again here the slow way, is a valid frame carrying that number.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode/half_bit_ring.hpp"
#include "frontend/level_slicer.hpp"
#include "tests/support/plain_decoder.hpp"

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

namespace {

struct Run {
  int32_t level;
  int32_t length;
};

std::vector<Run> fast_runs;
std::vector<Run> plain_runs;

void on_run(void*, int32_t level, int32_t run_length) {
  fast_runs.push_back({level, run_length});
}

void on_plain_run(void*, int32_t level, int32_t run_length) {
  plain_runs.push_back({level, run_length});
}

void on_check(void*, tavrel::FrameCheck result, const tavrel::Frame& frame) {
  uint64_t bits = 0;
  const bool parity = tavrel::parity_check.load() != 0;
  if (tavrel::test::plain_check(tavrel::half_bit_ring, parity, bits) != result) std::abort();
  if (result == tavrel::FrameCheck::ok && bits != frame.bits) std::abort();
}

tavrel::DecodeWatch watch{on_run, on_check, nullptr};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte picks the options and the block length; the rest is signal.
  const int32_t invert = data[0] & 1;
  tavrel::parity_check = (data[0] >> 1) & 1;
  const size_t block = 1 + (data[0] >> 2) * 67;  // 1 to 4222 samples, every offset in a word
  std::vector<uint8_t> samples(data + 1, data + size);
  std::vector<uint8_t> plain = samples;
  tavrel::decode_watch = &watch;
  for (size_t at = 0; at < samples.size(); at += block) {
    const auto len = static_cast<int32_t>(std::min(block, samples.size() - at));
    fast_runs.clear();
    plain_runs.clear();
    tavrel::slice_block(samples.data() + at, len, invert);
    tavrel::test::plain_slice(plain.data() + at, len, invert, on_plain_run, nullptr);
    // Same runs, and the same bytes, converted below len and untouched behind it.
    if (fast_runs.size() != plain_runs.size()) std::abort();
    for (size_t r = 0; r < fast_runs.size(); ++r) {
      if (fast_runs[r].level != plain_runs[r].level) std::abort();
      if (fast_runs[r].length != plain_runs[r].length) std::abort();
    }
    if (samples != plain) std::abort();
  }
  tavrel::decode_watch = nullptr;
  return 0;
}
