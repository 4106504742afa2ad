// Viking (and "Transit 999" cards): Manchester at RF/32, 64 symbols back to back:
//
//   symbols  0-23   F2 00 00, the sync
//            24-55  card ID, printed as its 8 hex digits
//            56-63  check byte: the XOR of all 8 bytes is A8
//
// The XOR of all bytes is the same from any byte of the repetition on, so an ID that holds
// F2 00 00 itself (F20000xx, xxF20000, xx (A8^xx) F2 00) reads as two IDs; such a
// repetition is left unread.

#include <cstdio>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, length, sync, checksum, ambiguous, em4100, reason_end };
constexpr const char* reasons[] = {"passed", "length", "sync", "checksum", "ambiguous", "em4100"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "id", nullptr};

constexpr uint64_t sync_bits = 0xF20000;
constexpr int32_t sync_symbols = 24;

Verdict check(const FrameBits& f) {
  if (f.count != 64) return length;
  if (frame_field(f, 0, sync_symbols) != sync_bits) return sync;
  unsigned x = 0;
  for (int k = 0; k < 8; ++k) x ^= static_cast<unsigned>(frame_field(f, 8 * k, 8));
  return x == 0xA8 ? passed : checksum;
}

Verdict decode(const FrameBits& f, Fields& out) {
  if (const Verdict v = check(f); v != passed) return v;
  if (rotations_passing(f, sync_bits, sync_symbols, true, viking_frame_ok) > 1) return ambiguous;
  // EM4100 tags at RF/32 repeat 64 Manchester bits too, and both are searched in either
  // polarity: a repetition that also holds a good EM4100 frame is left to neither.
  if (rotations_passing(f, 0x1FF, 9, true, em4100_frame_ok) > 0) return em4100;
  const auto id = static_cast<unsigned>(frame_field(f, 24, 32));
  field_text(out, "number", "%08X", id);
  field_text(out, "id", "%08X", id);
  return passed;
}

// The card's 8 hex digits.
bool encode(const char* text, FrameBits& f) {
  FrameBits id;
  if (!frame_from_hex(text, id) || id.count != 32) return false;
  const uint64_t v = frame_field(id, 0, 32);
  unsigned x = 0xA8 ^ 0xF2;
  for (int k = 0; k < 4; ++k) x ^= static_cast<unsigned>(v >> (8 * k) & 0xFF);
  f = FrameBits{};
  frame_append(f, sync_bits, sync_symbols);
  frame_append(f, v, 32);
  frame_append(f, x, 8);
  return true;
}

}  // namespace

bool viking_frame_ok(const FrameBits& frame) {
  return check(frame) == passed;
}

// An 8-bit XOR sees every single error but no two in the same bit place: three frames in
// a row, so that a wrong ID needs the same double error three times.
extern const Family family_viking = {
    .name = "viking",
    .title = "Viking",
    .modulation = Modulation::ask_manchester,
    .rates = {32, 0, 0},
    .frame_symbols = 64,
    .gap_symbols = 0,
    .sure_frames = 3,
    .sync = sync_bits,
    .sync_symbols = sync_symbols,
    .either_polarity = true,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "ID (8 hex digits, e.g. 0001A337)",
    .example = "0001A337",
    .printed = "the card ID, 8 hex digits (Transit 999 cards print these digits as their number)",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
