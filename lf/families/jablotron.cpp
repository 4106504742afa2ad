// Jablotron: differential biphase at RF/64, 64 symbols back to back:
//
//   symbols  0-15   sixteen 1s
//            16-55  card code, 10 BCD digits
//            56-63  (sum of the 5 code bytes mod 256) XOR 0x3A
//
// The sync is the sixteen 1s and the 0 that starts the first digit: BCD never holds more
// than four 1s in a row, so the sync stands exactly where the run of 1s ends. A first
// digit of 8 or 9 would move it one symbol on; no such card is known, and the encoder
// refuses them.

#include <cstdio>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, length, sync, bcd, checksum, ambiguous, nedap, reason_end };
constexpr const char* reasons[] = {"passed",   "length",    "sync", "bcd",
                                   "checksum", "ambiguous", "nedap"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "card", nullptr};

constexpr uint64_t sync_bits = 0x1FFFE;  // sixteen 1s and a 0
constexpr int32_t sync_symbols = 17;

Verdict check(const FrameBits& f) {
  if (f.count != 64) return length;
  if (frame_field(f, 0, sync_symbols) != sync_bits) return sync;
  const uint64_t code = frame_field(f, 16, 40);
  if (bcd_value(code, 10) < 0) return bcd;
  unsigned sum = 0;
  for (int k = 0; k < 5; ++k) sum += static_cast<unsigned>(code >> (8 * k) & 0xFF);
  if (((sum & 0xFF) ^ 0x3A) != frame_field(f, 56, 8)) return checksum;
  return passed;
}

Verdict decode(const FrameBits& f, Fields& out) {
  if (const Verdict v = check(f); v != passed) return v;
  // A repetition that reads as two frames is left unread, and so is one that Nedap's
  // checks pass too (64 diphase symbols at the same rate). An EM4100 repetition seen as
  // diphase never shows sixteen 1s (a 1 is a change between its bits, and its rows break
  // such runs).
  if (rotations_passing(f, sync_bits, sync_symbols, false, jablotron_frame_ok) > 1)
    return ambiguous;
  if (rotations_passing(f, 0x7FC, 11, false, nedap_frame_ok) > 0) return nedap;
  const int64_t card = bcd_value(frame_field(f, 16, 40), 10);
  field_text(out, "number", "%lld", static_cast<long long>(card));
  field_integer(out, "card", card);
  return passed;
}

// The card code, up to 10 decimal digits, below 8000000000.
bool encode(const char* text, FrameBits& f) {
  uint64_t card;
  if (parse_numbers(text, 0, &card, 1) != 1 || card >= 8000000000) return false;
  const uint64_t code = to_bcd(card, 10);
  unsigned sum = 0;
  for (int k = 0; k < 5; ++k) sum += static_cast<unsigned>(code >> (8 * k) & 0xFF);
  f = FrameBits{};
  frame_append(f, 0xFFFF, 16);
  frame_append(f, code, 40);
  frame_append(f, (sum & 0xFF) ^ 0x3A, 8);
  return true;
}

}  // namespace

bool jablotron_frame_ok(const FrameBits& frame) {
  return check(frame) == passed;
}

// An additive checksum misses two flips of one bit place in different bytes when one
// raises the sum as much as the other lowers it: three frames in a row, as for the other
// checks that miss some double errors.
extern const Family family_jablotron = {
    .name = "jablotron",
    .title = "Jablotron",
    .modulation = Modulation::ask_diphase,
    .rates = {64, 0, 0},
    .frame_symbols = 64,
    .gap_symbols = 0,
    .sure_frames = 3,
    .sync = sync_bits,
    .sync_symbols = sync_symbols,
    .either_polarity = false,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "CARD (up to 10 digits, below 8000000000)",
    .example = "112233",
    .printed = "the card number, in decimal",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
