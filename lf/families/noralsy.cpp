// Noralsy: Manchester at RF/32, 96 symbols, each repetition after a sequence terminator
// (every 100 symbols):
//
//   symbols  0-31   BB0214FF (BB0314FF reported too)    56-63  c3 c2
//            32-43  card digits c6 c5 c4 (BCD)          64-71  c1 c0
//            44-51  year, 2 BCD digits                  72-75  XOR of the nibbles 32-71
//            52-55  0000                                76-79  XOR of the nibbles 0-75
//                                                       80-95  zeros
//
// The sync is the 15 symbols both headers share; the check takes either header.

#include <cstdio>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, length, header, zeros, bcd, checksum, reason_end };
constexpr const char* reasons[] = {"passed", "length", "header", "zeros", "bcd", "checksum"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "card", "year", nullptr};

// XOR of `count` nibbles from symbol `first` on.
unsigned nibbles_xor(const FrameBits& f, int32_t first, int32_t count) {
  unsigned x = 0;
  for (int32_t k = 0; k < count; ++k) x ^= static_cast<unsigned>(frame_field(f, first + 4 * k, 4));
  return x;
}

Verdict decode(const FrameBits& f, Fields& out) {
  if (f.count != 96) return length;
  const uint64_t head = frame_field(f, 0, 32);
  if (head != 0xBB0214FF && head != 0xBB0314FF) return header;
  if (frame_field(f, 52, 4) != 0 || frame_field(f, 80, 16) != 0) return zeros;
  const uint64_t digits = frame_field(f, 32, 12) << 16 | frame_field(f, 56, 16);
  const int64_t card = bcd_value(digits, 7);
  const int64_t yy = bcd_value(frame_field(f, 44, 8), 2);
  if (card < 0 || yy < 0) return bcd;
  if (nibbles_xor(f, 32, 10) != frame_field(f, 72, 4) ||
      nibbles_xor(f, 0, 19) != frame_field(f, 76, 4))
    return checksum;
  field_text(out, "number", "%lld", static_cast<long long>(card));
  field_integer(out, "card", card);
  field_integer(out, "year", yy <= 60 ? 2000 + yy : 1900 + yy);
  return passed;
}

// "CARD:YEAR": up to 7 digits, the year 1961-2060 (or its last two digits).
bool encode(const char* text, FrameBits& f) {
  uint64_t v[2];
  if (parse_numbers(text, ':', v, 2) != 2 || v[0] > 9999999) return false;
  if (v[1] >= 100 && (v[1] < 1961 || v[1] > 2060)) return false;
  const uint64_t digits = to_bcd(v[0], 7);
  f = FrameBits{};
  frame_append(f, 0xBB0214FF, 32);
  frame_append(f, digits >> 16, 12);
  frame_append(f, to_bcd(v[1] % 100, 2), 8);
  frame_append(f, 0, 4);
  frame_append(f, digits & 0xFFFF, 16);
  frame_append(f, nibbles_xor(f, 32, 10), 4);
  frame_append(f, nibbles_xor(f, 0, 19), 4);
  frame_append(f, 0, 16);
  return true;
}

}  // namespace

// Two nibble XORs miss two flips in the same bit place of two digits (BCD catches some):
// three frames in a row, as for Viking.
extern const Family family_noralsy = {
    .name = "noralsy",
    .title = "Noralsy",
    .modulation = Modulation::ask_manchester,
    .rates = {32, 0, 0},
    .frame_symbols = 96,
    .gap_symbols = 4,
    .sure_frames = 3,
    .sync = 0x5D81,
    .sync_symbols = 15,
    .either_polarity = true,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "CARD:YEAR, e.g. 112233:2000",
    .example = "112233:2000",
    .printed = "the card number, up to 7 digits (year holds the card's year)",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
