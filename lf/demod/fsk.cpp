// The FSK demodulator. Per sample there is one pass, shared by both lanes: the sample
// minus the one before it (which removes any offset, drift and coupling droop, and scales
// each tone by a known gain) is multiplied by the cosine and sine of both tones and
// summed. Everything else works on sums over windows, per symbol:
//
//   A(tone, window) = |sum over the window of u(n) e^(-j w n)| x 2 / (N |H(w)|)
//
// is the tone's amplitude in 8-bit steps (H: the difference's gain at the tone, N: the
// window's length), and the symbol is a 1 when the low tone is the stronger over the
// symbol's whole length; their difference is the decision's margin.
//
// Timing. A tag's clock is the reader's field, so its symbols are as much too short as its
// tones are too high: the symbol period follows from the tones' frequency, measured as
// the turn of each tone's phase from a symbol's first half to its second (averaged over
// symbols, weighted by power). The phase follows Gardner's detector at tone changes: the
// window that straddles the boundary between two different symbols holds both tones
// equally when the boundary is where it is assumed, and the excess of one tells how far
// off it is.

#include "lf/demod/fsk.hpp"

#include "lf/demod/fsk_sums.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <numbers>
#include <numeric>

namespace tavrel {

constexpr double low_tone_hz = 12500;     ///< fc/10: a 1
constexpr double high_tone_hz = 15625;    ///< fc/8: a 0
constexpr double reference_scale = 8192;  ///< references are this times cos and sin
constexpr int32_t piece_samples = 1024;   ///< summed before the lanes decide
constexpr double phase_gain = 0.3;        ///< share of the timing error corrected at once
constexpr double drift_share = 1.0 / 16;  ///< weight of the newest symbol in the tone turn
constexpr int64_t period_every = 4;       ///< symbols between updates of the period
constexpr double drift_range = 0.06;      ///< largest departure of the field from 125 kHz
constexpr double steady_from = 0.35;      ///< steadiness of the turns up to which it is noise
constexpr double steady_to = 0.7;         ///< and from which it is a tone
constexpr double power_share = 1.0 / 32;  ///< weight of the newest symbol in the powers
constexpr double middle_seconds = 0.05;   ///< the running mean's memory

static_assert((fsk_ring & (fsk_ring - 1)) == 0, "the ring is a power of two");
static_assert(piece_samples * 255 * 255 < (int64_t{1} << 31), "a piece's squares fit 32 bits");

// The sample period that holds whole cycles of both tones at `rate`, or 0 when there is
// none within the table.
static int32_t common_period(double rate) {
  if (rate != std::floor(rate)) return 0;
  const auto r = static_cast<int64_t>(rate);
  const int64_t low = r / std::gcd(r, static_cast<int64_t>(low_tone_hz));
  const int64_t high = r / std::gcd(r, static_cast<int64_t>(high_tone_hz));
  const int64_t both = std::lcm(low, high);
  return both <= fsk_table ? static_cast<int32_t>(both) : 0;
}

// The difference's gain at `hz`.
static double difference_gain(double hz, double rate) {
  return 2 * std::sin(std::numbers::pi * hz / rate);
}

// A position between two samples: the sums before the sample it falls in, and the share of
// that sample's terms up to the position.
struct SumPoint {
  uint32_t base[4];
  float part[4];
};

// The four correlations over a window, in the order of FskSums.
struct Window {
  float v[4];
};

static float low_magnitude(const Window& w) {
  return std::sqrt(w.v[0] * w.v[0] + w.v[1] * w.v[1]);
}

static float high_magnitude(const Window& w) {
  return std::sqrt(w.v[2] * w.v[2] + w.v[3] * w.v[3]);
}

// At `t` >= 0.
static SumPoint sum_point(const FskDemod& d, double t) {
  const auto i = static_cast<int64_t>(t);
  const auto f = static_cast<float>(t - static_cast<double>(i));
  const uint32_t* a = d.sums[i & (fsk_ring - 1)].v;
  const uint32_t* b = d.sums[(i + 1) & (fsk_ring - 1)].v;
  SumPoint p;
  for (int k = 0; k < 4; ++k) {
    p.base[k] = a[k];
    p.part[k] = f * static_cast<float>(static_cast<int32_t>(b[k] - a[k]));
  }
  return p;
}

// The window's sums are exact integers up to its ends' shares of a sample.
static Window window(const SumPoint& from, const SumPoint& to) {
  Window w;
  for (int k = 0; k < 4; ++k) {
    w.v[k] = static_cast<float>(static_cast<int32_t>(to.base[k] - from.base[k])) +
             (to.part[k] - from.part[k]);
  }
  return w;
}

// The share of one tone's amplitude that the other's reference picks up over a window of
// `n` samples, as a root mean square over starting phases and both tones.
static double tone_leak(const FskDemod& d, double n) {
  const double wl = 2 * std::numbers::pi * d.low_hz / d.rate;
  const double wh = 2 * std::numbers::pi * d.high_hz / d.rate;
  const auto length = static_cast<int32_t>(std::lround(n));
  double total = 0;
  int count = 0;
  for (int k = 0; k < 8; ++k) {
    const double phase = k * std::numbers::pi / 4;
    for (const bool low : {true, false}) {
      const double w = low ? wl : wh;
      std::complex<double> own = 0, other = 0;
      for (int32_t i = 0; i < length; ++i) {
        const double u = std::cos(w * i + phase) - std::cos(w * (i - 1) + phase);
        own += u * std::polar(1.0, -(low ? wl : wh) * i);
        other += u * std::polar(1.0, -(low ? wh : wl) * i);
      }
      const double own_gain = difference_gain(low ? d.low_hz : d.high_hz, d.rate);
      const double other_gain = difference_gain(low ? d.high_hz : d.low_hz, d.rate);
      const double share = (std::abs(other) / other_gain) / (std::abs(own) / own_gain);
      total += share * share;
      ++count;
    }
  }
  return std::sqrt(total / count);
}

// The period for a field `error` (a share) off 125 kHz.
static void set_period(const FskDemod& d, FskLane& lane, double error) {
  lane.period = lane.nominal / (1 + error);
  lane.scale[0] = static_cast<float>(d.low_scale * (1 + error) / lane.nominal);
  lane.scale[1] = static_cast<float>(d.high_scale * (1 + error) / lane.nominal);
}

bool fsk_begin(FskDemod& d, double rate, SymbolSink sink) {
  d.rate = rate;
  d.sink = sink;
  d.lane_count = 0;
  d.taken = 0;
  d.previous = 128;
  d.middle = 0;
  d.power = 0;
  d.energy = 0;
  d.table_at = 0;
  if (!(rate >= fsk_lowest_rate && rate <= fsk_highest_rate)) return false;

  // With no period common to both tones within the table, each tone is moved to the
  // nearest whole number of cycles in the table's length: a few hertz at most.
  const int32_t common = common_period(rate);
  d.table_size = common > 0 ? common : fsk_table;
  const double size = d.table_size;
  const double low_cycles = std::round(low_tone_hz * size / rate);
  const double high_cycles = std::round(high_tone_hz * size / rate);
  d.low_hz = low_cycles * rate / size;
  d.high_hz = high_cycles * rate / size;
  for (int32_t i = 0; i < d.table_size; ++i) {
    const double low = 2 * std::numbers::pi * low_cycles * i / size;
    const double high = 2 * std::numbers::pi * high_cycles * i / size;
    const auto scaled = [](double v) {
      return static_cast<int16_t>(std::lround(v * reference_scale));
    };
    // e^(-j w n): the sine with a minus, so that a correlation's angle is the tone's phase.
    d.table[i] = {{scaled(std::cos(low)), scaled(-std::sin(low)), scaled(std::cos(high)),
                   scaled(-std::sin(high))}};
  }
  d.low_scale = 2 / (reference_scale * difference_gain(d.low_hz, rate));
  d.high_scale = 2 / (reference_scale * difference_gain(d.high_hz, rate));
  d.sums[0] = FskSums{};

  for (const int32_t divider : fsk_rates) {
    FskLane& lane = d.lanes[d.lane_count++];
    std::memset(&lane, 0, sizeof lane);
    lane.rate = divider;
    lane.nominal = rate * divider / field_hz;
    set_period(d, lane, 0);
    // A turn over half a symbol of a tone `df` off its reference: 2 pi df (T/2) / rate.
    const double tones[2][2] = {{d.low_hz, low_tone_hz}, {d.high_hz, high_tone_hz}};
    for (int tone = 0; tone < 2; ++tone) {
      lane.error_at[tone] = tones[tone][0] / tones[tone][1] - 1;
      lane.error_per_radian[tone] = rate / (std::numbers::pi * lane.nominal * tones[tone][1]);
    }
    // Far enough in that no window reaches before the stream, whatever the period.
    lane.next = 2 * lane.nominal;
    lane.leak = tone_leak(d, lane.nominal);
  }
  return true;
}

LaneInfo fsk_lane(const FskDemod& d, int32_t lane) {
  return {Modulation::fsk, d.lanes[lane].rate, field_hz};
}

int64_t fsk_sum_plain(FskDemod& d, const uint8_t* samples, int32_t n) {
  FskSums acc = d.sums[d.taken & (fsk_ring - 1)];
  int32_t previous = d.previous;
  int32_t at = d.table_at;
  int64_t total = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t x = samples[i];
    const int32_t u = x - previous;
    previous = x;
    total += x;
    const FskReference& r = d.table[at];
    if (++at == d.table_size) at = 0;
    for (int k = 0; k < 4; ++k) acc.v[k] += static_cast<uint32_t>(u * r.v[k]);
    d.sums[(d.taken + 1 + i) & (fsk_ring - 1)] = acc;
  }
  d.previous = previous;
  d.table_at = at;
  return total;
}

