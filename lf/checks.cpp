#include "lf/checks.hpp"

#include <algorithm>
#include <bit>

namespace tavrel {

uint8_t crc8_maxim(const uint8_t* data, int32_t n) {
  unsigned crc = 0;
  for (int32_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0x8C : crc >> 1;
  }
  return static_cast<uint8_t>(crc);
}

uint8_t crc8(const uint8_t* data, int32_t n, uint8_t poly, uint8_t init) {
  unsigned crc = init;
  for (int32_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 0x80) ? (crc << 1) ^ poly : crc << 1;
    crc &= 0xFF;
  }
  return static_cast<uint8_t>(crc);
}

uint16_t crc16_kermit(const uint8_t* data, int32_t n) {
  unsigned crc = 0;
  for (int32_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return static_cast<uint16_t>(crc);
}

uint16_t crc16_xmodem(const uint8_t* data, int32_t n) {
  unsigned crc = 0;
  for (int32_t i = 0; i < n; ++i) {
    crc ^= unsigned{data[i]} << 8;
    for (int k = 0; k < 8; ++k) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    crc &= 0xFFFF;
  }
  return static_cast<uint16_t>(crc);
}

uint64_t bits_reversed(uint64_t v, int32_t n) {
  uint64_t r = 0;
  for (int32_t i = 0; i < n; ++i, v >>= 1) r = r << 1 | (v & 1);
  return r;
}

// Data bits 1 .. n-2 of the message: the first half is [1, 1 + half), the second the rest.
static uint64_t first_half_mask(int32_t n) {
  const int32_t half = (n - 2) / 2;
  return ((uint64_t{1} << half) - 1) << (n - 1 - half);
}

static uint64_t second_half_mask(int32_t n) {
  const int32_t half = (n - 2) - (n - 2) / 2;
  return ((uint64_t{1} << half) - 1) << 1;
}

bool wiegand_parity_ok(uint64_t w, int32_t n) {
  const uint64_t first = w & (first_half_mask(n) | uint64_t{1} << (n - 1));
  const uint64_t second = w & (second_half_mask(n) | 1);
  return std::popcount(first) % 2 == 0 && std::popcount(second) % 2 == 1;
}

uint64_t wiegand_with_parity(uint64_t data, int32_t n) {
  const uint64_t w = data << 1;
  const auto even = static_cast<uint64_t>(std::popcount(w & first_half_mask(n)) & 1);
  const auto odd = static_cast<uint64_t>(~std::popcount(w & second_half_mask(n)) & 1);
  return even << (n - 1) | w | odd;
}

int64_t bcd_value(uint64_t v, int32_t digits) {
  int64_t value = 0;
  for (int32_t d = digits - 1; d >= 0; --d) {
    const auto nibble = static_cast<int64_t>(v >> (4 * d) & 0xF);
    if (nibble > 9) return -1;
    value = value * 10 + nibble;
  }
  return value;
}

uint64_t to_bcd(uint64_t value, int32_t digits) {
  uint64_t v = 0;
  for (int32_t d = 0; d < digits; ++d, value /= 10) v |= (value % 10) << (4 * d);
  return v;
}

int32_t parse_numbers(const char* text, char separator, uint64_t* values, int32_t max) {
  int32_t count = 0;
  const char* p = text;
  for (;;) {
    if (count == max) return -1;
    const bool hex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (hex) p += 2;
    const uint64_t base = hex ? 16 : 10;
    uint64_t v = 0;
    const char* start = p;
    for (;; ++p) {
      const char c = *p;
      uint64_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint64_t>(c - '0');
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = static_cast<uint64_t>(c - 'a' + 10);
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = static_cast<uint64_t>(c - 'A' + 10);
      } else {
        break;
      }
      if (v > (UINT64_MAX - digit) / base) return -1;
      v = v * base + digit;
    }
    if (p == start) return -1;
    values[count++] = v;
    if (*p == 0) return count;
    if (*p++ != separator) return -1;
  }
}

// `n` (up to 64) symbols of `frame` from `first` on, round its end as often as it takes,
// the first highest.
static uint64_t symbols_round(const FrameBits& frame, int32_t first, int32_t n) {
  uint64_t v = 0;
  while (n > 0) {
    const int32_t m = std::min(n, frame.count - first);
    v = (m == 64 ? 0 : v << m) | frame_field(frame, first, m);
    n -= m;
    first = 0;
  }
  return v;
}

void frame_rotated(const FrameBits& frame, int32_t shift, bool inverse, FrameBits& out) {
  out = FrameBits{};
  for (int32_t i = 0; i < frame.count; i += 64) {
    const int32_t m = std::min(64, frame.count - i);
    const uint64_t v = symbols_round(frame, (i + shift) % frame.count, m) ^ (inverse ? ~0ull : 0);
    out.words[i / 64] = v << (64 - m);
  }
  out.count = frame.count;
}

template <typename Check>
static int32_t count_rotations(const FrameBits& frame, uint64_t sync, int32_t sync_symbols,
                               bool both_polarities, const Check& check) {
  int32_t passing = 0;
  const uint64_t all = sync_symbols == 64 ? ~0ull : (1ull << sync_symbols) - 1;
  for (int inverse = 0; inverse <= (both_polarities ? 1 : 0); ++inverse) {
    const uint64_t want = (inverse ? ~sync : sync) & all;
    for (int32_t shift = 0; shift < frame.count; ++shift) {
      if (symbols_round(frame, shift, sync_symbols) != want) continue;
      FrameBits rotated;
      frame_rotated(frame, shift, inverse != 0, rotated);
      if (check(rotated)) ++passing;
    }
  }
  return passing;
}

int32_t rotations_passing(const FrameBits& frame, uint64_t sync, int32_t sync_symbols,
                          bool both_polarities, bool (*check)(const FrameBits&)) {
  return count_rotations(frame, sync, sync_symbols, both_polarities, check);
}

Verdict read_unique(const FrameBits& frame, Fields& out, Verdict (*read)(const FrameBits&, Fields&),
                    uint64_t sync, int32_t sync_symbols, bool both_polarities, Verdict ambiguous) {
  const int32_t before = out.count;
  const Verdict v = read(frame, out);
  if (v != frame_passed) return v;
  const auto passes = [read](const FrameBits& f) {
    Fields scratch;  // only what a read adds is set: no need to clear its room first
    scratch.count = 0;
    return read(f, scratch) == frame_passed;
  };
  if (count_rotations(frame, sync, sync_symbols, both_polarities, passes) < 2) return v;
  out.count = before;
  return ambiguous;
}

void frame_changes(const FrameBits& f, FrameBits& out) {
  out = FrameBits{};
  for (int32_t k = 0; k < f.count; ++k)
    frame_append(out,
                 static_cast<uint64_t>(frame_symbol(f, k) ^ frame_symbol(f, (k + 1) % f.count)), 1);
}

bool frame_from_changes(const FrameBits& f, FrameBits& out) {
  out = FrameBits{};
  int bit = 0;
  for (int32_t k = 0; k < f.count; ++k) {
    frame_append(out, static_cast<uint64_t>(bit), 1);
    bit ^= frame_symbol(f, k);
  }
  return bit == 0;
}

}  // namespace tavrel
