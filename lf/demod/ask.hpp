#pragma once
// ASK demodulation: the tag switches a load, the front end delivers two levels. Samples are
// summed once; every decision works on sums over windows of a recovered half-symbol, so a DC
// offset, a slow drift or a sound card's AC coupling cancels out of it. One clock loop per
// data rate decides half-symbols; the line codes (ask_manchester.cpp, and the others beside
// it) turn them into symbols on lanes of their own. They take a loop's half-symbols a few
// hundred at a time, after the loop, and hand each lane's symbols on in batches, so that
// the work of a symbol is a few steps of a tight loop, not calls.
//
//   sum    y(k)  = samples summed over half-symbol k (integrate and dump at the recovered phase)
//   step   d(k)  = y(k) - y(k-1): positive for a rise into half-symbol k

#include <cstdint>

#include "lf/symbols.hpp"

namespace tavrel {

constexpr int32_t ask_max_loops = 6;   ///< data rates demodulated at once
constexpr int32_t ask_history = 256;   ///< half-symbols measured over: two 64-symbol frames
constexpr int32_t ask_ring = 1024;     ///< half-symbols kept per loop: the history, and those
                                       ///< decided and not yet coded
constexpr int32_t ask_batch = 64;      ///< symbols handed to the sink at once, at most
constexpr int32_t ask_buffer = 16384;  ///< samples of running sums kept
constexpr int32_t ask_max_lanes = 24;  ///< two per line code and loop, all the families need

/// A coupling capacitor in the front end or the sound card makes every level decay towards
/// the middle. Its signal y is the tag's level x less what the capacitor took since:
/// x = y + gain * P, where P is the running integral of y and the gain 1 / its time
/// constant. A loop undoes it in its window sums with a gain it fits from the quiet
/// half-symbol steps, those between two edges of opposite sign, where the level was held:
/// there a step should be nothing, and what is left is the decay. Sums are kept per parity
/// of the step: the parity of the steps that always carry an edge (Manchester's mid-bit,
/// biphase's boundary) is the one whose quiet steps no decay explains. They decay as quiet
/// steps come. The quiet steps' own changes are watched in one block of a few (a number
/// prime to a frame's, so that every place in a frame comes up); the integrals are
/// computed and fitted, in every block, only once those show a decay.
struct Coupling {
  double gain;             ///< per sample; 0: no coupling undone
  double mean_y;           ///< running mean of the half-symbol sums: the offset x a half-symbol
  bool fitting;            ///< a decay was seen: the integrals are fitted
  bool pending;            ///< the last block's last step waits to be judged
  double pending_dy;       ///< its change of the sum
  double pending_dq;       ///< its change of the integral
  double seen[2];          ///< quiet steps signed by the level held, negative for a decay
  double seen_squares[2];  ///< their squares
  // While fitting, sums since it began:
  double held[2];   ///< quiet steps signed by the level held
  double lost[2];   ///< the steps of the integral over them, signed the same way
  double cross[2];  ///< step x integral step
  double power[2];  ///< squared integral steps
  double steps[2];  ///< squared steps
};

/// A Manchester lane's state: one of the two ways of pairing half-symbols into bits.
struct ManchesterLane {
  uint8_t last;  ///< the lane's last bit
};

/// A biphase lane's state.
struct BiphaseLane {
  float change;  ///< running mean size of the changes at its boundaries, as a step
};

/// An NRZ lane's state.
struct NrzLane {
  bool high;        ///< the level of its last symbol
  float change;     ///< running mean size of its edges, as a step
  int32_t without;  ///< symbols since its last edge
};

/// Timing recovery and half-symbol decisions at one data rate.
struct AskLoop {
  int32_t rate;       ///< RF/n
  double field;       ///< the field it divides, Hz
  double nominal;     ///< half-symbol length at the nominal rate, samples
  double half;        ///< recovered half-symbol length, samples
  double next;        ///< buffer position where the next half-symbol ends
  double at_end;      ///< running sum at the end of the last half-symbol
  double at_middle;   ///< running sum half a half-symbol before that end
  double end_at;      ///< buffer position of the end of the last half-symbol
  double middle_at;   ///< buffer position half a half-symbol before it
  double last_y;      ///< sum of the last half-symbol, 8-bit steps x samples
  Coupling coupling;  ///< undone in every window sum
  double power;       ///< running mean of squared steps between half-symbols
  int64_t count;      ///< half-symbols decided since the start
  int64_t coded;      ///< of those, the ones the line codes have taken
  // Half-symbol k at k % ask_ring:
  double steps[ask_ring];   ///< step into it (newer minus older); the line codes and the
                            ///< measures weigh the older ones as floats
  float sums[ask_ring];     ///< its sum
  int64_t ends[ask_ring];   ///< stream sample just after it
  double halves[ask_ring];  ///< the recovered half-symbol length it was decided at, samples
  int32_t manchester;       ///< first of its two Manchester lanes, or -1
  ManchesterLane pairings[2];
  int32_t biphase;  ///< first of its two biphase lanes (which carry differential biphase
                    ///< too), or -1
  BiphaseLane biphase_pairings[2];
  int32_t nrz;  ///< first of its two NRZ lanes, or -1
  NrzLane nrz_pairings[2];
};

struct AskDemod {
  double rate;                      ///< samples per second
  int32_t running[ask_buffer + 1];  ///< running sums of signed samples; [0] = 0
  int64_t areas[ask_buffer + 1];    ///< twice the integral of the running sum, as far as a
                                    ///< loop has needed it
  int32_t areas_filled;             ///< samples whose integral is in `areas`
  int32_t filled;                   ///< samples in the buffer
  int64_t base;                     ///< index of the buffer's first sample in the stream
  AskLoop loops[ask_max_loops];
  int32_t loop_count;
  LaneInfo lanes[ask_max_lanes];
  int32_t lane_loop[ask_max_lanes];    ///< the loop each lane's symbols come from
  int64_t lane_newest[ask_max_lanes];  ///< the half-symbol of its loop on which each lane
                                       ///< decided the last symbol handed to the sink
  int32_t lane_count;
  SymbolSink sink;
  void (*on_levels)(void* context, const LevelSpan& span);  ///< or null: not measured
  void* levels_context;
};

/// Starts a stream of `rate` samples per second with no lanes; decisions go to `sink`.
void ask_begin(AskDemod& d, double rate, SymbolSink sink);

/// Adds the two lanes of `modulation` at RF/`rf` of a `field` Hz field, before the first
/// samples. Returns the first lane's index, or -1 when a half-symbol at this rate is too
/// short for the samples to tell. Differential biphase comes on the biphase lanes, as
/// their complement.
int32_t ask_add(AskDemod& d, Modulation modulation, int32_t rf, double field = field_hz);

/// Decodes the next `n` unsigned 8-bit samples (128 = middle); symbols go to the sink
/// before it returns. Any thread, one at a time per demodulator.
void ask_take(AskDemod& d, const uint8_t* samples, int32_t n);

/// What lane `lane` saw of the signal over `symbols` symbols (up to the history) up to the
/// one `later` symbols before the last it handed to the sink: called from the sink, as of
/// the symbol it has come to in its batch.
void ask_measure(const AskDemod& d, int32_t lane, int32_t symbols, int32_t later,
                 SignalMeasure& measure);

/// Hands `n` (1 to ask_batch) symbols of lane `lane` to the sink, for the line codes; the
/// last was decided on half-symbol `newest` of its loop, each two half-symbols after the one
/// before.
void ask_hand_on(AskDemod& d, int32_t lane, const Symbol* symbols, int32_t n, int64_t newest);

}  // namespace tavrel
