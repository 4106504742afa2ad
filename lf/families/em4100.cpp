// EM4100: ASK Manchester at RF/64 (also set to RF/32 and RF/16), a 64-bit frame of nine
// 1 bits, ten rows of four data bits with even parity, four column parities and a stop
// bit 0. The frame checks are the window program's own (decode/), run on the bits as its
// half-bit ring would hold them, so the tools never disagree with the program on a frame.

#include "lf/families/em4100.hpp"

#include <cctype>
#include <cinttypes>
#include <cstring>

#include "decode/half_bit_ring.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {

uint64_t tag_frame(uint64_t id40) {
  uint64_t bits = 0x1FF;  // header
  unsigned columns = 0;
  for (int r = 0; r < 10; ++r) {
    const unsigned nibble = static_cast<unsigned>(id40 >> (36 - 4 * r)) & 0xF;
    columns ^= nibble;
    bits = bits << 5 | nibble << 1 | (__builtin_popcount(nibble) & 1);
  }
  return bits << 5 | columns << 1;  // stop bit 0
}

// The program's verdicts that a frame of decided bits can get (no Manchester pair is
// ever equal here), in the order its test runs them.
static const char* const reasons[] = {"passed",        "header",   "row parity",
                                      "column parity", "stop bit", "another family's repetition"};
constexpr Verdict shared = 5;

static Verdict verdict_of(FrameCheck check) {
  switch (check) {
    case FrameCheck::ok:
      return frame_passed;
    case FrameCheck::row_parity:
      return 2;
    case FrameCheck::column_parity:
      return 3;
    case FrameCheck::stop_bit:
      return 4;
    default:
      return 1;
  }
}

// The 32 bits of `x` to the even bits of the result, the first of them highest.
static uint64_t spread(uint64_t x) {
  x = (x | x << 16) & 0x0000'FFFF'0000'FFFF;
  x = (x | x << 8) & 0x00FF'00FF'00FF'00FF;
  x = (x | x << 4) & 0x0F0F'0F0F'0F0F'0F0F;
  x = (x | x << 2) & 0x3333'3333'3333'3333;
  return (x | x << 1) & 0x5555'5555'5555'5555;
}

// The program's test of a frame of decided bits, on the two words of half-bits its ring
// would hold: a 1 bit is the pair (0, 1).
static FrameCheck program_check(uint64_t bits, Frame& frame) {
  HalfBitRing ring{};
  ring.older = spread(~bits >> 32 & 0xFFFF'FFFF) << 1 | spread(bits >> 32);
  ring.newer = spread(~bits & 0xFFFF'FFFF) << 1 | spread(bits & 0xFFFF'FFFF);
  ring.count = ring_size;
  return check_frame(ring, true, frame);
}

bool em4100_frame_ok(const FrameBits& f) {
  Frame frame{};
  return f.count == 64 && program_check(f.words[0], frame) == FrameCheck::ok;
}

// Whether some row of `bits` fails its even parity: bit 50 - 5r of the running XOR of five
// neighbours is the parity of row r.
static bool row_parity_fails(uint64_t bits) {
  constexpr uint64_t row_ends = 0x0004'2108'4210'8420;  // bits 50, 45, ..., 5
  return ((bits ^ bits >> 1 ^ bits >> 2 ^ bits >> 3 ^ bits >> 4) & row_ends) != 0;
}

static Verdict decode(const FrameBits& f, Fields& fields) {
  // Most windows that start with nine 1 bits hold noise, or a constant level read as a
  // run of equal bits, and fail a row parity: told here as the program's test tells it,
  // before its half-bits are built.
  if (f.words[0] >> 55 == 0x1FF && row_parity_fails(f.words[0]))
    return verdict_of(FrameCheck::row_parity);
  Frame frame{};
  const Verdict verdict = verdict_of(program_check(f.words[0], frame));
  if (verdict != frame_passed) return verdict;
  // A repetition another family sends as well is read by neither.
  if (em4100_repetition_shared(f)) return shared;
  em4100_fields(f.words[0], fields);
  return frame_passed;
}

void em4100_fields(uint64_t bits, Fields& fields) {
  const uint64_t id = frame_data(bits);
  const auto low32 = static_cast<uint32_t>(id);
  field_text(fields, "id", "%010" PRIX64, id);
  field_integer(fields, "id_high", low32 >> 16);
  field_integer(fields, "id_low", low32 & 0xFFFF);
  field_text(fields, "number", "%u.%u", low32 >> 16, low32 & 0xFFFF);
  field_text(fields, "dec32", "%010" PRIu32, low32);
  field_text(fields, "dec24", "%08" PRIu32, low32 & 0xFF'FFFF);
  field_integer(fields, "wiegand26.facility", low32 >> 16 & 0xFF);
  field_integer(fields, "wiegand26.card", low32 & 0xFFFF);
}

// 10 hex digits, with spaces, ':' and '-' allowed between them.
static bool encode(const char* text, FrameBits& frame) {
  uint64_t id = 0;
  int digits = 0;
  for (; *text; ++text) {
    const auto c = static_cast<unsigned char>(*text);
    if (c == ' ' || c == ':' || c == '-') continue;
    if (!std::isxdigit(c) || ++digits > 10) return false;
    id = id << 4 | static_cast<uint64_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  if (digits != 10) return false;
  frame = FrameBits{};
  frame_append(frame, tag_frame(id), 64);
  return true;
}

static const char* const fields[] = {"id",    "id_high", "id_low",    "number",
                                     "dec32", "dec24",   "wiegand26", nullptr};

const Family family_em4100 = {
    .name = "em4100",
    .title = "EM4100",
    .modulation = Modulation::ask_manchester,
    .rates = {64, 32, 16},
    .frame_symbols = 64,
    .gap_symbols = 0,
    // Nine header bits and 14 parity bits, but the all-zero ID has every parity bit 0.
    .sure_frames = 2,
    .sync = 0x1FF,
    .sync_symbols = 9,
    .either_polarity = true,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "ID (10 hex digits)",
    .example = "8400043916",
    .printed =
        "id_high.id_low: the 16-bit numbers of data rows 2-5 and 6-9, as the window shows them (id "
        "holds all ten hex digits)",
    .reasons = reasons,
    .reason_count = static_cast<int32_t>(std::size(reasons)),
    .fields = fields,
};

}  // namespace tavrel
