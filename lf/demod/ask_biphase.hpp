#pragma once
// Biphase and differential biphase on ASK: the level changes at every boundary between
// symbols, and a change in the middle of a symbol as well carries the data (a 1 in biphase,
// a 0 in differential biphase). The level itself says nothing, so an upside-down signal
// reads the same. Which half-symbols pair into a symbol is not known: both pairings are
// lanes of their own, and only the right one has a change at every boundary. The lanes
// carry biphase; a differential biphase symbol is its complement, and is read as such.

#include <cstdint>

#include "lf/demod/ask.hpp"

namespace tavrel {

/// Takes the half-symbols `from` to `to` (not included) of `loop` and hands the symbols
/// they decide (each ends a half-symbol before the one that decides it) to the sink on
/// the biphase lanes.
void biphase_take(AskDemod& d, AskLoop& loop, int64_t from, int64_t to);

}  // namespace tavrel
