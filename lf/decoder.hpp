#pragma once
// The tolerant path: the demodulators the chosen families need, the frame search on every
// lane of symbols they produce, and the sure-read rules. One instance per input channel;
// nothing process-wide, no I/O.
//
// The frame search: each family searches every lane of its modulation and data rates. After
// every symbol, the window of a family's frame length that ends with it is a frame when it
// starts with the family's sync (in either polarity where the family allows it); then the
// family decodes it, and a frame that passes goes to the sure-read rules (lf/sure_read.hpp).
// Per frame length, a table indexed by a window's first eight symbols says which syncs can
// start it, so the search costs one lookup per symbol and length, whatever the number of
// families.

#include <cstdint>

#include "lf/demod/ask.hpp"
#include "lf/demod/fsk.hpp"
#include "lf/family_table.hpp"
#include "lf/read.hpp"
#include "lf/sure_read.hpp"
#include "lf/tolerant_watch.hpp"

namespace tavrel {

constexpr int32_t max_families = 32;
constexpr int32_t max_reasons = 16;     ///< rejection reasons of one family, "passed" included
constexpr int32_t lane_history = 1024;  ///< symbols kept per lane: the sure frames of any family
static_assert((lane_history & (lane_history - 1)) == 0, "rings indexed by a mask");
constexpr int32_t max_lanes = ask_max_lanes + fsk_lane_count;
constexpr int32_t max_lane_families = 16;  ///< families searching one lane
constexpr int32_t max_lane_lengths = 4;    ///< different frame lengths on one lane

/// What happened to one family's frames.
struct FamilyStats {
  int64_t frames;                  ///< windows that began with its sync and were decoded
  int64_t verdicts[max_reasons];   ///< those windows by the family's verdict
  int64_t sure[sure_check_count];  ///< frames that passed, by what the sure-read rules said
};

/// What one lane decided, for the statistics. The energies add up over inputs.
struct LaneStats {
  LaneInfo info;
  int64_t symbols;      ///< decided on it
  double tone_energy;   ///< FSK: the stronger tone's power summed over the stream, steps^2 x
                        ///< samples; 0 on ASK lanes
  double input_energy;  ///< FSK: the input's power around its mean, summed likewise
  double field_energy;  ///< FSK: the field its symbols were recovered at, weighted by the
                        ///< tone's power, Hz x tone_energy
};

/// A family searching one lane.
struct LaneFamily {
  int32_t family;  ///< index into TolerantDecoder::families
  FrameRun run;
  bool complement;       ///< the family's symbols are the complement of the lane's
                         ///< (differential biphase on a biphase lane)
  int32_t sync_symbols;  ///< the family's
  uint64_t syncs[2];     ///< its sync as the lane holds it (the first symbol highest), and
                         ///< that sync's complement
};

struct SearchLane {
  LaneInfo info;
  int32_t demod_lane;              ///< the lane's index in its demodulator
  uint64_t recents[lane_history];  ///< by symbol count, modulo lane_history: the 64 symbols
                                   ///< ending with it, it in bit 0
  float margins[lane_history];     ///< by symbol count, modulo lane_history
  float changes[lane_history];
  uint8_t quiet[lane_history];
  int64_t count;                      ///< symbols decided on the lane
  int64_t newest_end;                 ///< stream sample just after the newest symbol
  int64_t same;                       ///< newest symbols that are equal, the newest among them
  int32_t later;                      ///< while a frame is due: symbols the demodulator has
                                      ///< decided on the lane after the newest
  int64_t due;                        ///< the soonest of its families' FrameRun::due, or 0
  int32_t lengths[max_lane_lengths];  ///< the frame lengths searched, in symbols
  int32_t length_count;
  uint32_t sync_starts[max_lane_lengths][256];   ///< per length, by a window's first eight
                                                 ///< symbols (the first highest): bit 2s set
                                                 ///< when family s's sync can start it, 2s+1
                                                 ///< its complement
  uint32_t sync_seconds[max_lane_lengths][256];  ///< the same for a window's symbols 8 to 15
                                                 ///< and the syncs' (any, when shorter)
  LaneFamily families[max_lane_families];
  int32_t family_count;
};

/// What a watched lane keeps for the watch: its symbols' places and their line-code faults.
struct LaneWatch {
  int64_t ends[lane_history];  ///< stream sample just after each symbol, by symbol count
                               ///< modulo lane_history
  float mean_margin;           ///< running mean of the margins
};

struct TolerantDecoder {
  double rate;  ///< samples per second
  const Family* families[max_families];
  int32_t family_count;
  FamilySet unreadable;  ///< chosen families that no lane can carry at this rate
  FamilyStats stats[max_families];
  LastReads last_reads[max_families];
  int64_t symbols;             ///< decided on all lanes
  const TolerantWatch* watch;  ///< or null: not watched
  AskDemod ask;
  SearchLane lanes[max_lanes];
  int32_t lane_count;
  int32_t ask_lanes[ask_max_lanes];  ///< the search lane of each ASK demodulator lane, or -1
  FskDemod fsk;
  bool fsk_on;                        ///< some family chosen is FSK and the rate carries it
  int32_t fsk_lanes[fsk_lane_count];  ///< the search lane of each of its lanes, or -1
  void (*on_read)(void* context, const TagRead& read);
  void* context;
  LaneWatch lane_watch[max_lanes];  ///< by search lane, while watched
};

/// Starts a stream of `rate` samples per second, searching for the families of `chosen`;
/// every sure read goes to `on_read`.
void tolerant_begin(TolerantDecoder& d, double rate, FamilySet chosen,
                    void (*on_read)(void* context, const TagRead& read), void* context);

/// From now on `on_levels` (same context) gets what the demodulators measure after each
/// block of decisions. Before the first samples.
void tolerant_watch_levels(TolerantDecoder& d, void (*on_levels)(void*, const LevelSpan&));

/// From now on `watch` (or nothing, for null) sees every symbol and every window tested.
/// After tolerant_begin, before the first samples; `watch` outlives the stream.
void tolerant_watch_decisions(TolerantDecoder& d, const TolerantWatch* watch);

/// What lane `lane` (0 .. lane_count - 1) decided so far.
LaneStats tolerant_lane_stats(const TolerantDecoder& d, int32_t lane);

/// Decodes the next `n` unsigned 8-bit samples (128 = middle); reads are made as soon as
/// their frame has ended. Any thread, one at a time per decoder.
void tolerant_take(TolerantDecoder& d, const uint8_t* samples, int32_t n);

/// The index of `family` in d.families, or -1 when it is not searched.
int32_t tolerant_family(const TolerantDecoder& d, const Family& family);

}  // namespace tavrel
