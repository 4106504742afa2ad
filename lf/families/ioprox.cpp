// IO Prox (Kantech, "XSF"). NRZ symbols on FSK at RF/64, 64 in a frame:
//
//   bits   0-8  9-16  17  18-25     26  27-34    35  36-43    44  45-52    53  54-61     62-63
//          0..0 F0    1   facility  1   version  1   card hi  1   card lo  1   checksum  11
//
// checksum = FF - (F0 + facility + version + card hi + card lo) mod 256. The 1 after every
// byte keeps runs of zeros to 8, so 9 zeros and a 1 begin a frame and nothing else.

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>

#include <strings.h>

#include "lf/families/fsk_helpers.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, no_sync, fixed_byte, separator, tail, checksum };
const char* const reasons[] = {"passed", "sync", "fixed byte", "separator", "tail", "checksum"};
const char* const fields[] = {"number", "facility", "version", "card", nullptr};

constexpr uint64_t sync = 0x001;
constexpr int32_t sync_symbols = 10;
constexpr uint64_t fixed = 0xF0;
constexpr int32_t separators[] = {17, 26, 35, 44, 53};

uint64_t checksum_of(uint64_t facility, uint64_t version, uint64_t card) {
  return 0xFF - ((fixed + facility + version + (card >> 8) + (card & 0xFF)) & 0xFF);
}

Verdict decode(const FrameBits& frame, Fields& out) {
  if (frame_field(frame, 0, sync_symbols) != sync) return no_sync;
  if (frame_field(frame, 9, 8) != fixed) return fixed_byte;
  for (const int32_t at : separators) {
    if (!frame_symbol(frame, at)) return separator;
  }
  if (frame_field(frame, 62, 2) != 3) return tail;
  const uint64_t facility = frame_field(frame, 18, 8);
  const uint64_t version = frame_field(frame, 27, 8);
  const uint64_t card = frame_field(frame, 36, 8) << 8 | frame_field(frame, 45, 8);
  if (frame_field(frame, 54, 8) != checksum_of(facility, version, card)) return checksum;
  field_text(out, "number", "XSF(%02" PRIu64 ")%02" PRIx64 ":%05" PRIu64, version, facility, card);
  field_integer(out, "facility", static_cast<int64_t>(facility));
  field_integer(out, "version", static_cast<int64_t>(version));
  field_integer(out, "card", static_cast<int64_t>(card));
  return passed;
}

// The printed form XSF(VV)FF:CCCCC: version in decimal, facility in hex, card in decimal.
bool encode(const char* text, FrameBits& frame) {
  if (strncasecmp(text, "XSF(", 4) != 0) return frame_from_raw(family_ioprox, text, frame);
  const char* close = std::strchr(text, ')');
  char version_text[8] = {};
  if (!close || close - text - 4 < 1 || close - text - 4 >= 4) return false;
  std::memcpy(version_text, text + 4, static_cast<size_t>(close - text - 4));
  const char* colon = std::strchr(close, ':');
  char facility_text[8] = "0x";  // printed in hex without its 0x
  if (!colon || colon - close - 1 < 1 || colon - close - 1 > 2) return false;
  std::memcpy(facility_text + 2, close + 1, static_cast<size_t>(colon - close - 1));
  uint64_t version = 0, facility = 0, card = 0;
  if (parse_numbers(version_text, ':', &version, 1) != 1 ||
      parse_numbers(facility_text, ':', &facility, 1) != 1 ||
      parse_numbers(colon + 1, ':', &card, 1) != 1 || version > 0xFF || card > 0xFFFF)
    return false;
  frame = FrameBits{};
  frame_append(frame, 0, 9);
  frame_append(frame, fixed, 8);
  for (const uint64_t byte :
       {facility, version, card >> 8, card & 0xFF, checksum_of(facility, version, card)})
    frame_append(frame, 1 << 8 | byte, 9);
  frame_append(frame, 3, 2);
  return true;
}

}  // namespace

const Family family_ioprox{"ioprox",
                           "IO Prox",
                           Modulation::fsk,
                           {64, 0, 0},
                           64,
                           0,
                           2,
                           sync,
                           sync_symbols,
                           true,
                           false,
                           decode,
                           encode,
                           "XSF(VV)FF:CCCCC (version decimal, facility hex, card decimal), or the "
                           "frame in hex",
                           "XSF(01)01:01337",
                           "XSF(VV)FF:CCCCC: version in decimal, facility in hex, card in decimal",
                           reasons,
                           static_cast<int32_t>(std::size(reasons)),
                           fields};

}  // namespace tavrel
