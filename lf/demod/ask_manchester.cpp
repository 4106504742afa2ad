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

void manchester_measure(const AskLoop& loop, int32_t pairing, int32_t bits, SignalMeasure& m) {
  const int64_t available = loop.count / 2 - 1;
  const auto n = static_cast<int32_t>(
      std::clamp<int64_t>(bits, 1, std::min<int64_t>(available, ask_history / 2 - 1)));
  // The newest half-symbol that ends a bit of this pairing.
  int64_t newest = loop.count - 1;
  if ((newest & 1) != pairing) --newest;
  const auto at = [&loop](int64_t k) { return loop.steps[k & (ask_history - 1)]; };
  double level = 0;
  double sums = 0;
  double noise = 0;
  int32_t quiet = 0;
  for (int32_t j = 0; j < n; ++j) {
    const int64_t k = newest - 2 * j;
    const double mid = at(k);
    level += std::fabs(mid);
    sums += loop.sums[k & (ask_history - 1)] + loop.sums[(k - 1) & (ask_history - 1)];
    // Between two different bits the code has no change: what steps there is noise.
    if ((mid > 0) != (at(k - 2) > 0)) {
      noise += at(k - 1) * at(k - 1);
      ++quiet;
    }
  }
  const double half = loop.half;
  const double swing = level / n / (2 * half);  // a change steps by twice the peak
  const double sigma2 = quiet > 0 ? noise / quiet / (2 * half) : 0;
  m.level = swing;
  m.offset = sums / (2 * n * half);
  m.snr_db = sigma2 > 0 ? std::min(99.0, 10 * std::log10(swing * swing / sigma2)) : 99.0;
  m.symbol_samples = 2 * half;
}

}  // namespace tavrel
