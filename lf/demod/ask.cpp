// Timing follows Gardner's detector on the half-symbol sums: at the right phase a window
// across a transition sums to the mean of the two half-symbols on either side; off it, the
// excess grows with the lag, signed by the step. Several half-symbols are decided between
// corrections, so that no decision waits for another and their work overlaps.
//
// A coupling fast enough to make each half-symbol decay towards the middle (a capacitor
// in the front end: down to spikes at the edges) is undone in those sums: each loop fits
// its time constant from the steps where the code held the level, and adds back what the
// capacitor took, from the integral of the running sum (see Coupling). Until a decay
// shows, the sums and decisions are the plain ones.

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
// The coupling (see Coupling in the header):
constexpr double fit_leak = 1.0 / 32;   ///< share of its sums forgotten per quiet step
constexpr double sure_watch = 0.1;      ///< share of the quiet steps' power a decay needs to
                                        ///< be fitted,
constexpr double sure_from = 0.25;      ///< to be undone at all,
constexpr double sure_full = 0.5;       ///< and to be undone in full
constexpr int64_t watch_every = 5;      ///< blocks, while no decay is fitted
constexpr double max_gain = 1.0;        ///< per sample: a time constant of a sample
constexpr double mean_gain = 1.0 / 16;  ///< share of a watched block's mean in the running mean
constexpr int64_t code_every = 256;     ///< half-symbols a loop decides before its line codes
                                        ///< take them, at most
static_assert((ask_ring & (ask_ring - 1)) == 0, "the ring's size is a power of two");
static_assert(ask_ring >= ask_history + code_every + 2 * loop_block,
              "the ring holds the history "
              "as of any symbol not yet handed on");

// The ring's slot of half-symbol k.
static size_t slot(int64_t k) {
  return static_cast<size_t>(k & (ask_ring - 1));
}

// The step into half-symbol k as the line codes and measures weigh it, once it is older.
static float step_of(const AskLoop& loop, int64_t k) {
  return static_cast<float>(loop.steps[slot(k)]);
}

// The running sum at a fractional position: samples taken as constant over their interval.
static double sum_at(const AskDemod& d, double t) {
  const auto i = static_cast<int32_t>(t);
  const double a = d.running[i];
  return a + (t - i) * (d.running[i + 1] - a);
}

// Twice the integral of the running sum up to a fractional position, the running sum
// being linear between samples. `areas` must reach past it.
static double area_at(const AskDemod& d, double t) {
  const auto i = static_cast<int32_t>(t);
  const double f = t - i;
  const double a = d.running[i];
  return static_cast<double>(d.areas[i]) + f * (2 * a + f * (d.running[i + 1] - a));
}

// Brings `areas` up to all the samples in the buffer.
static void extend_areas(AskDemod& d) {
  for (int32_t i = d.areas_filled; i < d.filled; ++i) {
    d.areas[i + 1] = d.areas[i] + d.running[i] + d.running[i + 1];
  }
  d.areas_filled = d.filled;
}

void ask_begin(AskDemod& d, double rate, SymbolSink sink) {
  d.rate = rate;
  d.running[0] = 0;
  d.areas[0] = 0;
  d.areas_filled = 0;
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
  loop.biphase = -1;
  loop.nrz = -1;
  return &loop;
}

// The loop's first lane of `modulation`, -1 when it has none.
static int32_t& first_lane(AskLoop& loop, Modulation modulation) {
  switch (modulation) {
    case Modulation::ask_biphase:
    case Modulation::ask_diphase:
      return loop.biphase;
    case Modulation::ask_nrz:
      return loop.nrz;
    default:
      return loop.manchester;
  }
}

int32_t ask_add(AskDemod& d, Modulation modulation, int32_t rf, double field) {
  if (modulation == Modulation::fsk) return -1;
  AskLoop* loop = loop_for(d, rf, field);
  if (!loop) return -1;
  int32_t& first = first_lane(*loop, modulation);
  if (first >= 0 || d.lane_count + 2 > ask_max_lanes) return first;
  first = d.lane_count;
  // Differential biphase symbols are the complement of biphase ones: the same lanes.
  const Modulation carried =
      modulation == Modulation::ask_diphase ? Modulation::ask_biphase : modulation;
  for (int p = 0; p < 2; ++p) {
    d.lanes[d.lane_count] = {carried, rf, field};
    d.lane_loop[d.lane_count++] = static_cast<int32_t>(loop - d.loops);
  }
  return first;
}

// Stores one decided half-symbol for the line codes.
static void take_half(AskDemod& d, AskLoop& loop, double step, double y, double end) {
  const size_t k = slot(loop.count++);
  loop.steps[k] = step;
  loop.sums[k] = static_cast<float>(y);
  loop.ends[k] = d.base + static_cast<int64_t>(end + 0.5);  // end >= 0
  loop.halves[k] = loop.half;
}

