#pragma once
// The FSK demodulator of the tolerant path. After a reader's envelope detector an FSK tag
// is one of two tones, fc/10 = 12.5 kHz (a 1) or fc/8 = 15.625 kHz (a 0), switched at
// symbol boundaries; a sound card sees them at 2.8 to 3.8 samples a period. Two lanes
// share the per-sample work: symbols of RF/50 and of RF/64. Each symbol is judged by the
// two tones' amplitudes over its whole length at a recovered symbol phase, so a noisy,
// weak, clipped, shifted or AC-coupled signal still gives clean decisions.

#include <cstdint>

#include "lf/symbols.hpp"

namespace tavrel {

constexpr double fsk_lowest_rate = 44100;     ///< samples/s; below it the tones crowd Nyquist
constexpr double fsk_highest_rate = 1000000;  ///< samples/s; the ring holds a piece and a symbol
constexpr int fsk_lane_count = 2;
constexpr int32_t fsk_rates[fsk_lane_count] = {50, 64};  ///< RF/n of lanes 0 and 1
constexpr int32_t fsk_ring = 4096;                       ///< samples of running correlations kept
constexpr int32_t fsk_table = 4096;                      ///< longest reference period, samples
constexpr int32_t fsk_batch = 64;  ///< symbols of a lane handed to the sink at once, at most

/// What a lane's measures were as a symbol was decided.
struct FskSeen {
  double win_power;   ///< FskLane's, steps^2
  double lose_power;  ///< FskLane's, steps^2
  double period;      ///< FskLane's, samples
};

/// Running sums over the differenced samples of each tone's cosine and sine reference,
/// wrapping: the sum over a window is the difference of two, exactly.
struct FskSums {
  uint32_t v[4];  ///< low tone's cosine, its sine, high tone's cosine, its sine
};

/// One sample's references, scaled by 2^13.
struct FskReference {
  int16_t v[4];  ///< in the order of FskSums
};

/// Symbol timing and what the symbols looked like, for one rate.
struct FskLane {
  int32_t rate;        ///< RF/n
  double nominal;      ///< symbol length at a 125 kHz field, samples
  double period;       ///< recovered symbol length, samples
  float scale[2];      ///< FskDemod's low_scale and high_scale over `period`
  double next;         ///< stream position where the next symbol ends, samples
  double last;         ///< the last symbol's low minus high tone amplitude, 8-bit steps
  double turns[2][2];  ///< per tone (low, high), running mean of its turn from a symbol's
                       ///< first half to its second (real, imaginary), weighted by its
                       ///< power, steps^2: together the tones' frequency error
  double error_at[2];  ///< per tone, the field's error for a turn of 0 and per radian of turn
  double error_per_radian[2];  ///< (at the nominal period)
  double win_power;            ///< running mean of the stronger tone's amplitude squared, steps^2
  double lose_power;           ///< running mean of the weaker tone's amplitude squared, steps^2
  double leak;                 ///< share of one tone's amplitude the other's reference picks up
  int64_t count;               ///< symbols decided
  Symbol batch[fsk_batch];     ///< decided and not yet handed to the sink
  FskSeen seen[fsk_batch];     ///< the measures as each of the batch's symbols was decided
  int32_t batched;             ///< symbols in the batch (kept once handed on, until the next)
  bool handed;                 ///< the batch has gone to the sink
  double tone_energy;          ///< the stronger tone's power summed over the stream, steps^2 x
                               ///< samples: with FskDemod::energy, what the tones held of it
  double field_energy;         ///< the field the symbols were recovered at, weighted by that
                               ///< power, Hz x tone_energy: the field while the tones lasted
};

struct FskDemod {
  double rate;                    ///< samples per second
  SymbolSink sink;                ///< gets every symbol of every lane
  FskReference table[fsk_table];  ///< the references over one common period
  int32_t table_size;             ///< samples in that period
  int32_t table_at;               ///< index of the next sample's references
  double low_hz;                  ///< the references' tones as the table holds them, Hz
  double high_hz;
  double low_scale;        ///< from a window's correlation to a tone's amplitude in
  double high_scale;       ///< 8-bit steps, times the window length in samples
  FskSums sums[fsk_ring];  ///< sums[i % fsk_ring]: over the samples before i
  int64_t taken;           ///< samples taken since begin
  int32_t previous;        ///< the last sample taken, for the difference
  double middle;           ///< running mean of the samples, 8-bit steps
  double power;            ///< running mean of the samples' power around their mean, steps^2
  double energy;           ///< that power summed over the stream, steps^2 x samples
  FskLane lanes[fsk_lane_count];
  int32_t lane_count;  ///< 0 when the rate was refused
};

/// Starts a stream of `rate` samples per second whose symbols go to `sink`. Returns false
/// and sets up no lanes when the rate is outside fsk_lowest_rate..fsk_highest_rate: the
/// FSK families need at least 44100 samples/s.
bool fsk_begin(FskDemod& d, double rate, SymbolSink sink);

/// What lane `lane` (0 .. lane_count - 1) delivers.
LaneInfo fsk_lane(const FskDemod& d, int32_t lane);

/// Demodulates the next `n` unsigned 8-bit samples (128 = middle). Symbols go to the sink,
/// each lane's in batches, once a piece of samples is done and before it returns. Any
/// thread, one at a time per demodulator.
void fsk_take(FskDemod& d, const uint8_t* samples, int32_t n);

/// How the signal looked on `lane` over its last few dozen symbols, as it decided the
/// symbol `later` symbols before the last it handed to the sink (0: the last).
SignalMeasure fsk_measure(const FskDemod& d, int32_t lane, int32_t later = 0);

/// The share of the input's power (around its mean, over the last 50 ms) that the two tones
/// held over `lane`'s last few dozen symbols: near 1 for an FSK tag, about 0.15 for white
/// noise, near 0 for ASK tags, hum, or an input whose band stops below 12.5 kHz.
double fsk_tone_share(const FskDemod& d, int32_t lane);

}  // namespace tavrel
