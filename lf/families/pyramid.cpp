// Pyramid (Farpointe Data). NRZ symbols on FSK at RF/50, 128 in a frame:
//
//   00000000 | 14 groups of 7 data bits and a bit that makes the group's weight odd | CRC
//
// CRC = CRC-8/MAXIM of frame bytes 2 to 14. The 98 data bits are zeros, a 1, and the
// Wiegand message in the last N. Since the leading groups are empty, every frame begins
// 00 01 01: that is the sync. 26 bits (H10301) was seen on cards; other lengths are read
// as generic messages.

#include <iterator>

#include "lf/families/fsk_helpers.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, no_sync, group_parity, crc, bad_length, parity };
const char* const reasons[] = {"passed", "sync", "group parity", "crc", "length", "parity"};
const char* const fields[] = {"number", "format", "bits", "facility", "card", "wiegand", nullptr};
const WiegandFormat* const formats[] = {&wiegand_h10301, nullptr};

constexpr uint64_t sync = 0x000101;
constexpr int32_t sync_symbols = 24;
constexpr int32_t groups = 14;
constexpr int32_t data_bits = 7 * groups;
constexpr int32_t min_bits = 26;

uint8_t crc_of(const FrameBits& frame) {
  uint8_t bytes[13];
  for (int32_t i = 0; i < 13; ++i)
    bytes[i] = static_cast<uint8_t>(frame_field(frame, 16 + 8 * i, 8));
  return crc8_maxim(bytes, 13);
}

Verdict decode(const FrameBits& frame, Fields& out) {
  if (frame_field(frame, 0, sync_symbols) != sync) return no_sync;
  FrameBits d{};
  for (int32_t g = 0; g < groups; ++g) {
    const uint64_t group = frame_field(frame, 8 + 8 * g, 8);
    if ((__builtin_popcountll(group) & 1) == 0) return group_parity;
    frame_append(d, group >> 1, 7);
  }
  if (frame_field(frame, 120, 8) != crc_of(frame)) return crc;
  int32_t sentinel = 0;
  while (sentinel < data_bits && !frame_symbol(d, sentinel)) ++sentinel;
  const int32_t bits = data_bits - 1 - sentinel;
  if (bits < min_bits) return bad_length;
  FrameBits w{};
  for (int32_t i = sentinel + 1; i < data_bits; ++i)
    frame_append(w, static_cast<uint64_t>(frame_symbol(d, i)), 1);
  const WiegandFormat* format = wiegand_find(formats, bits);
  if (format && !wiegand_parity_ok(*format, w)) return parity;
  wiegand_fields(format, w, "Card", out);
  return passed;
}

// FC:CN, a 26-bit message.
bool encode(const char* text, FrameBits& frame) {
  uint64_t v[2];
  if (parse_numbers(text, ':', v, 2) != 2) return frame_from_raw(family_pyramid, text, frame);
  FrameBits w{};
  if (!wiegand_build(wiegand_h10301, v[0], v[1], w)) return false;
  FrameBits d{};
  frame_zeros(d, data_bits - w.count - 1);
  frame_append(d, 1, 1);
  for (int32_t i = 0; i < w.count; ++i)
    frame_append(d, static_cast<uint64_t>(frame_symbol(w, i)), 1);
  frame = FrameBits{};
  frame_append(frame, 0, 8);
  for (int32_t g = 0; g < groups; ++g) {
    const uint64_t data = frame_field(d, 7 * g, 7);
    frame_append(frame, data << 1 | ((__builtin_popcountll(data) & 1) ^ 1), 8);
  }
  frame_append(frame, crc_of(frame), 8);
  return true;
}

}  // namespace

const Family family_pyramid{
    "pyramid",
    "Pyramid",
    Modulation::fsk,
    {50, 0, 0},
    128,
    0,
    2,
    sync,
    sync_symbols,
    true,
    false,
    decode,
    encode,
    "FC:CN (26-bit), or the frame in hex",
    "123:11223",
    "the facility code and card number: FC 123 Card 11223 (format and bits name the layout)",
    reasons,
    static_cast<int32_t>(std::size(reasons)),
    fields};

}  // namespace tavrel
