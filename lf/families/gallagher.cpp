// Gallagher (Cardax): Manchester at RF/32, 96 symbols back to back:
//
//   symbols  0-15   7FEA, the sync (ten 1s cannot occur in the groups)
//            16-87  8 groups of 9: byte b_i, then the inverse of its lowest bit
//            88-95  CRC-8 (poly 0x07, init 0x2C) of b_0 .. b_7 as sent
//
// The bytes are scrambled by a published substitution table: p_i = table[b_i]. Then
//   region    (p3 >> 1) & 0x0F, printed as a letter (A + region)
//   facility  (p5 & 0x0F) << 12 | p1 << 4 | p7 >> 4
//   card      p0 << 16 | (p4 & 0x1F) << 11 | p2 << 3 | p3 >> 5
//   issue     p7 & 0x0F
//   zero      p6, bit 0 of p3, bits 7-5 of p4, bits 7-4 of p5

#include <array>
#include <cstdio>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, length, sync, group_bit, crc, zeros, ambiguous, reason_end };
constexpr const char* reasons[] = {"passed", "length", "sync",     "group_bit",
                                   "crc",    "zeros",  "ambiguous"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "region", "facility", "card", "issue", nullptr};

constexpr uint8_t descramble[256] = {
    0x2F, 0x6E, 0xDD, 0xDF, 0x1D, 0x0F, 0xB0, 0x76, 0xAD, 0xAF, 0x7F, 0xBB, 0x77, 0x85, 0x11, 0x6D,
    0xF4, 0xD2, 0x84, 0x42, 0xEB, 0xF7, 0x34, 0x55, 0x4A, 0x3A, 0x10, 0x71, 0xE7, 0xA1, 0x62, 0x1A,
    0x3E, 0x4C, 0x14, 0xD3, 0x5E, 0xB2, 0x7D, 0x56, 0xBC, 0x27, 0x82, 0x60, 0xE3, 0xAE, 0x1F, 0x9B,
    0xAA, 0x2B, 0x95, 0x49, 0x73, 0xE1, 0x92, 0x79, 0x91, 0x38, 0x6C, 0x19, 0x0E, 0xA9, 0xE2, 0x8D,
    0x66, 0xC7, 0x5A, 0xF5, 0x1C, 0x80, 0x99, 0xBE, 0x4E, 0x41, 0xF0, 0xE8, 0xA6, 0x20, 0xAB, 0x87,
    0xC8, 0x1E, 0xA0, 0x59, 0x7B, 0x0C, 0xC3, 0x3C, 0x61, 0xCC, 0x40, 0x9E, 0x06, 0x52, 0x1B, 0x32,
    0x8C, 0x12, 0x93, 0xBF, 0xEF, 0x3B, 0x25, 0x0D, 0xC2, 0x88, 0xD1, 0xE0, 0x07, 0x2D, 0x70, 0xC6,
    0x29, 0x6A, 0x4D, 0x47, 0x26, 0xA3, 0xE4, 0x8B, 0xF6, 0x97, 0x2C, 0x5D, 0x3D, 0xD7, 0x96, 0x28,
    0x02, 0x08, 0x30, 0xA7, 0x22, 0xC9, 0x65, 0xF8, 0xB7, 0xB4, 0x8A, 0xCA, 0xB9, 0xF2, 0xD0, 0x17,
    0xFF, 0x46, 0xFB, 0x9A, 0xBA, 0x8F, 0xB6, 0x69, 0x68, 0x8E, 0x21, 0x6F, 0xC4, 0xCB, 0xB3, 0xCE,
    0x51, 0xD4, 0x81, 0x00, 0x2E, 0x9C, 0x74, 0x63, 0x45, 0xD9, 0x16, 0x35, 0x5F, 0xED, 0x78, 0x9F,
    0x01, 0x48, 0x04, 0xC1, 0x33, 0xD6, 0x4F, 0x94, 0xDE, 0x31, 0x9D, 0x0A, 0xAC, 0x18, 0x4B, 0xCD,
    0x98, 0xB8, 0x37, 0xA2, 0x83, 0xEC, 0x03, 0xD8, 0xDA, 0xE5, 0x7A, 0x6B, 0x53, 0xD5, 0x15, 0xA4,
    0x43, 0xE9, 0x90, 0x67, 0x58, 0xC0, 0xA5, 0xFA, 0x2A, 0xB1, 0x75, 0x50, 0x39, 0x5C, 0xE6, 0xDC,
    0x89, 0xFC, 0xCF, 0xFE, 0xF9, 0x57, 0x54, 0x64, 0xA8, 0xEE, 0x23, 0x0B, 0xF1, 0xEA, 0xFD, 0xDB,
    0xBD, 0x09, 0xB5, 0x5B, 0x05, 0x86, 0x13, 0xF3, 0x24, 0xC5, 0x3F, 0x44, 0x72, 0x7C, 0x7E, 0x36,
};

