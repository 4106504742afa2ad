// Timing follows Gardner's detector on the half-symbol sums: at the right phase a window
// across a transition sums to the mean of the two half-symbols on either side; off it, the
// excess grows with the lag, signed by the step. Several half-symbols are decided between
// corrections, so that no decision waits for another and their work overlaps.

#include "lf/demod/ask.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lf/demod/ask_biphase.hpp"
#include "lf/demod/ask_manchester.hpp"
#include "lf/demod/ask_nrz.hpp"

namespace tavrel {

constexpr double shortest_half = 1.5;      ///< samples; a faster rate is not tried
constexpr int loop_block = 4;              ///< half-symbols decided between clock corrections
constexpr double phase_gain = 0.9;         ///< share of the timing error corrected at once
constexpr double period_gain = 0.05;       ///< share of it that goes into the period
constexpr double period_range = 0.06;      ///< largest departure of the period from nominal
constexpr double period_leak = 1.0 / 512;  ///< pull towards nominal per block
constexpr double power_gain = 1.0 / 4;     ///< share of a block's step power in the running mean

static_assert((ask_history & (ask_history - 1)) == 0, "history is a power of two");

// The running sum at a fractional position: samples taken as constant over their interval.
static double sum_at(const AskDemod& d, double t) {
  const auto i = static_cast<int32_t>(t);
  const double a = d.running[i];
  return a + (t - i) * (d.running[i + 1] - a);
}

void ask_begin(AskDemod& d, double rate, SymbolSink sink) {
  d.rate = rate;
  d.running[0] = 0;
  d.filled = 0;
  d.base = 0;
  d.loop_count = 0;
  d.lane_count = 0;
  d.sink = sink;
  d.on_levels = nullptr;
  d.levels_context = nullptr;
}

// The loop of RF/`rf` of a `field` Hz field, made when first asked for; null when its
// half-symbol is too short.
static AskLoop* loop_for(AskDemod& d, int32_t rf, double field) {
  for (int32_t c = 0; c < d.loop_count; ++c)
    if (d.loops[c].rate == rf && d.loops[c].field == field) return &d.loops[c];
  const double nominal = d.rate * rf / (2 * field);
  if (nominal < shortest_half || d.loop_count == ask_max_loops) return nullptr;
  AskLoop& loop = d.loops[d.loop_count++];
  std::memset(&loop, 0, sizeof loop);
  loop.rate = rf;
  loop.field = field;
  loop.nominal = nominal;
  loop.half = nominal;
  loop.next = 2 * nominal;
  loop.manchester = -1;
  loop.biphase[0] = loop.biphase[1] = -1;
  loop.nrz = -1;
  return &loop;
}

// The loop's first lane of `modulation`, -1 when it has none.
static int32_t& first_lane(AskLoop& loop, Modulation modulation) {
  switch (modulation) {
    case Modulation::ask_biphase:
      return loop.biphase[0];
    case Modulation::ask_diphase:
      return loop.biphase[1];
    case Modulation::ask_nrz:
      return loop.nrz;
    default:
      return loop.manchester;
  }
}

int32_t ask_add(AskDemod& d, Modulation modulation, int32_t rf, double field) {
  if (modulation == Modulation::fsk || d.lane_count + 2 > ask_max_lanes) return -1;
  AskLoop* loop = loop_for(d, rf, field);
  if (!loop) return -1;
  int32_t& first = first_lane(*loop, modulation);
  if (first >= 0) return first;
  first = d.lane_count;
  for (int p = 0; p < 2; ++p) {
    d.lanes[d.lane_count] = {modulation, rf, field};
    d.lane_loop[d.lane_count++] = static_cast<int32_t>(loop - d.loops);
  }
  return first;
}

// Stores one decided half-symbol and hands it to the loop's line codes.
static void take_half(AskDemod& d, AskLoop& loop, double step, double y, double end) {
  const int64_t k = loop.count++;
  loop.steps[k & (ask_history - 1)] = static_cast<float>(step);
  loop.sums[k & (ask_history - 1)] = static_cast<float>(y);
  const int64_t at = d.base + static_cast<int64_t>(end + 0.5);  // end >= 0
  if (loop.manchester >= 0) manchester_take(d, loop, k, step, at);
  if (loop.biphase[0] >= 0 || loop.biphase[1] >= 0) biphase_take(d, loop, k, step, at);
  if (loop.nrz >= 0) nrz_take(d, loop, k, y, at);
}

// The middle and swing over the history `loop` holds: a mid-symbol step is twice the peak,
// and of the two interleavings of steps the one of mid-symbol steps has the larger mean.
static void report_levels(const AskDemod& d, const AskLoop& loop, double start, double end) {
  const auto n = static_cast<int32_t>(std::min<int64_t>(loop.count, ask_history));
  if (n < 2) return;
  const int64_t newest = loop.count - 1;
  double sums = 0;
  double steps[2] = {};
  for (int32_t j = 0; j < n; ++j) {
    const auto k = static_cast<size_t>((newest - j) & (ask_history - 1));
    sums += loop.sums[k];
    steps[j & 1] += std::fabs(loop.steps[k]);
  }
  const double level = std::max(steps[0], steps[1]) / (n / 2);
  const LevelSpan span{d.base + std::llround(start), d.base + std::llround(end), loop.rate,
                       sums / (n * loop.half), level / (2 * loop.half)};
  d.on_levels(d.levels_context, span);
}

// Decides the next loop_block half-symbols at the current phase and period, then corrects
// both from their mean timing error.
static void step_loop(AskDemod& d, AskLoop& loop) {
  const double half = loop.half;
  if (loop.count == 0) {
    loop.end_at = loop.next - half;
    loop.middle_at = loop.end_at - half / 2;
    loop.at_end = sum_at(d, loop.end_at);
    loop.at_middle = sum_at(d, loop.middle_at);
    loop.last_y = loop.at_end - sum_at(d, loop.end_at - half);
  }
  double at_end[loop_block];
  double at_middle[loop_block];
  for (int j = 0; j < loop_block; ++j) {
    const double end = loop.next + j * half;
    at_end[j] = sum_at(d, end);
    at_middle[j] = sum_at(d, end - half / 2);
  }

  // The first windows of a block span the correction made after the last one; every sum
  // is scaled to the length `half`, so that a constant level steps by nothing.
  double scale_end = half / (loop.next - loop.end_at);
  double scale_middle = half / (loop.next - half / 2 - loop.middle_at);
  double error = 0;
  double power = 0;
  for (int j = 0; j < loop_block; ++j) {
    const double y = (at_end[j] - loop.at_end) * scale_end;
    const double across =
        (at_middle[j] - loop.at_middle) * scale_middle;  // centred on the boundary into y
    const double step = y - loop.last_y;
    loop.at_end = at_end[j];
    loop.at_middle = at_middle[j];
    loop.last_y = y;
    scale_end = 1;
    scale_middle = 1;
    error += (across - y + 0.5 * step) * step;
    power += step * step;
    take_half(d, loop, step, y, loop.next + j * half);
  }
  if (d.on_levels) report_levels(d, loop, loop.next - half, loop.next + (loop_block - 1) * half);

  // The error scales with the steps' power: the running mean, or this block's own when a
  // signal has just begun.
  power /= loop_block;
  loop.power += (power - loop.power) * power_gain;
  const double floor = half * half;  // below a swing of half a step: no signal
  const double late = std::clamp(error * half / (loop_block * std::max({loop.power, power, floor})),
                                 -half / 2, half / 2);
  loop.end_at = loop.next + (loop_block - 1) * half;
  loop.middle_at = loop.end_at - half / 2;
  loop.next = loop.end_at + half - phase_gain * late;
  loop.half -= period_gain * late;
  loop.half += (loop.nominal - loop.half) * period_leak;
  loop.half =
      std::clamp(loop.half, loop.nominal * (1 - period_range), loop.nominal * (1 + period_range));
}

// Drops the samples no loop needs any more, so that the buffer never fills.
static void compact(AskDemod& d) {
  double earliest = d.filled;
  for (int c = 0; c < d.loop_count; ++c) {
    earliest = std::min(earliest, d.loops[c].next - 2 * d.loops[c].half);
  }
  const int32_t keep = std::clamp(static_cast<int32_t>(earliest) - 1, 0, d.filled);
  if (keep == 0) return;
  const int32_t origin = d.running[keep];
  for (int32_t j = 0; j <= d.filled - keep; ++j) d.running[j] = d.running[j + keep] - origin;
  for (int c = 0; c < d.loop_count; ++c) {
    AskLoop& loop = d.loops[c];
    loop.next -= keep;
    loop.end_at -= keep;
    loop.middle_at -= keep;
    loop.at_end -= origin;
    loop.at_middle -= origin;
  }
  d.filled -= keep;
  d.base += keep;
}

void ask_take(AskDemod& d, const uint8_t* samples, int32_t n) {
  while (n > 0) {
    const int32_t take = std::min(n, ask_buffer - d.filled);
    int32_t* running = d.running + d.filled;
    for (int32_t i = 0; i < take; ++i) running[i + 1] = running[i] + (samples[i] - 128);
    d.filled += take;
    samples += take;
    n -= take;
    for (int c = 0; c < d.loop_count; ++c) {
      AskLoop& loop = d.loops[c];
      while (loop.next + (loop_block - 1) * loop.half < d.filled - 1) step_loop(d, loop);
    }
    compact(d);
  }
}

void ask_measure(const AskDemod& d, int32_t lane, int32_t symbols, SignalMeasure& m) {
  const AskLoop& loop = d.loops[d.lane_loop[lane]];
  // Every line code's steps between half-symbols are changes of the full swing or none at
  // all: the changes give the swing, what is left around both gives the noise.
  const auto n = static_cast<int32_t>(
      std::min<int64_t>({2 * int64_t{symbols}, loop.count - 1, ask_history - 1}));
  if (n < 2) {
    m = SignalMeasure{0, 0, 0, 2 * loop.half};
    return;
  }
  const int64_t newest = loop.count - 1;
  const auto at = [](int64_t k) { return static_cast<size_t>(k & (ask_history - 1)); };
  double sums = 0;
  double sizes[2] = {};
  for (int32_t j = 0; j < n; ++j) {
    sums += loop.sums[at(newest - j)];
    sizes[j & 1] += std::fabs(loop.steps[at(newest - j)]);
  }
  const double threshold = std::max(sizes[0], sizes[1]) / (n / 2) / 2;
  double change = 0;
  int32_t changes = 0;
  for (int32_t j = 0; j < n; ++j) {
    const double size = std::fabs(loop.steps[at(newest - j)]);
    if (size > threshold) {
      change += size;
      ++changes;
    }
  }
  change = changes > 0 ? change / changes : 0;
  double noise = 0;
  for (int32_t j = 0; j < n; ++j) {
    const double size = std::fabs(loop.steps[at(newest - j)]);
    const double off = size > threshold ? size - change : size;
    noise += off * off;
  }
  const double half = loop.half;
  const double swing = change / (2 * half);  // a change steps by twice the peak
  const double sigma2 = noise / n / (2 * half);
  m.level = swing;
  m.offset = sums / (n * half);
  m.snr_db = sigma2 > 0 ? std::min(99.0, 10 * std::log10(swing * swing / sigma2)) : 99.0;
  m.symbol_samples = 2 * half;
}

}  // namespace tavrel
