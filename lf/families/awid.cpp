// AWID. NRZ symbols on FSK at RF/50, 96 in a frame:
//
//   00000001 | 22 groups of 3 data bits and a bit that makes the group's weight odd
//
// The 66 data bits are N (8 bits), the N-bit Wiegand message, and zeros. No group holds
// seven zeros in a row, so the sync is unique. 26 and 50 bits were seen on cards; 34 and
// 37 follow public format tables (for 37 the common 16-bit facility layout, H10304); any
// other length up to 58 is read as a generic message.

#include <iterator>

#include "lf/families/fsk_helpers.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, no_sync, group_parity, bad_length, padding, parity };
const char* const reasons[] = {"passed", "sync", "group parity", "length", "padding", "parity"};
const char* const fields[] = {"number", "format", "bits", "facility", "card", "wiegand", nullptr};

const WiegandFormat awid_34{
    "AWID 34-bit", 34, 1, 8, 9, 24, "FC", {{0, false, 1, 16, -1}, {33, true, 17, 32, -1}}, 2};
const WiegandFormat awid_50{
    "AWID 50-bit", 50, 1, 16, 17, 32, "FC", {{0, false, 1, 24, -1}, {49, true, 25, 48, -1}}, 2};
const WiegandFormat* const formats[] = {&wiegand_h10301, &awid_34, &wiegand_h10304, &awid_50,
                                        nullptr};

constexpr uint64_t sync = 0x01;
constexpr int32_t sync_symbols = 8;
constexpr int32_t groups = 22;
constexpr int32_t data_bits = 3 * groups;
constexpr int32_t min_bits = 26;
constexpr int32_t max_bits = data_bits - 8;

Verdict decode(const FrameBits& frame, Fields& out) {
  if (frame_field(frame, 0, sync_symbols) != sync) return no_sync;
  FrameBits d{};
  for (int32_t g = 0; g < groups; ++g) {
    const uint64_t group = frame_field(frame, sync_symbols + 4 * g, 4);
    if ((__builtin_popcountll(group) & 1) == 0) return group_parity;
    frame_append(d, group >> 1, 3);
  }
  const auto bits = static_cast<int32_t>(frame_field(d, 0, 8));
  if (bits < min_bits || bits > max_bits) return bad_length;
  if (frame_weight(d, 8 + bits, data_bits - 8 - bits) != 0) return padding;
  FrameBits w{};
  for (int32_t i = 8; i < 8 + bits; ++i)
    frame_append(w, static_cast<uint64_t>(frame_symbol(d, i)), 1);
  const WiegandFormat* format = wiegand_find(formats, bits);
  if (format && !wiegand_parity_ok(*format, w)) return parity;
  wiegand_fields(format, w, "Card", out);
  return passed;
}

bool encode(const char* text, FrameBits& frame) {
  FrameBits w{};
  if (!parse_wiegand(text, formats, min_bits, max_bits, w))
    return frame_from_raw(family_awid, text, frame);
  FrameBits d{};
  frame_append(d, static_cast<uint64_t>(w.count), 8);
  for (int32_t i = 0; i < w.count; ++i)
    frame_append(d, static_cast<uint64_t>(frame_symbol(w, i)), 1);
  frame_zeros(d, data_bits - d.count);
  frame = FrameBits{};
  frame_append(frame, sync, sync_symbols);
  for (int32_t g = 0; g < groups; ++g) {
    const uint64_t triple = frame_field(d, 3 * g, 3);
    frame_append(frame, triple << 1 | ((__builtin_popcountll(triple) & 1) ^ 1), 4);
  }
  return true;
}

}  // namespace

const Family family_awid{
    "awid",
    "AWID",
    Modulation::fsk,
    {50, 0, 0},
    96,
    0,
    2,
    sync,
    sync_symbols,
    true,
    false,
    decode,
    encode,
    "N:FC:CN (N 26, 34, 37, 50), N:HEX (any N from 26 to 58), or the frame in hex",
    "26:224:1337",
    "the facility code and card number: FC 224 Card 1337 (format and bits name the layout)",
    reasons,
    static_cast<int32_t>(std::size(reasons)),
    fields};

}  // namespace tavrel
