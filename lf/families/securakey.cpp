// Securakey (Radio Key): Manchester at RF/40, 96 symbols back to back:
//
//   symbols  0-9    0111111111, the sync (eight 1s at most in the groups)
//            10     0
//            11-91  9 groups: 8 data bits, then a 0 spacer
//            92-95  4 more data bits
//
//   data bits E0-75
//     0-1    01 in every capture (not checked)      16-47  Wiegand message, right-aligned
//     2-7    Wiegand length N: 26 or 32              48-63  unknown, probably a checksum
//     8-15   zeros                                   64-75  zeros in the captures (not checked)
//
// The Wiegand message has the usual two parities; FC = W[1 .. N-18], CN = W[N-17 .. N-2].
// Readers print the FC in hex: how it maps to the printed facility code is unknown.

#include <cstdio>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, length, sync, spacer, bits_count, zeros, parity, ambiguous, reason_end };
constexpr const char* reasons[] = {"passed", "length", "sync",   "spacer",
                                   "bits",   "zeros",  "parity", "ambiguous"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "bits", "facility", "card", nullptr};

constexpr uint64_t sync_bits = 0x3FE;  // 0111111111 and the 0 after it
constexpr int32_t sync_symbols = 11;

// Frame symbol of data bit j: after the sync, 9 groups of 8 with their spacers, then 4.
int32_t data_symbol(int32_t j) {
  return j < 72 ? 11 + j / 8 * 9 + j % 8 : 92 + (j - 72);
}

uint64_t data_field(const FrameBits& f, int32_t first, int32_t n) {
  uint64_t v = 0;
  for (int32_t j = first; j < first + n; ++j)
    v = v << 1 | static_cast<uint64_t>(frame_symbol(f, data_symbol(j)));
  return v;
}

Verdict read(const FrameBits& f, Fields& out) {
  if (f.count != 96) return length;
  if (frame_field(f, 0, sync_symbols) != sync_bits) return sync;
  for (int32_t s = 19; s <= 91; s += 9)
    if (frame_symbol(f, s) != 0) return spacer;
  const auto n = static_cast<int32_t>(data_field(f, 2, 6));
  if (n != 26 && n != 32) return bits_count;
  if (data_field(f, 8, 8) != 0 || data_field(f, 16, 32 - n) != 0) return zeros;
  const uint64_t w = data_field(f, 48 - n, n);
  if (!wiegand_parity_ok(w, n)) return parity;
  const auto facility = static_cast<int64_t>(w >> 17 & ((uint64_t{1} << (n - 18)) - 1));
  const auto card = static_cast<int64_t>(w >> 1 & 0xFFFF);
  field_text(out, "number", "%d-bit FC 0x%llX Card %lld", n, static_cast<long long>(facility),
             static_cast<long long>(card));
  field_integer(out, "bits", n);
  field_integer(out, "facility", facility);
  field_integer(out, "card", card);
  return passed;
}

// A repetition that reads as two frames, its sync standing twice, is left unread.
Verdict decode(const FrameBits& f, Fields& out) {
  return read_unique(f, out, read, sync_bits, sync_symbols, true, ambiguous);
}

// "BITS:FC:CN", e.g. 26:0x35:64169; the unknown 16 bits are a real card's.
bool encode(const char* text, FrameBits& f) {
  uint64_t v[3];
  if (parse_numbers(text, ':', v, 3) != 3 || (v[0] != 26 && v[0] != 32) || v[1] >> (v[0] - 18) ||
      v[2] > 0xFFFF)
    return false;
  const auto n = static_cast<int32_t>(v[0]);
  const uint64_t w = wiegand_with_parity(v[1] << 16 | v[2], n);
  const uint64_t e = uint64_t{1} << 62 | v[0] << 56 | w << 16 | 0x88C0;  // E0-63
  f = FrameBits{};
  frame_append(f, sync_bits, sync_symbols);
  for (int32_t k = 0; k < 8; ++k) frame_append(f, (e >> (56 - 8 * k) & 0xFF) << 1, 9);
  frame_append(f, 0, 9 + 4);  // E64-71 and their spacer, E72-75: zeros as in the captures
  return true;
}

}  // namespace

// Only the two Wiegand parities guard the number, and they miss two flips in one half:
// three frames in a row.
extern const Family family_securakey = {
    .name = "securakey",
    .title = "Securakey",
    .modulation = Modulation::ask_manchester,
    .rates = {40, 0, 0},
    .frame_symbols = 96,
    .gap_symbols = 0,
    .sure_frames = 3,
    .sync = sync_bits,
    .sync_symbols = sync_symbols,
    .either_polarity = true,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "BITS:FC:CN (26 or 32 bits, FC as readers print it), e.g. 26:0x35:64169",
    .example = "26:0x35:64169",
    .printed =
        "BITS-bit FC 0xF Card C: the Wiegand length, facility code (in hex, as readers show it) "
        "and card number",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
