// Guardall G-Prox II: biphase at RF/64, 96 symbols back to back:
//
//   symbols  0-5    111110, the sync (the groups never hold five 1s in a row)
//            6-95   18 groups: 4 data bits, then a 0 spacer -> 72 data bits
//
// The data bits make 9 bytes, each LSB-first. The first is a key sent in clear; the
// others XOR the key are plain[0..7]:
//   plain[0]     Wiegand length N (26 or 36) << 2, and two bits of unknown meaning
//   plain[1..2]  01 00
//   plain[3..7]  the Wiegand message, MSB-first, left-aligned, the rest 0
// N = 26: FC bits 1-8, CN 9-24. N = 36: FC bits 1-14, CN 15-34.

#include <cstdio>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict {
  passed,
  length,
  sync,
  spacer,
  fixed,
  bits_count,
  padding,
  parity,
  ambiguous,
  reason_end
};
constexpr const char* reasons[] = {"passed", "length",  "sync",   "spacer",   "fixed",
                                   "bits",   "padding", "parity", "ambiguous"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "bits", "facility", "card", nullptr};

// Facility bits of a message of N bits; the card bits follow up to the last parity.
int32_t facility_bits(int32_t n) {
  return n == 26 ? 8 : 14;
}

Verdict read(const FrameBits& f, Fields& out) {
  if (f.count != 96) return length;
  if (frame_field(f, 0, 6) != 0b111110) return sync;
  uint8_t bytes[9] = {};
  for (int32_t g = 0; g < 18; ++g) {
    const uint64_t group = frame_field(f, 6 + 5 * g, 5);
    if (group & 1) return spacer;
    for (int32_t i = 0; i < 4; ++i) {
      const int32_t j = 4 * g + i;  // data bit
      bytes[j / 8] |= static_cast<uint8_t>((group >> (4 - i) & 1) << (j % 8));
    }
  }
  uint8_t plain[8];
  for (int j = 0; j < 8; ++j) plain[j] = bytes[j + 1] ^ bytes[0];
  if (plain[1] != 0x01 || plain[2] != 0x00) return fixed;
  const int32_t n = plain[0] >> 2;
  if (n != 26 && n != 36) return bits_count;
  uint64_t message = 0;
  for (int j = 3; j < 8; ++j) message = message << 8 | plain[j];
  if (message & ((uint64_t{1} << (40 - n)) - 1)) return padding;
  const uint64_t w = message >> (40 - n);
  if (!wiegand_parity_ok(w, n)) return parity;
  const int32_t card_bits = n - 2 - facility_bits(n);
  const auto facility =
      static_cast<int64_t>(w >> (card_bits + 1) & ((uint64_t{1} << facility_bits(n)) - 1));
  const auto card = static_cast<int64_t>(w >> 1 & ((uint64_t{1} << card_bits) - 1));
  field_text(out, "number", "%d-bit FC %lld CN %lld", n, static_cast<long long>(facility),
             static_cast<long long>(card));
  field_integer(out, "bits", n);
  field_integer(out, "facility", facility);
  field_integer(out, "card", card);
  return passed;
}

// A repetition that reads as two frames, its sync standing twice, is left unread.
Verdict decode(const FrameBits& f, Fields& out) {
  return read_unique(f, out, read, 0b111110, 6, false, ambiguous);
}

// "BITS:FC:CN[:KEY]", e.g. 26:123:11223:0x66; the key byte is 0 unless given. The two
// unknown bits are those of the captured cards: 0 for 26 bits, binary 10 for 36.
bool encode(const char* text, FrameBits& f) {
  uint64_t v[4] = {0, 0, 0, 0};
  const int32_t count = parse_numbers(text, ':', v, 4);
  if (count < 3 || (v[0] != 26 && v[0] != 36) || v[3] > 0xFF) return false;
  const auto n = static_cast<int32_t>(v[0]);
  const int32_t card_bits = n - 2 - facility_bits(n);
  if (v[1] >> facility_bits(n) || v[2] >> card_bits) return false;
  const uint64_t message = wiegand_with_parity(v[1] << card_bits | v[2], n) << (40 - n);
  const auto key = static_cast<uint8_t>(v[3]);
  uint8_t bytes[9] = {key, static_cast<uint8_t>(n << 2 | (n == 36 ? 2 : 0)), 0x01, 0x00};
  for (int j = 0; j < 5; ++j) bytes[4 + j] = static_cast<uint8_t>(message >> (32 - 8 * j));
  for (int j = 1; j < 9; ++j) bytes[j] ^= key;
  f = FrameBits{};
  frame_append(f, 0b111110, 6);
  for (int32_t g = 0; g < 18; ++g) {
    const unsigned nibble = bytes[g / 2] >> (g % 2 * 4) & 0xF;  // LSB first
    frame_append(f, bits_reversed(nibble, 4) << 1, 5);
  }
  return true;
}

}  // namespace

// Two Wiegand parities guard the number and miss two flips in one half; the fixed bytes,
// spacers and length catch most damage elsewhere: three frames in a row.
extern const Family family_gproxii = {
    .name = "gproxii",
    .title = "G-Prox II",
    .modulation = Modulation::ask_biphase,
    .rates = {64, 0, 0},
    .frame_symbols = 96,
    .gap_symbols = 0,
    .sure_frames = 3,
    .sync = 0b111110,
    .sync_symbols = 6,
    .either_polarity = false,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "BITS:FC:CN[:KEY] (26 or 36 bits), e.g. 26:123:11223:0x66",
    .example = "26:123:11223:0x66",
    .printed = "BITS-bit FC F CN C: the Wiegand length, facility code and card number",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
