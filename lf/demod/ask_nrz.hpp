#pragma once
// NRZ on ASK: a symbol's level for its whole length is its bit. A symbol is two half-symbols
// of the loop, so both pairings are lanes. The level is followed by its changes, the steps
// at the symbols' boundaries: a front end whose coupling lets a long run of one level decay
// towards the middle keeps its edges, not its levels. The level a 1 has follows the window
// program's polarity: low, as the first half of its Manchester 1.

#include <cstdint>

#include "lf/demod/ask.hpp"

namespace tavrel {

/// Takes the half-symbols `from` to `to` (not included) of `loop` and hands the symbols
/// they complete to the sink on the NRZ lanes.
void nrz_take(AskDemod& d, AskLoop& loop, int64_t from, int64_t to);

}  // namespace tavrel
