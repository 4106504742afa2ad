#pragma once
// Every reason a frame or a read is turned down, named once: as --stats counts it, as the
// pictures label and colour it, and as the hint on a failed decode explains it. Header only,
// so that the picture module needs no code of the tools' libraries.

#include <iterator>

#include "decode/half_bit_ring.hpp"
#include "lf/sure_read.hpp"

namespace tavrel {

struct Rgb {
  double r, g, b;
};

struct Reason {
  const char* label;  ///< short, for a picture's lane and legend
  const char* stats;  ///< a line of --stats; "%d" is the window's half-bits where it occurs
  Rgb colour;         ///< on a picture; every one also differs in shape, for grey prints
};

/// The program's frame test, by FrameCheck result.
inline constexpr Reason frame_check_reasons[] = {
    {"too few half-bits", "fewer than %d half-bits since the block began", {0.7, 0.7, 0.7}},
    {"header", "failed the header (nine 1 bits)", {0.4, 0.4, 0.4}},
    {"Manchester", "failed the Manchester test (equal pair)", {0.85, 0.0, 0.0}},
    {"row parity", "failed a row parity", {0.9, 0.5, 0.0}},
    {"column parity", "failed a column parity", {0.5, 0.2, 0.7}},
    {"stop bit", "failed the stop bit (not 0)", {0.0, 0.55, 0.65}},
    {"read", "passed: read", {0.05, 0.5, 0.15}},
};
static_assert(std::size(frame_check_reasons) == frame_check_count);

inline const Reason& reason_of(FrameCheck result) {
  return frame_check_reasons[static_cast<int>(result)];
}

/// The tolerant path's sure-read rules, by SureCheck result, for frames that passed their
/// family's checks.
inline constexpr Reason sure_check_reasons[] = {
    {"alone", "passed, but not yet as often in a row as the family needs", {0.7, 0.7, 0.7}},
    {"weak symbol", "a symbol far less clear than the others", {0.9, 0.5, 0.0}},
    {"line code", "the line code broken around too many symbols", {0.85, 0.0, 0.0}},
    {"repeated", "the same read again, from another lane or a clock slip", {0.4, 0.4, 0.4}},
    {"read", "passed: read", {0.05, 0.5, 0.15}},
};
static_assert(std::size(sure_check_reasons) == sure_check_count);

/// A tolerant-path frame that failed its family's checks; the family names the check.
inline constexpr Reason family_check_reason = {
    "failed its checks", "failed its family's checks", {0.5, 0.2, 0.7}};

}  // namespace tavrel
