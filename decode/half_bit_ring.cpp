// Sliding-window frame recognition. Every stored half-bit is followed by a test of the
// whole window: no bit clock, no framing state. The 64-bit frame, bits in order of
// arrival, each bit sent as two half-bits, (0,1) for a 1 and (1,0) for a 0:
//
//   bits  0- 8   1 1 1 1 1 1 1 1 1      header
//   bits  9-13   D D D D P              row 0: four data bits, MSB first, even parity
//   ...          ...                    rows 1 to 8 alike
//   bits 54-58   D D D D P              row 9
//   bits 59-62   C C C C                even parity of each data column
//   bit  63      0                      stop bit
//
// Rows 2-5 make id_high and rows 6-9 id_low; rows 0 and 1 are checked but not shown.
// The header test alone passes windows up to nine bits late when the first data bits are
// 1; the stop bit 0 rejects them all, since there it falls on a 1 of the next header.

#include "decode/half_bit_ring.hpp"

#include <bit>
#include <limits>

#include "decode/read_register.hpp"

namespace tavrel {

HalfBitRing half_bit_ring;
std::atomic<int32_t> parity_check{1};
DecodeWatch* decode_watch = nullptr;

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

// In `older` and `newer` each pair of half-bits is an odd bit (the first) and the even
// bit below it; these masks pick the even bits.
constexpr uint64_t second_halves = 0x5555'5555'5555'5555;
// The window's first 18 half-bits, h(0) at the top: the nine header 1 bits, (0, 1) each.
// The tenth pair is left to the Manchester test, so tags whose first data bit is 1 are
// read too.
constexpr uint64_t header_pattern = 0x1'5555;
constexpr int header_shift = 64 - 18;

// Whether the two half-bits of every pair in `half_bits` differ.
static bool pairs_differ(uint64_t half_bits) {
  return ((half_bits ^ (half_bits >> 1)) & second_halves) == second_halves;
}

// The 32 bit values of 32 valid pairs, first pair in bit 31: a bit is 1 when its first
// half-bit is 0. The even bits are gathered by halving the gaps between them.
static uint64_t pair_values(uint64_t half_bits) {
  uint64_t x = (~half_bits >> 1) & second_halves;
  x = (x | x >> 1) & 0x3333'3333'3333'3333;
  x = (x | x >> 2) & 0x0F0F'0F0F'0F0F'0F0F;
  x = (x | x >> 4) & 0x00FF'00FF'00FF'00FF;
  x = (x | x >> 8) & 0x0000'FFFF'0000'FFFF;
  x = (x | x >> 16) & 0x0000'0000'FFFF'FFFF;
  return x;
}

FrameCheck check_frame(const HalfBitRing& ring, bool check_parity, Frame& frame) {
  if (ring.count < ring_size) return FrameCheck::too_few;
  // One compare for the whole header and two for every pair: no branch per half-bit.
  if (ring.older >> header_shift != header_pattern) return FrameCheck::header;
  if (!pairs_differ(ring.older) || !pairs_differ(ring.newer)) return FrameCheck::manchester;
  const uint64_t bits = pair_values(ring.older) << 32 | pair_values(ring.newer);

  if (check_parity) {
    uint64_t columns = 0;
    for (int r = 0; r < 10; ++r) {
      const uint64_t row = (bits >> (63 - 13 - 5 * r)) & 0x1F;  // four data bits + parity
      if (std::popcount(row) & 1) return FrameCheck::row_parity;
      columns ^= row >> 1;
    }
    if (columns != ((bits >> 1) & 0xF)) return FrameCheck::column_parity;
  }
  if (bits & 1) return FrameCheck::stop_bit;

  const uint64_t data = frame_data(bits);
  frame.bits = bits;
  frame.number.id_high = static_cast<int32_t>((data >> 16) & 0xFFFF);
  frame.number.id_low = static_cast<int32_t>(data & 0xFFFF);
  return FrameCheck::ok;
}

// The watched and the plain path are compiled apart, so that the program's path keeps
// only the one test of decode_watch per run.
template <bool watched>
static void store_half_bit(int32_t level) {
  HalfBitRing& ring = half_bit_ring;
  const int32_t at = ring.write_index;
  ring.levels[at] = level;
  ring.write_index = (at + 1) & (ring_size - 1);  // ring_size is a power of two
  const uint64_t older = ring.older << 1 | ring.newer >> 63;
  const uint64_t newer = ring.newer << 1 | static_cast<uint64_t>(level & 1);
  ring.older = older;
  ring.newer = newer;
  const int32_t count = ring.count + (ring.count < std::numeric_limits<int32_t>::max() ? 1 : 0);
  ring.count = count;
  // Nearly every window ends at the count or the header: tested here on the values at
  // hand, before the option is read (an atomic, which makes the compiler reload the ring).
  if constexpr (!watched) {
    if (count < ring_size || older >> header_shift != header_pattern) return;
  }

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
