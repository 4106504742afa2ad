#pragma once
// NRZ on ASK: a symbol's level for its whole length is its bit. A symbol is two half-symbols
// of the loop, so both pairings are lanes. The middle between the two levels is followed
// from the decisions, slowly enough for the long runs of equal bits NRZ allows, fast enough
// for the droop of a coupling capacitor. The level a 1 has follows the window program's
// polarity: low, as the first half of its Manchester 1.

#include <cstdint>

#include "lf/demod/ask.hpp"

namespace tavrel {

/// Takes half-symbol `k` of `loop`, whose sum `y` has just been decided, and hands the
/// symbol it completes to the sink on the NRZ lanes.
void nrz_take(AskDemod& d, AskLoop& loop, int64_t k, double y, int64_t end);

}  // namespace tavrel
