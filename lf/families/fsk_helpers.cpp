#include "lf/families/fsk_helpers.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tavrel {

bool manchester_pairs(const FrameBits& frame, int32_t first, int32_t bits, FrameBits& out) {
  for (int32_t k = 0; k < bits; ++k) {
    const int a = frame_symbol(frame, first + 2 * k);
    if (a == frame_symbol(frame, first + 2 * k + 1)) return false;
    frame_append(out, static_cast<uint64_t>(a), 1);
  }
  return true;
}

void manchester_append(FrameBits& frame, uint64_t value, int32_t n) {
  for (int32_t k = n - 1; k >= 0; --k) frame_append(frame, (value >> k & 1) ? 2 : 1, 2);
}

int32_t frame_weight(const FrameBits& f, int32_t first, int32_t n) {
  int32_t weight = 0;
  for (int32_t i = first; i < first + n; ++i) weight += frame_symbol(f, i);
  return weight;
}

void frame_zeros(FrameBits& f, int32_t n) {
  for (; n > 0; n -= 64) frame_append(f, 0, n < 64 ? n : 64);
}

void frame_set(FrameBits& f, int32_t i, int value) {
  const uint64_t bit = uint64_t{1} << (63 - (i & 63));
  f.words[i >> 6] = value ? f.words[i >> 6] | bit : f.words[i >> 6] & ~bit;
}

// H10301 and its relatives: a leading even parity over the first half, a trailing odd one
// over the second.
const WiegandFormat wiegand_h10301{
    "H10301", 26, 1, 8, 9, 16, "FC", {{0, false, 1, 12, -1}, {25, true, 13, 24, -1}}, 2};
const WiegandFormat wiegand_kfs32{"32-bit", 32, 7, 8, 15, 16, "FC", {}, 0};
const WiegandFormat wiegand_h10306{
    "H10306", 34, 1, 16, 17, 16, "FC", {{0, false, 1, 16, -1}, {33, true, 17, 32, -1}}, 2};
const WiegandFormat wiegand_c1000_35{
    "Corporate 1000 35-bit",
    35,
    2,
    12,
    14,
    20,
    "company",
    {{1, false, 2, 33, 1}, {34, true, 1, 32, 0}, {0, true, 1, 34, -1}},
    3};
const WiegandFormat wiegand_h10304{
    "H10304", 37, 1, 16, 17, 19, "FC", {{0, false, 1, 18, -1}, {36, true, 18, 35, -1}}, 2};
const WiegandFormat wiegand_c1000_48{
    "Corporate 1000 48-bit",
    48,
    2,
    22,
    24,
    23,
    "company",
    {{1, false, 3, 46, 2}, {47, true, 2, 45, 1}, {0, true, 1, 47, -1}},
    3};

// The parity bit that `p` asks for over `w` as it stands.
static int parity_bit(const WiegandParity& p, const FrameBits& w) {
  int32_t weight = 0;
  for (int32_t i = p.from; i <= p.to; ++i) {
    if (p.skip_mod3 < 0 || i % 3 != p.skip_mod3) weight += frame_symbol(w, i);
  }
  return (weight & 1) ^ (p.odd ? 1 : 0);
}

bool wiegand_parity_ok(const WiegandFormat& format, const FrameBits& w) {
  for (int32_t i = 0; i < format.parity_count; ++i) {
    const WiegandParity& p = format.parity[i];
    if (frame_symbol(w, p.at) != parity_bit(p, w)) return false;
  }
  return true;
}

static bool fits(uint64_t value, int32_t bits) {
  return bits >= 64 || value >> bits == 0;
}