// Hands the half-symbols the loop decided since the last time to its line codes.
static void code(AskDemod& d, AskLoop& loop) {
  const int64_t from = loop.coded;
  const int64_t to = loop.count;
  if (loop.manchester >= 0) manchester_take(d, loop, from, to);
  if (loop.biphase >= 0) biphase_take(d, loop, from, to);
  if (loop.nrz >= 0) nrz_take(d, loop, from, to);
  loop.coded = to;
}

void ask_hand_on(AskDemod& d, int32_t lane, const Symbol* symbols, int32_t n, int64_t newest) {
  d.lane_newest[lane] = newest;
  d.sink.take(d.sink.context, lane, symbols, n);
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
    sums += loop.sums[slot(newest - j)];
    steps[j & 1] += std::fabs(step_of(loop, newest - j));
  }
  const double level = std::max(steps[0], steps[1]) / (n / 2);
  const LevelSpan span{d.base + std::llround(start), d.base + std::llround(end), loop.rate,
                       sums / (n * loop.half), level / (2 * loop.half)};
  d.on_levels(d.levels_context, span);
}

// One parity's quiet steps in a block, as Coupling sums them.
struct QuietSums {
  double count;    ///< quiet steps
  double held;     ///< steps signed by the level held
  double lost;     ///< integral steps signed the same way
  double cross;    ///< step x integral step
  double power;    ///< squared integral steps
  double squares;  ///< squared steps
};

// Takes a raw step into the sums when it was quiet: with an edge on either side, the
// level between them was held exactly when the two edges differ in sign. Branch-free, as
// the signs come at random. The step of the integral only while fitting.
template <bool fitting>
static void judge(QuietSums& s, double before, double after, double dy, double dq) {
  const int rose = before > 0;
  const int quiet = rose ^ static_cast<int>(after > 0);
  const auto level = static_cast<double>((2 * rose - 1) * quiet);
  s.count += quiet;
  s.held += level * dy;
  s.squares += quiet * dy * dy;
  if constexpr (fitting) {
    s.lost += level * dq;
    s.cross += quiet * dy * dq;
    s.power += quiet * dq * dq;
  }
}

// A block's sums into the decaying ones: as much forgotten as per quiet step.
static void forget_and_add(double& sum, double add, double count) {
  sum = sum * (1 - count * fit_leak) + add;
}

// How sure a decay is: its mean squared over the quiet steps' mean square. Noise alone
// brings that near fit_leak; a loop not yet in step with a signal makes a few steps look
// like decays; a clean decay brings it near 1. True when it is above `share`.
static bool sure_above(double held, double squares, double share) {
  return (held < 0) & (held * held * fit_leak > share * squares);
}

// The gain from the parity whose quiet steps it explains the better: on the other parity
// sit the steps that always carry an edge, which no decay explains. It is the decay over
// the integral it took, both signed by the level held, so that noise in the integral
// averages out instead of pulling the gain towards zero as a least-squares fit would. A
// gain below zero would make levels grow: no coupling does that.
static double coupling_gain(const Coupling& c) {
  double gain = 0;
  double best = 0;
  for (int p = 0; p < 2; ++p) {
    // Taken in only as far as the decay is sure.
    double g = 0;
    if (c.lost[p] > 0 && sure_above(c.held[p], c.steps[p], sure_from)) {
      const double sure = c.held[p] * c.held[p] * fit_leak / c.steps[p];
      g = std::min(-c.held[p] / c.lost[p], max_gain) *
          std::min((sure - sure_from) / (sure_full - sure_from), 1.0);
    }
    const double left = c.steps[p] + g * (2 * c.cross[p] + g * c.power[p]);
    if (p == 0 || left < best) {
      best = left;
      gain = g;
    }
  }
  return gain;
}

