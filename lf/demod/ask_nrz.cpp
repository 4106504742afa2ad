#include "lf/demod/ask_nrz.hpp"

#include <cmath>
#include <limits>

namespace tavrel {

constexpr float level_gain = 1.0f / 16;  ///< share of a symbol's sum in its level's running mean

void nrz_take(AskDemod& d, AskLoop& loop, int64_t k, double y, int64_t end) {
  const int32_t pairing = static_cast<int32_t>(k & 1);
  NrzLane& lane = loop.nrz_pairings[pairing];
  const auto sum = static_cast<float>(y + (k > 0 ? loop.sums[(k - 1) & (ask_history - 1)] : 0));
  if (lane.high <= lane.low) {  // no signal seen yet: start from this symbol
    lane.high = sum + 1;
    lane.low = sum - 1;
  }
  const float middle = 0.5f * (lane.high + lane.low);
  const bool high = sum > middle;
  float& level = high ? lane.high : lane.low;
  level += (sum - level) * level_gain;
  // A level that runs past the other (a slow drift with one level unseen) drags it along.
  if (lane.high < lane.low + 1) (high ? lane.low : lane.high) = high ? lane.high - 1 : lane.low + 1;
  const Symbol symbol{static_cast<uint8_t>(!high), 0, std::fabs(sum - middle),
                      std::numeric_limits<float>::infinity(), end};
  d.sink.take(d.sink.context, loop.nrz + pairing, symbol);
}

}  // namespace tavrel
