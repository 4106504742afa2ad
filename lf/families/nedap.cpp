// Nedap (64-bit): differential biphase at RF/64, 64 symbols back to back:
//
//   symbols  0-8    nine 1s            31-34  CRC bits 15-12    51-54  T4
//            9-10   00                 35-38  T2                55-58  CRC bits 3-0
//            11-14  subtype            39-42  CRC bits 11-8     59-62  T5
//            15-26  customer code      43-46  T3                63     even parity of all 64
//            27-30  T1                 47-50  CRC bits 7-4
//
// The card number's five digits are chained through a table: i1 = r1, ik = (ik-1 + 1 + rk)
// mod 10, Tk = table[ik]. The CRC is CRC-16/XMODEM over the bytes C0|subtype, customer
// bits 11-4, customer bits 3-0 and T1, T2 and T3, T4 and T5.

#include <bit>
#include <cstdio>
#include <iterator>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict {
  passed,
  length,
  sync,
  parity,
  digit,
  crc,
  ambiguous,
  jablotron,
  em4100,
  reason_end
};
constexpr const char* reasons[] = {"passed", "length",    "sync",      "parity", "digit",
                                   "crc",    "ambiguous", "jablotron", "em4100"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "card", "subtype", "customer", nullptr};

constexpr uint64_t sync_bits = 0x7FC;  // nine 1s, then 00
constexpr int32_t sync_symbols = 11;
constexpr uint8_t table[10] = {8, 2, 1, 12, 4, 5, 10, 13, 0, 9};

// The table index of nibble `t`, or -1 for the six nibbles it never sends.
int index_of(uint64_t t) {
  for (int i = 0; i < 10; ++i)
    if (table[i] == t) return i;
  return -1;
}

uint16_t frame_crc(uint64_t subtype, uint64_t customer, const uint64_t* t) {
  const uint8_t bytes[5] = {
      static_cast<uint8_t>(0xC0 | subtype), static_cast<uint8_t>(customer >> 4),
      static_cast<uint8_t>((customer & 0xF) << 4 | t[0]), static_cast<uint8_t>(t[1] << 4 | t[2]),
      static_cast<uint8_t>(t[3] << 4 | t[4])};
  return crc16_xmodem(bytes, 5);
}

// The card number, or a verdict below 0.
int64_t check(const FrameBits& f) {
  if (f.count != 64) return -length;
  if (frame_field(f, 0, sync_symbols) != sync_bits) return -sync;
  if ((std::popcount(f.words[0]) & 1) != 0) return -parity;
  uint64_t t[5];
  uint64_t sent_crc = 0;
  int64_t card = 0;
  int previous = 0;
  for (int k = 0; k < 5; ++k) {
    t[k] = frame_field(f, 27 + 8 * k, 4);
    if (k < 4) sent_crc = sent_crc << 4 | frame_field(f, 31 + 8 * k, 4);
    const int i = index_of(t[k]);
    if (i < 0) return -digit;
    card = card * 10 + (k == 0 ? i : (i - previous - 1 + 20) % 10);
    previous = i;
  }
  if (frame_crc(frame_field(f, 11, 4), frame_field(f, 15, 12), t) != sent_crc) return -crc;
  return card;
}

Verdict decode(const FrameBits& f, Fields& out) {
  const int64_t card = check(f);
  if (card < 0) return static_cast<Verdict>(-card);
  // Jablotron and EM4100 tags at RF/64 repeat 64 symbols as well, and an EM4100 signal is
  // a clean diphase signal half a bit on. A repetition that reads as two frames, or that
  // another family's checks pass too, is left to neither.
  if (rotations_passing(f, sync_bits, sync_symbols, false, nedap_frame_ok) > 1) return ambiguous;
  if (rotations_passing(f, 0x1FFFE, 17, false, jablotron_frame_ok) > 0) return jablotron;
  FrameBits m;
  if (frame_from_changes(f, m) && rotations_passing(m, 0x1FF, 9, true, em4100_frame_ok) > 0)
    return em4100;
  const uint64_t subtype = frame_field(f, 11, 4);
  const uint64_t customer = frame_field(f, 15, 12);
  field_text(out, "number", "%05lld", static_cast<long long>(card));
  field_integer(out, "card", card);
  field_integer(out, "subtype", static_cast<int64_t>(subtype));
  field_integer(out, "customer", static_cast<int64_t>(customer));
  return passed;
}

// "CARD:SUBTYPE:CUSTOMER" in the order readers print them, e.g. 12345:1:291.
bool encode(const char* text, FrameBits& f) {
  uint64_t v[3];
  if (parse_numbers(text, ':', v, 3) != 3 || v[0] > 99999 || v[1] > 15 || v[2] > 4095) return false;
  uint64_t t[5];
  int previous = 0;
  for (int k = 0; k < 5; ++k) {
    int digit = 1;
    for (int d = 4 - k; d > 0; --d) digit *= 10;
    const int r = static_cast<int>(v[0] / static_cast<uint64_t>(digit) % 10);
    const int i = k == 0 ? r : (previous + 1 + r) % 10;
    t[k] = table[i];
    previous = i;
  }
  const uint16_t check_value = frame_crc(v[1], v[2], t);
  f = FrameBits{};
  frame_append(f, sync_bits, sync_symbols);
  frame_append(f, v[1], 4);
  frame_append(f, v[2], 12);
  for (int k = 0; k < 5; ++k) {
    frame_append(f, t[k], 4);
    if (k < 4) frame_append(f, check_value >> (12 - 4 * k) & 0xF, 4);
  }
  frame_append(f, static_cast<uint64_t>(std::popcount(f.words[0]) & 1), 1);
  return true;
}

}  // namespace

bool nedap_frame_ok(const FrameBits& frame) {
  return check(frame) >= 0;
}

// A CRC-16, the frame's parity and the digit table see every error of up to three
// symbols; two frames in a row would do for the checks. Three, because a Visa2000
// repetition (100 symbols at the same rate) seen as diphase must not pass: only a run of
// frames longer than 64 + 100 symbols cannot hold both repetitions (Fine and Wilf).
extern const Family family_nedap = {
    .name = "nedap",
    .title = "Nedap",
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
    .encode_form = "CARD:SUBTYPE:CUSTOMER, e.g. 12345:1:291",
    .example = "12345:1:291",
    .printed = "the card number, 5 digits",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