// Takes a block's quiet steps into the watch and, while fitting, into the fit; starts and
// ends the fit and sets the gain. Each step is judged once both its neighbours are in:
// the block's first three, and the last block's last when it waits. `steps` are the
// block's with the two before them; `dy` and `dq` its raw steps.
template <bool fitting>
static void take_quiet(Coupling& c, int64_t first, const double* steps, const double* dy,
                       const double* dq) {
  static_assert(loop_block == 4, "two steps of each parity a block");
  QuietSums sums[2] = {};  // of the parity of the block's first step, of the other
  if (c.pending) judge<fitting>(sums[1], steps[0], steps[2], c.pending_dy, c.pending_dq);
  judge<fitting>(sums[0], steps[1], steps[3], dy[0], dq[0]);
  judge<fitting>(sums[1], steps[2], steps[4], dy[1], dq[1]);
  judge<fitting>(sums[0], steps[3], steps[5], dy[2], dq[2]);
  // Only a block that follows its watched predecessor has the step it left.
  c.pending = fitting;
  c.pending_dy = dy[3];
  c.pending_dq = dq[3];
  bool decay = false;
  for (int j = 0; j < 2; ++j) {
    const int p = static_cast<int>((first + j) & 1);
    const QuietSums& q = sums[j];
    forget_and_add(c.seen[p], q.held, q.count);
    forget_and_add(c.seen_squares[p], q.squares, q.count);
    decay |= sure_above(c.seen[p], c.seen_squares[p], sure_watch);
    if constexpr (fitting) {
      forget_and_add(c.held[p], q.held, q.count);
      forget_and_add(c.lost[p], q.lost, q.count);
      forget_and_add(c.cross[p], q.cross, q.count);
      forget_and_add(c.power[p], q.power, q.count);
      forget_and_add(c.steps[p], q.squares, q.count);
    }
  }
  if (decay != fitting) {
    // A fit starts afresh, from the next block's integrals, and ends with nothing undone.
    c.fitting = decay;
    c.pending = false;
    for (int p = 0; p < 2; ++p) c.held[p] = c.lost[p] = c.cross[p] = c.power[p] = c.steps[p] = 0;
    c.gain = 0;
  } else if (fitting) {
    c.gain = coupling_gain(c);
  }
}

// Decides the next loop_block half-symbols at the current phase and period, then corrects
// both from their mean timing error.
//
// Every window sum of the level has the coupling undone: the sum of y plus the gain times
// the window's integral of P (see Coupling). An offset makes P a ramp, which a step sees
// as the offset times a half-symbol squared: the mean half-symbol sum takes it out again.
// With a gain of 0 every decision is exactly that on the plain sums.
template <bool fitting>
static void step_loop(AskDemod& d, AskLoop& loop) {
  const double half = loop.half;
  Coupling& c = loop.coupling;
  if (loop.count == 0) {
    loop.end_at = loop.next - half;
    loop.middle_at = loop.end_at - half / 2;
    loop.at_end = sum_at(d, loop.end_at);
    loop.at_middle = sum_at(d, loop.middle_at);
    loop.last_y = loop.at_end - sum_at(d, loop.end_at - half);
  }
  const double gain = c.gain;  // above 0 only while fitting
  if constexpr (fitting) extend_areas(d);

  // The first windows of a block span the correction made after the last one; every sum
  // is scaled to the length `half`, so that a constant level steps by nothing.
  double length_end = loop.next - loop.end_at;
  double length_middle = loop.next - half / 2 - loop.middle_at;
  double scale_end = half / length_end;
  double scale_middle = half / length_middle;
  // Integrals of the running sum over a half-symbol are taken less its value at the
  // half-symbol's end times the half-symbol, which keeps them free of the running sum's
  // origin.
  double last_area = 0;
  double last_q = 0;
  double last_middle_area = 0;
  if constexpr (fitting) {
    last_area = area_at(d, loop.end_at);
    last_q = (last_area - area_at(d, loop.end_at - half)) / 2 - half * loop.at_end;
    if (gain > 0) last_middle_area = area_at(d, loop.middle_at);
  }
  const double ramp = half * c.mean_y;
  double steps[loop_block + 2];
  double dys[loop_block];
  double dqs[loop_block] = {};
  // Until a decay is seen, one block in watch_every is enough to see one come.
  const int64_t first = loop.count;
  const bool watched = fitting || first % (watch_every * loop_block) == 0;
  double error = 0;
  double power = 0;
  double sum_y = 0;
  for (int j = 0; j < loop_block; ++j) {
    // The running sums at the half-symbol's end and half a half-symbol before it.
    const double end = loop.next + j * half;
    const double at_end = sum_at(d, end);
    const double at_middle = sum_at(d, end - half / 2);
    double end_area = 0;
    double middle_area = 0;
    if constexpr (fitting) {
      end_area = area_at(d, end);
      if (gain > 0) middle_area = area_at(d, end - half / 2);
    }
    const double y = (at_end - loop.at_end) * scale_end;
    const double across =
        (at_middle - loop.at_middle) * scale_middle;  // centred on the boundary into y
    const double dy = y - loop.last_y;
    double step = dy;
    // Gardner: at the right phase the window across a transition sums to the mean of the
    // two half-symbols; off it, the excess grows with the lag, signed by the step.
    double excess = across - y + 0.5 * dy;
    if constexpr (fitting) {
      const double q = ((end_area - last_area) / 2 - length_end * at_end) * scale_end;
      dqs[j] = q - last_q + half * y - ramp;
      if (gain > 0) {
        step += gain * dqs[j];
        const double across_q =
            ((middle_area - last_middle_area) / 2 - length_middle * at_end) * scale_middle;
        excess += gain * (across_q - (q + last_q) / 2 + half * y / 2);
      }
      last_area = end_area;
      last_middle_area = middle_area;
      last_q = q;
    }
    loop.at_end = at_end;
    loop.at_middle = at_middle;
    loop.last_y = y;
    length_end = half;
    length_middle = half;
    scale_end = 1;
    scale_middle = 1;
    error += excess * step;
    power += step * step;
    // Kept whether or not the block is watched: a branch here would be a guess.
    sum_y += y;
    steps[j + 2] = step;
    dys[j] = dy;
    take_half(d, loop, step, y, loop.next + j * half);
  }
  if (watched) {
    steps[0] = step_of(loop, first - 2);
    steps[1] = step_of(loop, first - 1);
    take_quiet<fitting>(c, first, steps, dys, dqs);
    c.mean_y += (sum_y / loop_block - c.mean_y) * mean_gain;
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
  for (int c = 0; c < d.loop_count;
       ++c) {  // The coupling's fit takes the integral over the half-symbol before a block's first.
    earliest = std::min(earliest, d.loops[c].next - 3 * d.loops[c].half);
  }
  const int32_t keep = std::clamp(static_cast<int32_t>(earliest) - 1, 0, d.filled);
  if (keep == 0) return;
  const int32_t origin = d.running[keep];
  for (int32_t j = 0; j <= d.filled - keep; ++j) d.running[j] = d.running[j + keep] - origin;
  // The areas follow the running sum's new origin; their own may be any.
  if (d.areas_filled > keep) {
    const int64_t area_origin = d.areas[keep];
    for (int32_t j = 0; j <= d.areas_filled - keep; ++j) {
      d.areas[j] = d.areas[j + keep] - area_origin - int64_t{2} * origin * j;
    }
    d.areas_filled -= keep;
  } else {
    d.areas[0] = 0;
    d.areas_filled = 0;
  }
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
    // A block of each loop in turn: each loop's corrections wait on its own sums only, so
    // the processor works on several loops at once.
    for (bool stepped = true; stepped;) {
      stepped = false;
      for (int c = 0; c < d.loop_count; ++c) {
        AskLoop& loop = d.loops[c];
        if (!(loop.next + (loop_block - 1) * loop.half < d.filled - 1)) continue;
        if (loop.coupling.fitting) {
          step_loop<true>(d, loop);
        } else {
          step_loop<false>(d, loop);
        }
        if (loop.count - loop.coded >= code_every) code(d, loop);
        stepped = true;
      }
    }
    for (int c = 0; c < d.loop_count; ++c) code(d, d.loops[c]);
    compact(d);
  }
}