// Sums `n` samples into the ring and follows the middle level.
static void accumulate(FskDemod& d, const uint8_t* samples, int32_t n) {
  const int64_t total = fsk_sum(d, samples, n);
  int32_t squares = 0;
  for (int32_t i = 0; i < n; ++i) squares += samples[i] * samples[i];
  const double mean = static_cast<double>(total) / n;
  const double power = static_cast<double>(squares) / n - mean * mean;
  const double share = d.taken == 0 ? 1.0 : std::min(1.0, n / (middle_seconds * d.rate));
  d.middle += share * (mean - 128 - d.middle);
  d.power += share * (power - d.power);
  d.taken += n;
}

// atan2(y, x) to within 3e-4 rad, at a fraction of its cost: a polynomial on the octant.
static double angle(double y, double x) {
  const double ax = std::fabs(x);
  const double ay = std::fabs(y);
  const double big = std::max(ax, ay);
  if (big <= 0) return 0;
  const double a = std::min(ax, ay) / big;
  const double s = a * a;
  double r = ((-0.0464964749 * s + 0.15931422) * s - 0.327622764) * s * a + a;
  if (ay > ax) r = std::numbers::pi / 2 - r;
  if (x < 0) r = std::numbers::pi - r;
  return y < 0 ? -r : r;
}

