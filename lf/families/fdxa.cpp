// FDX-A (FECAVA, Destron). Manchester on FSK at RF/50, 96 symbols: the sync 0101010100011101,
// then five bytes, each a parity bit that makes its weight odd and a 7-bit value. The ID
// is the five values as 10 hex digits. Five parity bits are weak, so three frames make a
// read sure. The sync's last 8 symbols are HID's sync: the HID family tells FDX-A frames
// apart by these bytes.

#include <cstdio>
#include <iterator>

#include "lf/families/fsk_helpers.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, no_sync, bad_manchester, parity };
const char* const reasons[] = {"passed", "sync", "manchester", "parity"};
const char* const fields[] = {"number", "id", nullptr};

constexpr uint64_t sync = 0x551D;
constexpr int32_t sync_symbols = 16;
constexpr int32_t bytes = 5;

Verdict decode(const FrameBits& frame, Fields& out) {
  if (frame_field(frame, 0, sync_symbols) != sync) return no_sync;
  FrameBits d{};
  if (!manchester_pairs(frame, sync_symbols, 8 * bytes, d)) return bad_manchester;
  char id[2 * bytes + 1];
  for (int32_t i = 0; i < bytes; ++i) {
    if ((frame_weight(d, 8 * i, 8) & 1) == 0) return parity;
    std::snprintf(id + 2 * i, 3, "%02X", static_cast<unsigned>(frame_field(d, 8 * i + 1, 7)));
  }
  field_text(out, "number", "%s", id);
  field_text(out, "id", "%s", id);
  return passed;
}

// The ID's 10 hex digits, each pair at most 7F.
bool encode(const char* text, FrameBits& frame) {
  FrameBits id{};
  if (!frame_from_hex(text, id) || id.count != 8 * bytes)
    return frame_from_raw(family_fdxa, text, frame);
  frame = FrameBits{};
  frame_append(frame, sync, sync_symbols);
  for (int32_t i = 0; i < bytes; ++i) {
    const uint64_t value = frame_field(id, 8 * i, 8);
    if (value > 0x7F) return false;
    manchester_append(frame, ((__builtin_popcountll(value) & 1) ^ 1) << 7 | value, 8);
  }
  return true;
}

}  // namespace

const Family family_fdxa{"fdxa",
                         "FDX-A",
                         Modulation::fsk,
                         {50, 0, 0},
                         96,
                         0,
                         3,
                         sync,
                         sync_symbols,
                         true,
                         false,
                         decode,
                         encode,
                         "the ID's 10 hex digits (each pair 00 to 7F), or the frame in hex",
                         "0000013531",
                         "the five 7-bit values as 10 hex digits, as readers print them",
                         reasons,
                         static_cast<int32_t>(std::size(reasons)),
                         fields};

}  // namespace tavrel
