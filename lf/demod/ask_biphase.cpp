#include "lf/demod/ask_biphase.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

namespace tavrel {

constexpr float change_gain = 1.0f / 8;  ///< share of a boundary's step in the running size

// A symbol is decided one half-symbol late, from three steps: the change at its boundary
// (always there; its sign says which way the level went), the step in its middle, and the
// change at the next boundary. With a change in the middle the three alternate in sign;
// without one the middle is still and the next boundary goes back the other way. So
//   T = sign(first boundary) x (2 x next boundary - middle)
// is 3 changes for a middle change and -2 for none, whatever the level and polarity: a
// decision over the whole symbol and its neighbour, not a guess whether one step is big.
// `x` negated unless `keep`, by its sign bit: a branch would be a guess, as boundaries go
// either way at random.
static double negated_unless(double x, bool keep) {
  return std::bit_cast<double>(std::bit_cast<uint64_t>(x) ^ uint64_t{!keep} << 63);
}

void biphase_take(AskDemod& d, AskLoop& loop, int64_t from, int64_t to) {
  const auto at = [&loop](int64_t j) { return loop.steps[j & (ask_ring - 1)]; };
  for (int32_t pairing = 0; pairing < 2; ++pairing) {
    // A symbol is decided on every half-symbol from the third on whose predecessor has its
    // pairing's parity.
    BiphaseLane& lane = loop.biphase_pairings[pairing];
    float change = lane.change;  // carried in a register: each symbol's threshold waits on it
    Symbol batch[ask_batch];
    int32_t n = 0;
    const int64_t first = std::max<int64_t>(from, 2);
    int64_t k = first + (((first - 1) & 1) != pairing);
    for (; k < to; k += 2) {
      const double boundary = static_cast<float>(at(k - 2));
      const double middle = static_cast<float>(at(k - 1));
      const double next = at(k);
      change += (static_cast<float>(std::fabs(boundary)) - change) * change_gain;
      const double t = negated_unless(2 * next - middle, boundary > 0);
      const double half_way = 0.5 * change;
      const bool changed = t > half_way;
      // The two outcomes lie 2.5 changes either side of the half-way point: a clear symbol's
      // margin is then the size of a change, as on the other lanes.
      const auto margin = static_cast<float>(std::fabs(t - half_way) * 0.4);
      batch[n++] = {static_cast<uint8_t>(changed), 0, margin,
                    static_cast<float>(std::fabs(boundary)), loop.ends[(k - 1) & (ask_ring - 1)]};
      if (n == ask_batch) {
        ask_hand_on(d, loop.biphase + pairing, batch, n, k);
        n = 0;
      }
    }
    lane.change = change;
    if (n > 0) ask_hand_on(d, loop.biphase + pairing, batch, n, k - 2);
  }
}

}  // namespace tavrel
