#include "lf/demod/ask_nrz.hpp"

#include <cmath>
#include <limits>

namespace tavrel {

constexpr float change_gain = 1.0f / 8;  ///< share of an edge's step in the running size

void nrz_take(AskDemod& d, AskLoop& loop, int64_t k, double, int64_t end) {
  const int32_t pairing = static_cast<int32_t>(k & 1);
  NrzLane& lane = loop.nrz_pairings[pairing];
  // The boundary before this symbol is the step into its first half.
  const double boundary = k > 0 ? loop.steps[(k - 1) & (ask_history - 1)] : 0.0;
  const double size = std::fabs(boundary);
  const bool edge = size > 0.5 * lane.change;
  if (edge) {
    lane.high = boundary > 0;
    lane.change += (static_cast<float>(size) - lane.change) * change_gain;
  }
  // Twice the distance from the half-way size: a clear symbol's margin is an edge's size.
  const auto margin = static_cast<float>(2 * std::fabs(size - 0.5 * lane.change));
  const Symbol symbol{static_cast<uint8_t>(!lane.high), 0, margin,
                      std::numeric_limits<float>::infinity(), end};
  d.sink.take(d.sink.context, loop.nrz + pairing, symbol);
}

}  // namespace tavrel
