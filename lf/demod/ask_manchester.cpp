#include "lf/demod/ask_manchester.hpp"

#include <cmath>

namespace tavrel {

void manchester_take(AskDemod& d, AskLoop& loop, int64_t from, int64_t to) {
  for (int32_t pairing = 0; pairing < 2; ++pairing) {
    // A bit ends on every half-symbol of its pairing's parity.
    const int32_t lane = loop.manchester + pairing;
    Symbol batch[ask_batch];
    int32_t n = 0;
    uint8_t last = loop.pairings[pairing].last;
    int64_t k = from + ((from & 1) != pairing);
    for (; k < to; k += 2) {
      const double step = loop.steps[k & (ask_ring - 1)];
      const auto bit = static_cast<uint8_t>(step > 0);
      // The boundary before this bit is the step into its first half. Two equal bits change
      // level there: 1,1 is low-high-low-high, a fall; 0,0 a rise. Two different ones do not.
      const float boundary = k > 0 ? static_cast<float>(loop.steps[(k - 1) & (ask_ring - 1)]) : 0;
      const bool quiet = bit != last;
      last = bit;
      // The change signed by the bit without a branch: bits come at random.
      const float change = boundary * static_cast<float>(1 - 2 * bit);
      batch[n++] = {bit, static_cast<uint8_t>(quiet), static_cast<float>(std::fabs(step)), change,
                    loop.ends[k & (ask_ring - 1)]};
      if (n == ask_batch) {
        ask_hand_on(d, lane, batch, n, k);
        n = 0;
      }
    }
    loop.pairings[pairing].last = last;
    if (n > 0) ask_hand_on(d, lane, batch, n, k - 2);
  }
}

}  // namespace tavrel
