// HID Prox. Manchester on FSK at RF/50 after an 8-symbol sync that Manchester data cannot
// hold (it has 000 and 111):
//
//   short, 96 symbols:  00011101 | 44 bits V: 000000 | 1 | 0..0 | 1 (at bit N) | W (N bits)
//                                            (or, for N = 37: 000000 | 0 | W)
//   long, 192 symbols:  00011101 | 92 bits V: header byte | 0..0 | 1 (at bit N) | W
//
// W is the Wiegand message, whose length N names its format. Only two or three parity bits
// protect the number, so a known format must pass them (no fallback to "generic" for it).
// An FDX-A frame holds this sync in its own and passes the framing; see fdxa_lookalike.

#include <cstring>
#include <iterator>

#include "lf/families/fsk_helpers.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, no_sync, bad_manchester, header_bits, bad_length, fdxa_frame, parity };
const char* const reasons[] = {"passed", "sync",        "manchester", "header bits",
                               "length", "fdx-a frame", "parity"};
const char* const fields[] = {"number", "format", "bits", "facility", "card", "wiegand", nullptr};
const WiegandFormat* const formats[] = {
    &wiegand_h10301, &wiegand_kfs32,    &wiegand_h10306, &wiegand_c1000_35,
    &wiegand_h10304, &wiegand_c1000_48, nullptr};

constexpr uint64_t sync = 0x1D;
constexpr int32_t sync_symbols = 8;
constexpr int32_t short_symbols = 96;
constexpr int32_t long_symbols = 192;
constexpr int32_t short_value = 44;  ///< bits of V
constexpr int32_t long_value = 92;
constexpr uint64_t long_header = 0x9E;  ///< the long form's first byte, as captured
constexpr int32_t min_bits = 26;
constexpr int32_t max_bits = 83;

// An FDX-A frame seen from its 9th symbol on: its five data bytes, each of odd weight, as
// V's bits 43..4, and the next frame's 01010101 as V's last four bits (0000). No HID
// 26-bit message looks like this (its second byte is 0); the few longer ones that do are
// read as FDX-A, whose signal they are.
bool fdxa_lookalike(const FrameBits& v) {
  if (frame_field(v, 40, 4) != 0) return false;
  for (int32_t byte = 0; byte < 5; ++byte) {
    if ((frame_weight(v, 8 * byte, 8) & 1) == 0) return false;
  }
  return true;
}

Verdict decode(const FrameBits& frame, Fields& out) {
  if (frame.count != short_symbols && frame.count != long_symbols) return bad_length;
  if (frame_field(frame, 0, sync_symbols) != sync) return no_sync;
  const bool long_form = frame.count == long_symbols;
  const int32_t value_bits = long_form ? long_value : short_value;
  FrameBits v{};
  if (!manchester_pairs(frame, sync_symbols, value_bits, v)) return bad_manchester;

  // Symbol i of v is V's bit value_bits - 1 - i.
  int32_t first = 8;  // long: after the header byte
  if (!long_form) {
    if (frame_field(v, 0, 6) != 0) return header_bits;
    first = frame_symbol(v, 6) ? 7 : -1;  // bit 37: a sentinel follows; else N = 37
  }
  int32_t bits = 37;
  if (first >= 0) {
    while (first < value_bits && !frame_symbol(v, first)) ++first;
    bits = value_bits - 1 - first;
  }
  if (bits < min_bits || bits > max_bits) return bad_length;
  if (!long_form && fdxa_lookalike(v)) return fdxa_frame;

  FrameBits w{};
  for (int32_t i = value_bits - bits; i < value_bits; ++i)
    frame_append(w, static_cast<uint64_t>(frame_symbol(v, i)), 1);
  const WiegandFormat* format = wiegand_find(formats, bits);
  if (format && !wiegand_parity_ok(*format, w)) return parity;
  wiegand_fields(format, w, "CN", out);
  return passed;
}

// The frame of a message in the form of `family`; short frames carry up to 37 bits.
bool encode_for(const Family& family, const char* text, FrameBits& frame) {
  const bool long_form = family.frame_symbols == long_symbols;
  if (!std::strchr(text, ':')) return frame_from_raw(family, text, frame);
  FrameBits w{};
  if (!parse_wiegand(text, formats, long_form ? 38 : min_bits, long_form ? max_bits : 37, w))
    return false;
  const int32_t bits = w.count;
  const int32_t value_bits = long_form ? long_value : short_value;
  FrameBits v{};
  frame_zeros(v, value_bits);
  if (long_form) {
    for (int32_t i = 0; i < 8; ++i) frame_set(v, i, long_header >> (7 - i) & 1);
  } else if (bits < 37) {
    frame_set(v, 6, 1);
  }
  if (bits != 37) frame_set(v, value_bits - 1 - bits, 1);  // the sentinel
  for (int32_t i = 0; i < bits; ++i) frame_set(v, value_bits - bits + i, frame_symbol(w, i));

  frame = FrameBits{};
  frame_append(frame, sync, sync_symbols);
  for (int32_t i = 0; i < value_bits; ++i)
    manchester_append(frame, static_cast<uint64_t>(frame_symbol(v, i)), 1);
  Fields check{};
  return decode(frame, check) == passed;  // not a message that reads as FDX-A
}

bool encode_short(const char* text, FrameBits& frame) {
  return encode_for(family_hid, text, frame);
}

bool encode_long(const char* text, FrameBits& frame) {
  return encode_for(family_hid_long, text, frame);
}

}  // namespace

const Family family_hid = {
    "hid",
    "HID Prox",
    Modulation::fsk,
    {50, 0, 0},
    short_symbols,
    0,
    2,  // two or three parity bits, but a strong sync and 44 Manchester pairs
    sync,
    sync_symbols,
    true,
    false,
    decode,
    encode_short,
    "N:FC:CN (N 26, 32, 34, 35, 37), N:HEX (any N from 26 to 37), or the frame in hex",
    "26:118:1603",
    "facility code and card number, as readers print them: FC 118 CN 1603 (format and bits "
    "name the layout); a length of no known layout as its bits in hex",
    reasons,
    static_cast<int32_t>(std::size(reasons)),
    fields,
};

const Family family_hid_long = {
    "hid",
    "HID Prox (long frames)",
    Modulation::fsk,
    {50, 0, 0},
    long_symbols,
    0,
    2,
    sync,
    sync_symbols,
    true,
    false,
    decode,
    encode_long,
    "N:FC:CN (N 48), N:HEX (any N from 38 to 83), or the frame in hex",
    "48:118:1603",
    "as for hid: company 118 CN 1603 for Corporate 1000 48-bit",
    reasons,
    static_cast<int32_t>(std::size(reasons)),
    fields,
};

}  // namespace tavrel
