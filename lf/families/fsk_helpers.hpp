#pragma once
// What the FSK families share: Manchester carried on FSK symbols, Wiegand messages with
// their parities, and reading the forms tavrel-gen is given. CRCs are in lf/checks.hpp.

#include <cstdint>

#include "lf/checks.hpp"
#include "lf/family.hpp"

namespace tavrel {

/// Appends the data bits of `bits` symbol pairs of `frame` from `first` to `out`: (1,0) is
/// a 1, (0,1) a 0. Returns false at the first pair of equal symbols.
bool manchester_pairs(const FrameBits& frame, int32_t first, int32_t bits, FrameBits& out);

/// Appends the low `n` bits of `value`, highest first, as symbol pairs: 1 as 1,0.
void manchester_append(FrameBits& frame, uint64_t value, int32_t n);

/// The 1 symbols among `n` of `f` from `first`.
int32_t frame_weight(const FrameBits& f, int32_t first, int32_t n);

/// Appends `n` 0 symbols, any number (frame_append takes up to 64).
void frame_zeros(FrameBits& f, int32_t n);

/// Sets symbol `i` of `f` (which must hold it) to `value`.
void frame_set(FrameBits& f, int32_t i, int value);

/// One parity bit of a Wiegand message: at `at`, over the positions `from`..`to` except
/// those p with p % 3 == skip_mod3 (-1: none skipped).
struct WiegandParity {
  int8_t at;
  bool odd;
  int8_t from, to;
  int8_t skip_mod3;
};

/// A Wiegand layout with a facility (or company) code and a card number. Positions are
/// those of the message, 0 sent first.
struct WiegandFormat {
  const char* name;  ///< "H10301": JSON's "format"
  int32_t bits;      ///< message length
  int32_t facility_first, facility_bits;
  int32_t card_first, card_bits;
  const char* facility_word;  ///< how the number names the facility code: "FC", "company"
  WiegandParity parity[3];    ///< in the order they are set (each may cover those before)
  int32_t parity_count;
};

extern const WiegandFormat wiegand_h10301;    ///< 26: FC 8, CN 16
extern const WiegandFormat wiegand_kfs32;     ///< 32: FC 8, CN 16, no parity
extern const WiegandFormat wiegand_h10306;    ///< 34: FC 16, CN 16
extern const WiegandFormat wiegand_c1000_35;  ///< 35: company 12, CN 20
extern const WiegandFormat wiegand_h10304;    ///< 37: FC 16, CN 19
extern const WiegandFormat wiegand_c1000_48;  ///< 48: company 22, CN 23

/// Whether every parity bit of `format` holds in message `w` (w.count == format.bits).
bool wiegand_parity_ok(const WiegandFormat& format, const FrameBits& w);

/// The message of `format` for `facility` and `card`, parities set; false when either
/// does not fit its field.
bool wiegand_build(const WiegandFormat& format, uint64_t facility, uint64_t card, FrameBits& w);

/// The format among `formats` (null-terminated) with `bits` bits, or null.
const WiegandFormat* wiegand_find(const WiegandFormat* const* formats, int32_t bits);

/// Fills `fields` from message `w`: number (e.g. "FC 118 CN 1603", with `card_word` for
/// "CN"), format, bits, facility, card, wiegand (w in hex). With no format: number
/// "40-bit 1234567890" (w in hex), format "generic", bits, wiegand.
void wiegand_fields(const WiegandFormat* format, const FrameBits& w, const char* card_word,
                    Fields& fields);

/// `w` as hex digits of its value (the first digit holding count % 4 bits when it does not
/// divide), into `text` of room for count / 4 + 2.
void wiegand_hex(const FrameBits& w, char* text);

/// A Wiegand message "N:FC:CN" of one of `formats`, or "N:HEX" (its value in hex) of any
/// length from `min_bits` to `max_bits`; false when the text is neither or does not fit.
bool parse_wiegand(const char* text, const WiegandFormat* const* formats, int32_t min_bits,
                   int32_t max_bits, FrameBits& w);

/// `text` as a whole frame of `family` in hex, as a read's "raw" shows it, when it has the
/// family's length and passes its checks.
bool frame_from_raw(const Family& family, const char* text, FrameBits& frame);

}  // namespace tavrel