// The field's error, a share, from the running turns of both tones.
static double field_error(const FskLane& lane) {
  double sum = 0;
  double weights = 0;
  double strongest = 0;
  for (int tone = 0; tone < 2; ++tone) {
    const double re = lane.turns[tone][0];
    const double im = lane.turns[tone][1];
    const double weight = std::sqrt(re * re + im * im);
    // The turn is over half the recovered period, which is nominal / (1 + error).
    const double per_radian = lane.error_per_radian[tone] * lane.nominal / lane.period;
    sum += weight * (lane.error_at[tone] + angle(im, re) * per_radian);
    weights += weight;
    strongest = std::max(strongest, weight);
  }
  if (weights <= 0 || lane.win_power <= 0) return 0;
  // A tone turns the same way symbol after symbol, so its running mean keeps the size of one
  // turn, a quarter of the winning tone's power; noise turns every way and its mean
  // shrinks. Without a tone the period stays nominal, ready for a tag.
  const double steadiness = strongest / (lane.win_power / 4);
  const double trust = std::clamp((steadiness - steady_from) / (steady_to - steady_from), 0.0, 1.0);
  return std::clamp(trust * sum / weights, -drift_range, drift_range);
}

// Moves the running mean `turn` (real, imaginary) towards the product of `second` and the
// conjugate of `first` (cosine, sine as references give them) times `weight`.
static void update_turn(double* turn, const float* first, const float* second, float weight) {
  const float re = second[0] * first[0] + second[1] * first[1];
  const float im = second[1] * first[0] - second[0] * first[1];
  turn[0] += drift_share * (re * weight - turn[0]);
  turn[1] += drift_share * (im * weight - turn[1]);
}

// Hands the lane's batch to the sink.
static void hand_on(FskDemod& d, int32_t index) {
  FskLane& lane = d.lanes[index];
  if (lane.handed || lane.batched == 0) return;
  lane.handed = true;
  d.sink.take(d.sink.context, index, lane.batch, lane.batched);
}