constexpr std::array<uint8_t, 256> inverse_of(const uint8_t* table) {
  std::array<uint8_t, 256> inverse{};
  for (int b = 0; b < 256; ++b) inverse[table[b]] = static_cast<uint8_t>(b);
  return inverse;
}
constexpr std::array<uint8_t, 256> scramble = inverse_of(descramble);

constexpr bool is_permutation() {
  for (int b = 0; b < 256; ++b)
    if (scramble[descramble[b]] != b) return false;
  return true;
}
static_assert(is_permutation(), "the table maps each byte to a byte of its own");

Verdict read(const FrameBits& f, Fields& out) {
  if (f.count != 96) return length;
  if (frame_field(f, 0, 16) != 0x7FEA) return sync;
  uint8_t b[8];
  uint8_t p[8];
  for (int i = 0; i < 8; ++i) {
    const uint64_t group = frame_field(f, 16 + 9 * i, 9);
    if ((group & 1) == (group >> 1 & 1)) return group_bit;
    b[i] = static_cast<uint8_t>(group >> 1);
    p[i] = descramble[b[i]];
  }
  if (crc8(b, 8, 0x07, 0x2C) != frame_field(f, 88, 8)) return crc;
  if (p[6] != 0 || (p[3] & 1) != 0 || (p[4] & 0xE0) != 0 || (p[5] & 0xF0) != 0) return zeros;
  const int region = p[3] >> 1 & 0x0F;
  const int facility = (p[5] & 0x0F) << 12 | p[1] << 4 | p[7] >> 4;
  const int card = p[0] << 16 | (p[4] & 0x1F) << 11 | p[2] << 3 | p[3] >> 5;
  const int issue = p[7] & 0x0F;
  field_text(out, "number", "%c%d card %d issue %d", 'A' + region, facility, card, issue);
  field_integer(out, "region", region);
  field_integer(out, "facility", facility);
  field_integer(out, "card", card);
  field_integer(out, "issue", issue);
  return passed;
}

// A repetition that reads as two frames, its sync standing twice, is left unread.
Verdict decode(const FrameBits& f, Fields& out) {
  return read_unique(f, out, read, 0x7FEA, 16, true, ambiguous);
}

// "B16640:201:1": region letter and facility, card, issue level.
bool encode(const char* text, FrameBits& f) {
  uint64_t v[3];
  if (text[0] < 'A' || text[0] > 'P' || parse_numbers(text + 1, ':', v, 3) != 3 || v[0] > 0xFFFF ||
      v[1] > 0xFFFFFF || v[2] > 0x0F)
    return false;
  const uint64_t region = static_cast<uint64_t>(text[0] - 'A');
  const uint64_t p[8] = {v[1] >> 16,
                         v[0] >> 4 & 0xFF,
                         v[1] >> 3 & 0xFF,
                         (v[1] & 7) << 5 | region << 1,
                         v[1] >> 11 & 0x1F,
                         v[0] >> 12,
                         0,
                         (v[0] & 0x0F) << 4 | v[2]};
  uint8_t b[8];
  f = FrameBits{};
  frame_append(f, 0x7FEA, 16);
  for (int i = 0; i < 8; ++i) {
    b[i] = scramble[p[i]];
    frame_append(f, uint64_t{b[i]} << 1 | (~b[i] & 1), 9);
  }
  frame_append(f, crc8(b, 8, 0x07, 0x2C), 8);
  return true;
}

}  // namespace

// The CRC-8 sees every error of up to three symbols in the 72 it covers, and the group
// bits and zero bits add more: two frames in a row.
extern const Family family_gallagher = {
    .name = "gallagher",
    .title = "Gallagher",
    .modulation = Modulation::ask_manchester,
    .rates = {32, 0, 0},
    .frame_symbols = 96,
    .gap_symbols = 0,
    .sure_frames = 2,
    .sync = 0x7FEA,
    .sync_symbols = 16,
    .either_polarity = true,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "REGION LETTER and FACILITY:CARD:ISSUE, e.g. B16640:201:1",
    .example = "B16640:201:1",
    .printed = "REGION-letter and facility, card and issue level: B16640 card 201 issue 1",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
