// FDX-B (ISO 11784/11785): pet microchips, livestock ear tags, implants. Differential
// biphase at RF/32 of whatever field the reader runs (134.2 kHz nominally, 7.4 % faster
// than at 125 kHz). 128 symbols back to back:
//
//   symbols   0-10   header 00000000001 (ten 0s occur nowhere else: every 9th symbol is 1)
//   11-127           13 blocks: 8 data bits, then a control bit 1
//
//   data bits (each field LSB-first, data bit 0 sent first)
//     0-37   national identification code      48     data block (extension) in use
//     38-47  country: ISO 3166, 900-998 makers, 999 test, 1022 some implants
//     49-62  reserved                          63     animal application
//     64-79  CRC-16/KERMIT of bits 0-63        80-103 extension block, not covered by the CRC

#include <cstdio>
#include <cstring>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, length, header, control_bit, crc, ambiguous, reason_end };
constexpr const char* reasons[] = {"passed", "length", "header", "control_bit", "crc", "ambiguous"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "country",   "national_id",
                                  "animal", "extension", nullptr};

constexpr int32_t frame_symbols = 128;
constexpr int32_t data_bytes = 13;

// Data bit j sits in block j / 8, after the header and j / 8 control bits.
int32_t data_symbol(int32_t j) {
  return 11 + j / 8 * 9 + j % 8;
}

Verdict read(const FrameBits& f, Fields& out) {
  if (f.count != frame_symbols) return length;
  if (frame_field(f, 0, 11) != 1) return header;
  for (int32_t block = 0; block < data_bytes; ++block)
    if (frame_symbol(f, 19 + 9 * block) != 1) return control_bit;
  uint8_t bytes[data_bytes];
  for (int32_t k = 0; k < data_bytes; ++k)
    bytes[k] = static_cast<uint8_t>(bits_reversed(frame_field(f, data_symbol(8 * k), 8), 8));
  if (crc16_kermit(bytes, 8) != (bytes[8] | bytes[9] << 8)) return crc;

  uint64_t v = 0;
  for (int k = 7; k >= 0; --k) v = v << 8 | bytes[k];
  const auto national = static_cast<int64_t>(v & ((uint64_t{1} << 38) - 1));
  const auto country = static_cast<int64_t>(v >> 38 & 0x3FF);
  // As readers print them: HomeAgain's chips (maker code 985) as 15 digits, the 1022
  // implants as 16, every other code country first with a dash.
  if (country == 985 || country > 999)
    field_text(out, "number", "%03lld%012lld", static_cast<long long>(country),
               static_cast<long long>(national));
  else
    field_text(out, "number", "%03lld-%012lld", static_cast<long long>(country),
               static_cast<long long>(national));
  field_integer(out, "country", country);
  field_integer(out, "national_id", national);
  field_integer(out, "animal", static_cast<int64_t>(v >> 63));
  if (v >> 48 & 1) field_integer(out, "extension", bytes[10] | bytes[11] << 8 | bytes[12] << 16);
  return passed;
}

// A repetition that reads as two frames, its sync standing twice, is left unread.
Verdict decode(const FrameBits& f, Fields& out) {
  return read_unique(f, out, read, 1, 11, false, ambiguous);
}

// Splits `text` at ':' into at most `max` pieces (copied into `pieces`, 24 chars each).
int32_t split(const char* text, char (*pieces)[24], int32_t max) {
  int32_t n = 0;
  for (const char* p = text;; ++n) {
    const char* end = std::strchr(p, ':');
    const size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (n == max || len >= sizeof pieces[0]) return -1;
    std::memcpy(pieces[n], p, len);
    pieces[n][len] = 0;
    if (!end) return n + 1;
    p = end + 1;
  }
}

bool all_digits(const char* text) {
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

// "999-000000112233" or the 15 or 16 digits readers print (animal flag set, as on pets'
// chips), or "COUNTRY:NATIONAL" followed by ":animal" and ":ext=HEX" as wanted.
bool encode(const char* text, FrameBits& f) {
  uint64_t country = 0;
  uint64_t national = 0;
  bool animal = true;
  uint64_t extension = 0;
  bool has_extension = false;
  uint64_t numbers[2];
  char pieces[4][24];
  const size_t len = std::strlen(text);
  if (all_digits(text) && (len == 15 || len == 16)) {
    const int32_t country_digits = static_cast<int32_t>(len) - 12;
    for (int32_t i = 0; i < country_digits; ++i) country = country * 10 + (text[i] - '0');
    for (size_t i = static_cast<size_t>(country_digits); i < len; ++i)
      national = national * 10 + static_cast<uint64_t>(text[i] - '0');
  } else if (parse_numbers(text, '-', numbers, 2) == 2) {
    country = numbers[0];
    national = numbers[1];
  } else {
    const int32_t n = split(text, pieces, 4);
    if (n < 2 || parse_numbers(pieces[0], 0, &country, 1) != 1 ||
        parse_numbers(pieces[1], 0, &national, 1) != 1)
      return false;
    animal = false;
    for (int32_t i = 2; i < n; ++i) {
      FrameBits hex;
      if (std::strcmp(pieces[i], "animal") == 0) {
        animal = true;
      } else if (std::strncmp(pieces[i], "ext=", 4) == 0 && frame_from_hex(pieces[i] + 4, hex) &&
                 hex.count <= 24) {
        extension = frame_field(hex, 0, hex.count);
        has_extension = true;
      } else {
        return false;
      }
    }
  }
  if (country > 1023 || national >> 38 || extension >> 24) return false;

  const uint64_t v =
      uint64_t{animal} << 63 | uint64_t{has_extension} << 48 | country << 38 | national;
  uint8_t bytes[data_bytes];
  for (int k = 0; k < 8; ++k) bytes[k] = static_cast<uint8_t>(v >> (8 * k));
  const uint16_t check = crc16_kermit(bytes, 8);
  bytes[8] = static_cast<uint8_t>(check);
  bytes[9] = static_cast<uint8_t>(check >> 8);
  for (int k = 0; k < 3; ++k) bytes[10 + k] = static_cast<uint8_t>(extension >> (8 * k));
  f = FrameBits{};
  frame_append(f, 1, 11);
  for (const uint8_t byte : bytes) frame_append(f, bits_reversed(byte, 8) << 1 | 1, 9);
  return true;
}

}  // namespace

// Diphase carries no polarity. The CRC-16 sees every error of up to three bits in the 80
// it covers; two frames in a row guard the 24 extension bits, which nothing checks.
extern const Family family_fdxb = {
    .name = "fdxb",
    .title = "FDX-B",
    .modulation = Modulation::ask_diphase,
    .rates = {32, 0, 0},
    .frame_symbols = frame_symbols,
    .gap_symbols = 0,
    .sure_frames = 2,
    .sync = 0b00000000001,
    .sync_symbols = 11,
    .either_polarity = false,
    .animal_field = true,
    .decode = decode,
    .encode = encode,
    .encode_form = "999-000000112233, 985121004515220, or COUNTRY:NATIONAL[:animal][:ext=HEX]",
    .example = "999:112233:animal",
    .printed =
        "COUNTRY-NATIONAL: the ISO 11784 country (or maker) code, 3 digits, and the 12-digit "
        "national ID; HomeAgain (985) chips as 15 digits and 1022 codes as 16, run together, as "
        "readers show them",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