// Decides the symbol that ends at lane.next.
static void decide(FskDemod& d, int32_t index) {
  FskLane& lane = d.lanes[index];
  const double t = lane.period;
  const SumPoint p1 = sum_point(d, lane.next - t);
  const SumPoint p2 = sum_point(d, lane.next - 0.5 * t);
  const SumPoint p3 = sum_point(d, lane.next);
  const Window first = window(p1, p2);
  const Window second = window(p2, p3);
  Window whole;
  for (int k = 0; k < 4; ++k) whole.v[k] = first.v[k] + second.v[k];
  const float low = low_magnitude(whole) * lane.scale[0];
  const float high = high_magnitude(whole) * lane.scale[1];
  const float y = low - high;
  const bool one = y > 0;
  // No line code around FSK symbols: Manchester on FSK is its families' to pair and check.
  if (lane.handed) {
    lane.batched = 0;
    lane.handed = false;
  }
  lane.batch[lane.batched] = {static_cast<uint8_t>(one), 0, std::fabs(y),
                              std::numeric_limits<float>::infinity(),
                              static_cast<int64_t>(lane.next + 0.5)};
  lane.seen[lane.batched] = {lane.win_power, lane.lose_power, lane.period};
  if (++lane.batched == fsk_batch) hand_on(d, index);

  const float win = std::max(low, high);
  const float lose = std::min(low, high);
  lane.win_power += power_share * (win * win - lane.win_power);
  lane.lose_power += power_share * (lose * lose - lane.lose_power);

  double delta = 0;
  if (lane.count > 0 && one == (lane.last > 0)) {
    // The turns, as complex running means so that noise averages away: of the tone that
    // won this symbol and the one before, so that neither the other tone's leak into its
    // reference nor a change of tone within the window turns it.
    const int tone = one ? 0 : 1;
    const float scale = lane.scale[tone];
    update_turn(lane.turns[tone], first.v + 2 * tone, second.v + 2 * tone, scale * scale);
  } else if (lane.count > 0) {
    // A change of tone: the window that straddles it, from the middle of the last symbol.
    // With shares 1/2 + e of the new tone and 1/2 - e of the old, the difference of their
    // squared amplitudes there is 2 e a^2, and y^2 + last^2 is 2 a^2: e without a root.
    const Window s = window(sum_point(d, lane.next - 1.5 * t), p2);
    const float low2 = (s.v[0] * s.v[0] + s.v[1] * s.v[1]) * (lane.scale[0] * lane.scale[0]);
    const float high2 = (s.v[2] * s.v[2] + s.v[3] * s.v[3]) * (lane.scale[1] * lane.scale[1]);
    const double size = static_cast<double>(y) * y + lane.last * lane.last;
    if (size > 0) delta = std::clamp((one ? low2 - high2 : high2 - low2) / size, -0.5, 0.5);
  }
  lane.last = y;
  ++lane.count;
  lane.next += t * (1 - phase_gain * delta);
  if ((lane.count & (period_every - 1)) == 0) set_period(d, lane, field_error(lane));
}

void fsk_take(FskDemod& d, const uint8_t* samples, int32_t n) {
  if (d.lane_count == 0 || n <= 0) return;
  if (d.taken == 0) d.previous = samples[0];
  while (n > 0) {
    const int32_t piece = std::min(n, piece_samples);
    accumulate(d, samples, piece);
    // The stream's energies, once a piece: for what the tones held of the whole input.
    d.energy += d.power * piece;
    // A symbol of each lane in turn: each lane's timing waits on its own decisions only,
    // so the processor works on both at once.
    for (bool decided = true; decided;) {
      decided = false;
      for (int32_t i = 0; i < d.lane_count; ++i) {
        if (static_cast<int64_t>(d.lanes[i].next) >= d.taken) continue;
        decide(d, i);
        decided = true;
      }
    }
    for (int32_t i = 0; i < d.lane_count; ++i) {
      FskLane& lane = d.lanes[i];
      hand_on(d, i);
      const double tone = lane.win_power / 2 * piece;  // a tone of amplitude a has power a^2 / 2
      lane.tone_energy += tone;
      lane.field_energy += d.rate * lane.rate / lane.period * tone;
    }
    samples += piece;
    n -= piece;
  }
}

SignalMeasure fsk_measure(const FskDemod& d, int32_t index, int32_t later) {
  const FskLane& lane = d.lanes[index];
  const FskSeen now{lane.win_power, lane.lose_power, lane.period};
  const FskSeen& s = lane.handed ? lane.seen[lane.batched - 1 - later] : now;
  const double leak2 = lane.leak * lane.leak;
  const double signal = std::max(0.0, (s.win_power - s.lose_power) / (1 - leak2));
  // The weaker tone holds the other's leak and the noise near it, 4 sigma^2 / N.
  const double noise = std::max(s.lose_power - leak2 * signal, 1e-9);
  const double snr = 2 * signal / (noise * s.period);
  return {std::sqrt(signal), d.middle, 10 * std::log10(std::max(snr, 1e-9)), s.period};
}

double fsk_tone_share(const FskDemod& d, int32_t index) {
  // A tone of amplitude a has the power a^2 / 2.
  return d.power > 0 ? std::min(1.0, d.lanes[index].win_power / 2 / d.power) : 0;
}

}  // namespace tavrel
