#include "lf/demod/ask_biphase.hpp"

#include <cmath>

namespace tavrel {

constexpr float change_gain = 1.0f / 8;  ///< share of a boundary's step in the running size

void biphase_take(AskDemod& d, AskLoop& loop, int64_t k, double step, int64_t end) {
  const int32_t pairing = static_cast<int32_t>(k & 1);
  BiphaseLane& lane = loop.biphase_pairings[pairing];
  // The boundary before this symbol is the step into its first half; a change there is what
  // a change looks like, and the middle is judged against half of it.
  const double boundary = k > 0 ? std::fabs(loop.steps[(k - 1) & (ask_history - 1)]) : 0.0;
  lane.change += (static_cast<float>(boundary) - lane.change) * change_gain;
  const double middle = std::fabs(step);
  const bool changed = middle > 0.5 * lane.change;
  // Both decisions measure their distance from the half-way point twice, so that a clear
  // symbol's margin is the size of a change, as on the other lanes.
  const auto margin = static_cast<float>(2 * std::fabs(middle - 0.5 * lane.change));
  for (int c = 0; c < 2; ++c) {
    const int32_t first = loop.biphase[c];
    if (first < 0) continue;
    const auto value = static_cast<uint8_t>(c == 0 ? changed : !changed);  // [1]: differential
    const Symbol symbol{value, 0, margin, static_cast<float>(boundary), end};
    d.sink.take(d.sink.context, first + pairing, symbol);
  }
}

}  // namespace tavrel
