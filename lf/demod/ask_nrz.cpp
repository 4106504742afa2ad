#include "lf/demod/ask_nrz.hpp"

#include <cmath>
#include <limits>

namespace tavrel {

constexpr float change_gain = 1.0f / 8;  ///< share of an edge's step in the running size
/// Longer than any run of a frame without an edge: after so many symbols without one, the
/// running size is forgotten, a share a symbol, so that a weaker signal after a stronger
/// one (another tag, or the same moved away) still has edges.
constexpr int32_t edgeless = 48;
constexpr float change_leak = 1.0f / 16;

void nrz_take(AskDemod& d, AskLoop& loop, int64_t from, int64_t to) {
  for (int32_t pairing = 0; pairing < 2; ++pairing) {
    // A symbol ends on every half-symbol of its pairing's parity.
    NrzLane& lane = loop.nrz_pairings[pairing];
    float change = lane.change;  // carried in registers: each symbol waits on them
    bool high = lane.high;
    int32_t without = lane.without;
    Symbol batch[ask_batch];
    int32_t n = 0;
    int64_t k = from + ((from & 1) != pairing);
    for (; k < to; k += 2) {
      // The boundary before this symbol is the step into its first half.
      const double boundary =
          k > 0 ? static_cast<float>(loop.steps[(k - 1) & (ask_ring - 1)]) : 0.0;
      const double size = std::fabs(boundary);
      const bool edge = size > 0.5 * change;
      if (edge) {
        high = boundary > 0;
        change += (static_cast<float>(size) - change) * change_gain;
        without = 0;
      } else if (++without > edgeless) {
        change -= change * change_leak;
      }
      // Twice the distance from the half-way size: a clear symbol's margin is an edge's size.
      const auto margin = static_cast<float>(2 * std::fabs(size - 0.5 * change));
      batch[n++] = {static_cast<uint8_t>(!high), 0, margin, std::numeric_limits<float>::infinity(),
                    loop.ends[k & (ask_ring - 1)]};
      if (n == ask_batch) {
        ask_hand_on(d, loop.nrz + pairing, batch, n, k);
        n = 0;
      }
    }
    lane.change = change;
    lane.high = high;
    lane.without = without;
    if (n > 0) ask_hand_on(d, loop.nrz + pairing, batch, n, k - 2);
  }
}

}  // namespace tavrel
