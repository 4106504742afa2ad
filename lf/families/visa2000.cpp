// Visa2000: Manchester at RF/64, 96 symbols, each repetition after a sequence terminator
// (every 100 symbols):
//
//   symbols  0-31   56495332 ("VIS2"), the sync
//            32-63  card number, printed in decimal
//            64-83  zeros
//            84-91  a parity bit per card-number nibble, the highest first, each giving
//                   its nibble even weight
//            92-95  XOR of the 8 card-number nibbles

#include <bit>
#include <cstdio>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, length, sync, zeros, parity, checksum, reason_end };
constexpr const char* reasons[] = {"passed", "length", "sync", "zeros", "parity", "checksum"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "card", nullptr};

// The parity bits and the XOR nibble that follow card number `card`, as sent.
uint64_t checks_of(uint64_t card) {
  uint64_t parities = 0;
  unsigned x = 0;
  for (int k = 7; k >= 0; --k) {
    const auto nibble = static_cast<unsigned>(card >> (4 * k) & 0xF);
    parities = parities << 1 | static_cast<uint64_t>(std::popcount(nibble) & 1);
    x ^= nibble;
  }
  return parities << 4 | x;
}

Verdict decode(const FrameBits& f, Fields& out) {
  if (f.count != 96) return length;
  if (frame_field(f, 0, 32) != 0x56495332) return sync;
  if (frame_field(f, 64, 20) != 0) return zeros;
  const uint64_t card = frame_field(f, 32, 32);
  const uint64_t want = checks_of(card);
  if (frame_field(f, 84, 8) != want >> 4) return parity;
  if (frame_field(f, 92, 4) != (want & 0xF)) return checksum;
  field_text(out, "number", "%llu", static_cast<unsigned long long>(card));
  field_integer(out, "card", static_cast<int64_t>(card));
  return passed;
}

// The card number in decimal.
bool encode(const char* text, FrameBits& f) {
  uint64_t card;
  if (parse_numbers(text, 0, &card, 1) != 1 || card >> 32) return false;
  f = FrameBits{};
  frame_append(f, 0x56495332, 32);
  frame_append(f, card, 32);
  frame_append(f, 0, 20);
  frame_append(f, checks_of(card), 12);
  return true;
}

}  // namespace

// The nibble parities see any single error and the XOR any two in one nibble, so every
// error of up to two symbols shows: two frames in a row.
extern const Family family_visa2000 = {
    .name = "visa2000",
    .title = "Visa2000",
    .modulation = Modulation::ask_manchester,
    .rates = {64, 0, 0},
    .frame_symbols = 96,
    .gap_symbols = 4,
    .sure_frames = 2,
    .sync = 0x56495332,
    .sync_symbols = 32,
    .either_polarity = true,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "CARD (decimal, e.g. 480518)",
    .example = "480518",
    .printed = "the card number, in decimal",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
