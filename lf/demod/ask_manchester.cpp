#include "lf/demod/ask_manchester.hpp"

#include <algorithm>
#include <cmath>

namespace tavrel {

void manchester_take(AskDemod& d, AskLoop& loop, int64_t k, double step, int64_t end) {
  const int32_t pairing = static_cast<int32_t>(k & 1);
  ManchesterLane& lane = loop.pairings[pairing];
  const auto bit = static_cast<uint8_t>(step > 0);
  // The boundary before this bit is the step into its first half. Two equal bits change
  // level there: 1,1 is low-high-low-high, a fall; 0,0 a rise. Two different ones do not.
  const double boundary = k > 0 ? loop.steps[(k - 1) & (ask_history - 1)] : 0.0;
  const bool quiet = bit != lane.last;
  lane.last = bit;
  const Symbol symbol{bit, static_cast<uint8_t>(quiet), static_cast<float>(std::fabs(step)),
                      static_cast<float>(bit ? -boundary : boundary), end};
  d.sink.take(d.sink.context, loop.manchester + pairing, symbol);
}

}  // namespace tavrel