bool wiegand_build(const WiegandFormat& format, uint64_t facility, uint64_t card, FrameBits& w) {
  if (!fits(facility, format.facility_bits) || !fits(card, format.card_bits)) return false;
  w = FrameBits{};
  frame_zeros(w, format.bits);
  for (int32_t i = 0; i < format.facility_bits; ++i)
    frame_set(w, format.facility_first + i, facility >> (format.facility_bits - 1 - i) & 1);
  for (int32_t i = 0; i < format.card_bits; ++i)
    frame_set(w, format.card_first + i, card >> (format.card_bits - 1 - i) & 1);
  for (int32_t i = 0; i < format.parity_count; ++i) {
    frame_set(w, format.parity[i].at, 0);
    frame_set(w, format.parity[i].at, parity_bit(format.parity[i], w));
  }
  return true;
}

const WiegandFormat* wiegand_find(const WiegandFormat* const* formats, int32_t bits) {
  for (; *formats; ++formats) {
    if ((*formats)->bits == bits) return *formats;
  }
  return nullptr;
}

void wiegand_hex(const FrameBits& w, char* text) {
  static constexpr char digits[] = "0123456789ABCDEF";
  int32_t n = 0;
  for (int32_t at = 0, size = w.count % 4 ? w.count % 4 : 4; at < w.count; at += size, size = 4)
    text[n++] = digits[frame_field(w, at, size)];
  text[n] = 0;
}

void wiegand_fields(const WiegandFormat* format, const FrameBits& w, const char* card_word,
                    Fields& fields) {
  char hex[max_frame_symbols / 4 + 2];
  wiegand_hex(w, hex);
  if (!format) {
    field_text(fields, "number", "%d-bit %s", w.count, hex);
    field_text(fields, "format", "generic");
    field_integer(fields, "bits", w.count);
    field_text(fields, "wiegand", "%s", hex);
    return;
  }
  const uint64_t facility = frame_field(w, format->facility_first, format->facility_bits);
  const uint64_t card = frame_field(w, format->card_first, format->card_bits);
  field_text(fields, "number", "%s %" PRIu64 " %s %" PRIu64, format->facility_word, facility,
             card_word, card);
  field_text(fields, "format", "%s", format->name);
  field_integer(fields, "bits", w.count);
  field_integer(fields, "facility", static_cast<int64_t>(facility));
  field_integer(fields, "card", static_cast<int64_t>(card));
  field_text(fields, "wiegand", "%s", hex);
}

bool parse_wiegand(const char* text, const WiegandFormat* const* formats, int32_t min_bits,
                   int32_t max_bits, FrameBits& w) {
  uint64_t v[3];
  if (parse_numbers(text, ':', v, 3) == 3) {
    const WiegandFormat* format =
        v[0] <= 256 ? wiegand_find(formats, static_cast<int32_t>(v[0])) : nullptr;
    return format && wiegand_build(*format, v[1], v[2], w);
  }
  // "N:HEX": the message's value, right-aligned in N bits.
  const char* colon = std::strchr(text, ':');
  char number[8] = {};
  if (!colon || colon == text || colon - text >= static_cast<ptrdiff_t>(sizeof number))
    return false;
  std::memcpy(number, text, static_cast<size_t>(colon - text));
  if (parse_numbers(number, ':', v, 1) != 1 || v[0] < static_cast<uint64_t>(min_bits) ||
      v[0] > static_cast<uint64_t>(max_bits))
    return false;
  const auto bits = static_cast<int32_t>(v[0]);
  FrameBits hex{};
  if (!frame_from_hex(colon + 1, hex) || std::strpbrk(colon + 1, " :-")) return false;
  const int32_t spare = hex.count - bits;  // leading symbols beyond N, which must be 0
  if (spare > 0 && frame_weight(hex, 0, spare) != 0) return false;
  w = FrameBits{};
  if (spare < 0) frame_zeros(w, -spare);
  for (int32_t i = spare > 0 ? spare : 0; i < hex.count; ++i)
    frame_append(w, static_cast<uint64_t>(frame_symbol(hex, i)), 1);
  return true;
}

bool frame_from_raw(const Family& family, const char* text, FrameBits& frame) {
  Fields fields{};
  return frame_from_hex(text, frame) && frame.count == family.frame_symbols &&
         family.decode(frame, fields) == frame_passed;
}

}  // namespace tavrel
