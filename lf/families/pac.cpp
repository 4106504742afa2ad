// PAC / Stanley (PAC8): NRZ at RF/32, 128 symbols back to back:
//
//   symbols  0-7    eight 1s
//            8-127  12 characters of 10 symbols: start bit 0, 7 data bits LSB-first, odd
//                   parity over them, stop bit 1
//
//   characters  STX (0x02), '2', '0', 8 ID characters (hex digits), XOR of the 8
//
// The sync is the eight 1s and the STX character.

#include <bit>
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
  framing,
  parity,
  header,
  character,
  checksum,
  ambiguous,
  reason_end
};
constexpr const char* reasons[] = {"passed", "length",    "sync",     "framing",  "parity",
                                   "header", "character", "checksum", "ambiguous"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "id", nullptr};

constexpr uint64_t sync_bits = 0x3FC81;  // 11111111, then 0 0100000 0 1
constexpr int32_t sync_symbols = 18;

// Character k with its start, parity and stop bits, as sent.
uint64_t character_symbols(unsigned c) {
  const unsigned odd = ~std::popcount(c) & 1;
  return uint64_t{bits_reversed(c, 7)} << 2 | odd << 1 | 1;
}

bool hex_digit(unsigned c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

Verdict read(const FrameBits& f, Fields& out) {
  if (f.count != 128) return length;
  if (frame_field(f, 0, sync_symbols) != sync_bits) return sync;
  char text[12];
  for (int k = 0; k < 12; ++k) {
    const uint64_t symbols = frame_field(f, 8 + 10 * k, 10);
    if ((symbols >> 9) != 0 || (symbols & 1) != 1) return framing;
    const auto c = static_cast<unsigned>(bits_reversed(symbols >> 2 & 0x7F, 7));
    if (character_symbols(c) != symbols) return parity;
    text[k] = static_cast<char>(c);
  }
  if (text[1] != '2' || text[2] != '0') return header;
  unsigned x = 0;
  for (int k = 3; k < 11; ++k) {
    if (!hex_digit(static_cast<unsigned>(text[k]))) return character;
    x ^= static_cast<unsigned>(text[k]);
  }
  if (x != static_cast<unsigned>(text[11])) return checksum;
  field_text(out, "number", "%.8s", text + 3);
  field_text(out, "id", "%.8s", text + 3);
  return passed;
}

// A repetition that reads as two frames, its sync standing twice, is left unread.
Verdict decode(const FrameBits& f, Fields& out) {
  return read_unique(f, out, read, sync_bits, sync_symbols, true, ambiguous);
}

// The card's 8 ID characters, hex digits.
bool encode(const char* text, FrameBits& f) {
  FrameBits id;
  if (!frame_from_hex(text, id) || id.count != 32) return false;
  f = FrameBits{};
  frame_append(f, 0xFF, 8);
  for (const char c : {'\x02', '2', '0'})
    frame_append(f, character_symbols(static_cast<unsigned>(c)), 10);
  unsigned x = 0;
  for (int32_t k = 0; k < 8; ++k) {
    const unsigned c = static_cast<unsigned>("0123456789ABCDEF"[frame_field(id, 4 * k, 4)]);
    frame_append(f, character_symbols(c), 10);
    x ^= c;
  }
  frame_append(f, character_symbols(x), 10);
  return true;
}

}  // namespace

// Framing and a parity bit per character see any single error; the XOR character any two
// in one character: two frames in a row. NRZ levels come upside down from some front ends.
extern const Family family_pac = {
    .name = "pac",
    .title = "PAC/Stanley",
    .modulation = Modulation::ask_nrz,
    .rates = {32, 0, 0},
    .frame_symbols = 128,
    .gap_symbols = 0,
    .sure_frames = 2,
    .sync = sync_bits,
    .sync_symbols = sync_symbols,
    .either_polarity = true,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "ID (8 hex digits, e.g. CD4F5552)",
    .example = "CD4F5552",
    .printed = "the card ID, 8 characters (hex digits)",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
