// Paradox. Manchester on FSK at RF/50, 96 symbols: the sync 00001111, then 44 bits d:
//
//   d  0-9   10-17     18-33  34-41     42-43
//      zeros facility  card   checksum  11
//
// checksum = CRC-8/MAXIM over four 0 bits and the 68 symbols after the sync (the ten zeros,
// facility and card as sent), XOR 06.

#include <iterator>

#include "lf/families/fsk_helpers.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, no_sync, bad_manchester, zeros, tail, crc };
const char* const reasons[] = {"passed", "sync", "manchester", "leading zeros", "tail", "crc"};
const char* const fields[] = {"number", "facility", "card", nullptr};

constexpr uint64_t sync = 0x0F;
constexpr int32_t sync_symbols = 8;
constexpr int32_t data_bits = 44;
constexpr uint8_t crc_xor = 0x06;

uint8_t checksum_of(const FrameBits& frame) {
  uint8_t bytes[9];
  bytes[0] = static_cast<uint8_t>(frame_field(frame, sync_symbols, 4));
  for (int32_t i = 1; i < 9; ++i)
    bytes[i] = static_cast<uint8_t>(frame_field(frame, sync_symbols + 4 + 8 * (i - 1), 8));
  return crc8_maxim(bytes, 9) ^ crc_xor;
}

Verdict decode(const FrameBits& frame, Fields& out) {
  if (frame_field(frame, 0, sync_symbols) != sync) return no_sync;
  FrameBits d{};
  if (!manchester_pairs(frame, sync_symbols, data_bits, d)) return bad_manchester;
  if (frame_field(d, 0, 10) != 0) return zeros;
  if (frame_field(d, 42, 2) != 3) return tail;
  if (frame_field(d, 34, 8) != checksum_of(frame)) return crc;
  const uint64_t facility = frame_field(d, 10, 8);
  const uint64_t card = frame_field(d, 18, 16);
  field_text(out, "number", "FC %d, Card %d", static_cast<int>(facility), static_cast<int>(card));
  field_integer(out, "facility", static_cast<int64_t>(facility));
  field_integer(out, "card", static_cast<int64_t>(card));
  return passed;
}

bool encode(const char* text, FrameBits& frame) {
  uint64_t v[2];
  if (parse_numbers(text, ':', v, 2) != 2) return frame_from_raw(family_paradox, text, frame);
  if (v[0] > 0xFF || v[1] > 0xFFFF) return false;
  frame = FrameBits{};
  frame_append(frame, sync, sync_symbols);
  manchester_append(frame, 0, 10);
  manchester_append(frame, v[0], 8);
  manchester_append(frame, v[1], 16);
  manchester_append(frame, checksum_of(frame), 8);
  manchester_append(frame, 3, 2);
  return true;
}

}  // namespace

const Family family_paradox{"paradox",
                            "Paradox",
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
                            "FC:CN, or the frame in hex",
                            "96:40426",
                            "FC 96, Card 40426: facility and card in decimal",
                            reasons,
                            static_cast<int32_t>(std::size(reasons)),
                            fields};

}  // namespace tavrel