void ask_measure(const AskDemod& d, int32_t lane, int32_t symbols, int32_t later,
                 SignalMeasure& m) {
  const AskLoop& loop = d.loops[d.lane_loop[lane]];
  // Every line code hands on a lane's symbols two half-symbols apart.
  const int64_t newest = d.lane_newest[lane] - 2 * int64_t{later};
  const double half = loop.halves[slot(newest)];
  // Every line code's steps between half-symbols are changes of the full swing or none at
  // all: the changes give the swing, what is left around both gives the noise.
  const auto n =
      static_cast<int32_t>(std::min<int64_t>({2 * int64_t{symbols}, newest, ask_history - 1}));
  if (n < 2) {
    m = SignalMeasure{0, 0, 0, 2 * half};
    return;
  }
  const auto step = [&loop, newest](int32_t j) { return step_of(loop, newest - j); };
  double sums = 0;
  double sizes[2] = {};
  for (int32_t j = 0; j < n; ++j) {
    sums += loop.sums[slot(newest - j)];
    sizes[j & 1] += std::fabs(step(j));
  }
  const double threshold = std::max(sizes[0], sizes[1]) / (n / 2) / 2;
  double change = 0;
  int32_t changes = 0;
  for (int32_t j = 0; j < n; ++j) {
    const double size = std::fabs(step(j));
    if (size > threshold) {
      change += size;
      ++changes;
    }
  }
  change = changes > 0 ? change / changes : 0;
  double noise = 0;
  for (int32_t j = 0; j < n; ++j) {
    const double size = std::fabs(step(j));
    const double off = size > threshold ? size - change : size;
    noise += off * off;
  }
  const double swing = change / (2 * half);  // a change steps by twice the peak
  const double sigma2 = noise / n / (2 * half);
  m.level = swing;
  m.offset = sums / (n * half);
  m.snr_db = sigma2 > 0 ? std::min(99.0, 10 * std::log10(swing * swing / sigma2)) : 99.0;
  m.symbol_samples = 2 * half;
}

}  // namespace tavrel
