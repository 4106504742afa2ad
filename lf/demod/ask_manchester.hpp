#pragma once
// Manchester on ASK: every bit changes level in its middle, and the step into its second
// half decides it: a rise is a 1 (the window program's convention; the fact sheet's
// captures come the other way up, and the frame search tries both). Which half-symbols
// pair into a bit is not known, so both pairings are lanes of their own. Between two equal
// bits the level changes at the boundary, between two different ones it does not: each
// bit carries the step at its boundary for the sure-read rules to weigh.

#include <cstdint>

#include "lf/demod/ask.hpp"

namespace tavrel {

/// Takes the half-symbols `from` to `to` (not included) of `loop` and hands the bits they
/// complete to the sink.
void manchester_take(AskDemod& d, AskLoop& loop, int64_t from, int64_t to);

}  // namespace tavrel
