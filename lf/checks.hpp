#pragma once
// The checks several tag families share: CRCs, Wiegand parity, BCD, reading numbers from
// a friendly form, and the rotations of a frame that is its tag's whole repetition. Plain
// functions of their arguments, no state.

#include <cstdint>

#include "lf/family.hpp"

namespace tavrel {

/// CRC-8/MAXIM: poly 0x31 processed LSB-first (shift right, XOR 0x8C), init 0x00.
uint8_t crc8_maxim(const uint8_t* data, int32_t n);

/// CRC-8 with polynomial `poly` processed MSB-first from `init`, no final XOR.
uint8_t crc8(const uint8_t* data, int32_t n, uint8_t poly, uint8_t init);

/// CRC-16/KERMIT: poly 0x1021 processed LSB-first (shift right, XOR 0x8408), init 0.
uint16_t crc16_kermit(const uint8_t* data, int32_t n);

/// CRC-16/XMODEM: poly 0x1021 processed MSB-first, init 0.
uint16_t crc16_xmodem(const uint8_t* data, int32_t n);

/// The low `n` bits of `v` in reverse order: for fields sent LSB-first.
uint64_t bits_reversed(uint64_t v, int32_t n);

/// Wiegand parity of an `n`-bit message `w` (its first bit the highest): the first bit
/// gives the first half of the data bits even weight, the last bit the second half odd.
bool wiegand_parity_ok(uint64_t w, int32_t n);

/// `data` (n - 2 bits) framed as an `n`-bit Wiegand message with both parity bits.
uint64_t wiegand_with_parity(uint64_t data, int32_t n);

/// The value of `digits` BCD digits (the first the highest nibble of `v`), or -1 when a
/// nibble is above 9.
int64_t bcd_value(uint64_t v, int32_t digits);

/// `value` as `digits` BCD digits.
uint64_t to_bcd(uint64_t value, int32_t digits);

/// Reads up to `max` numbers separated by `separator` from `text` into `values`: decimal,
/// or hex after "0x". Returns how many, or -1 when the text holds anything else, a number
/// overflows, or there are more than `max`.
int32_t parse_numbers(const char* text, char separator, uint64_t* values, int32_t max);

/// `frame` read from its symbol `shift` on, wrapping round, and complemented when
/// `inverse`: the frame a search finds when the tag repeats it back to back and the sync
/// also stands at `shift`.
void frame_rotated(const FrameBits& frame, int32_t shift, bool inverse, FrameBits& out);

/// How many readings `frame` gives as a repetition its tag sends back to back, with no gap:
/// the rotations that start with `sync` and pass `check`, rotation 0 included, and those of
/// its complement as well when `both_polarities`. 2 or more: the repetition reads as two
/// frames; 1 or more for another family's sync and checks: that family reads it too.
int32_t rotations_passing(const FrameBits& frame, uint64_t sync, int32_t sync_symbols,
                          bool both_polarities, bool (*check)(const FrameBits&));

/// `read`'s verdict on `frame` (a frame its tag repeats back to back), or `ambiguous`, with
/// `out` as it was, when the repetition reads as two frames of the family: the frame a
/// family's decode gives when its sync and checks alone cannot rule that out.
Verdict read_unique(const FrameBits& frame, Fields& out, Verdict (*read)(const FrameBits&, Fields&),
                    uint64_t sync, int32_t sync_symbols, bool both_polarities, Verdict ambiguous);

/// The changes between neighbouring symbols round a repetition, out[k] = f[k] ^ f[k + 1]:
/// a Manchester repetition as a differential biphase reader sees it half a bit later.
void frame_changes(const FrameBits& f, FrameBits& out);

/// The Manchester bits, from a 0, whose changes are `f`: the repetition whose diphase view
/// `f` is. False when `f` holds an odd number of 1s, which no repetition of its length gives.
bool frame_from_changes(const FrameBits& f, FrameBits& out);

}  // namespace tavrel
