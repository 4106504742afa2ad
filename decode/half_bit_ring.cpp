// Sliding-window frame recognition. Every stored half-bit is followed by a test of the
// whole window: no bit clock, no framing state. The 64-bit frame, bits in order of
// arrival, each bit sent as two half-bits, (0,1) for a 1 and (1,0) for a 0:
//
//   bits  0- 8   1 1 1 1 1 1 1 1 1      header
//   bits  9-13   D D D D P              row 0: four data bits, MSB first, even parity
//   ...          ...                    rows 1 to 8 alike
//   bits 54-58   D D D D P              row 9
//   bits 59-62   C C C C                even parity of each data column
//   bit  63      S                      stop bit: must be a valid pair, value ignored
//
// Rows 2-5 make id_high and rows 6-9 id_low; rows 0 and 1 are checked but not shown.

#include "decode/half_bit_ring.hpp"

#include <bit>
#include <limits>

#include "decode/read_register.hpp"

namespace tavrel {

HalfBitRing half_bit_ring;
std::atomic<int32_t> parity_check{1};
DecodeWatch* decode_watch = nullptr;

constexpr int32_t min_run = 8;        ///< samples; shorter runs are noise
constexpr int32_t long_run = 20;      ///< samples; from here a run spans two half-bits
constexpr int32_t max_run = 32;       ///< samples; longer runs are no tag signal
constexpr int header_half_bits = 18;  ///< nine 1 bits

void reset() {
  half_bit_ring.write_index = 0;
  half_bit_ring.count = 0;
}

uint64_t frame_data(uint64_t bits) {
  uint64_t data = 0;
  for (int r = 0; r < 10; ++r) {
    // Row r's data nibble sits above its parity bit, bit 13 + 5r from the start.
    data = data << 4 | ((bits >> (63 - 13 - 5 * r + 1)) & 0xF);
  }
  return data;
}

// Nine header 1 bits are 0,1,0,1,...; most windows fail within a few half-bits, so this
// test is kept small enough to inline into every push.
static bool header_at(const HalfBitRing& ring) {
  for (int k = 0; k < header_half_bits; ++k) {
    if (ring.levels[(ring.write_index + k) & (ring_size - 1)] != (k & 1)) return false;
  }
  return true;
}

// The rest of the frame test, for the rare window whose header passed.
[[gnu::noinline]] static FrameCheck check_after_header(const HalfBitRing& ring, bool check_parity,
                                                       Frame& frame) {
  const int32_t* h = ring.levels;
  const int32_t o = ring.write_index;
  constexpr int32_t wrap = ring_size - 1;

  uint64_t bits = 0x1FF;  // the header
  for (int p = 9; p < 64; ++p) {
    const int32_t first = h[(o + 2 * p) & wrap];
    const int32_t second = h[(o + 2 * p + 1) & wrap];
    if (first == second) return FrameCheck::manchester;
    bits = bits << 1 | static_cast<uint64_t>(first == 0);
  }

  if (check_parity) {
    uint64_t columns = 0;
    for (int r = 0; r < 10; ++r) {
      const uint64_t row = (bits >> (63 - 13 - 5 * r)) & 0x1F;  // four data bits + parity
      if (std::popcount(row) & 1) return FrameCheck::row_parity;
      columns ^= row >> 1;
    }
    if (columns != ((bits >> 1) & 0xF)) return FrameCheck::column_parity;
  }

  const uint64_t data = frame_data(bits);
  frame.bits = bits;
  frame.number.id_high = static_cast<int32_t>((data >> 16) & 0xFFFF);
  frame.number.id_low = static_cast<int32_t>(data & 0xFFFF);
  return FrameCheck::ok;
}

FrameCheck check_frame(const HalfBitRing& ring, bool check_parity, Frame& frame) {
  if (ring.count < ring_size) return FrameCheck::too_few;
  if (!header_at(ring)) return FrameCheck::header;
  return check_after_header(ring, check_parity, frame);
}

// The watched and the plain path are compiled apart, so that the program's path keeps
// only the one test of decode_watch per run.
template <bool watched>
static void store_half_bit(int32_t level) {
  HalfBitRing& ring = half_bit_ring;
  ring.levels[ring.write_index] = level;
  ring.write_index = (ring.write_index + 1) % ring_size;
  if (ring.count < std::numeric_limits<int32_t>::max()) ++ring.count;

  Frame frame;
  const bool check_parity = parity_check.load(std::memory_order_relaxed) != 0;
  const FrameCheck result = check_frame(ring, check_parity, frame);
  if (result == FrameCheck::ok) record(frame.number.id_high, frame.number.id_low);
  if constexpr (watched) decode_watch->checked(decode_watch->context, result, frame);
}

template <bool watched>
static void take_run(int32_t level, int32_t run_length) {
  if constexpr (watched) decode_watch->run(decode_watch->context, level, run_length);
  if (run_length < min_run || run_length > max_run) return;
  store_half_bit<watched>(level);
  // The level did not change at a bit-cell boundary: the run holds two half-bits, and
  // the window is tested between them as well.
  if (run_length >= long_run) store_half_bit<watched>(level);
}

void push_run(int32_t level, int32_t run_length) {
  if (decode_watch) [[unlikely]] {
    take_run<true>(level, run_length);
  } else {
    take_run<false>(level, run_length);
  }
}

}  // namespace tavrel
