#pragma once
// What a decoding counted, and the one engine that says from those counts why nothing was
// read: the same words for --stats, for the line on standard error of a failed decode and
// for the pictures.

#include <cstdint>
#include <cstdio>
#include <string>

#include "decode/half_bit_ring.hpp"
#include "io/sound_in.hpp"
#include "lf/decoder.hpp"

namespace tavrel {

constexpr int32_t counted_run = 64;  ///< runs this long and longer share the last bin

/// The program's decoding path: runs by length, frame tests by result.
struct ProgramStats {
  int64_t runs[2][counted_run + 1];   ///< [0] low, [1] high runs by length in samples
  int64_t checks[frame_check_count];  ///< frame tests by FrameCheck result
  int64_t blocks;                     ///< passes of the block feeder
};

/// The tolerant path: what became of each family's frames.
struct TolerantStats {
  int64_t symbols;                       ///< decided on all lanes
  int32_t family_count;                  ///< families searched
  const Family* families[max_families];  ///< their rows
  FamilyStats counts[max_families];
  FamilySet unreadable;  ///< families no lane carried at the stream's rate (family_table bits)
  int32_t lane_count;    ///< lanes searched
  LaneStats lanes[max_lanes];
};

struct DecodeStats {
  int64_t levels[256];  ///< samples by unsigned value (128 = middle), when counted
  int64_t samples;      ///< samples handed in
  ProgramStats program;
  TolerantStats tolerant;
};

/// Adds the counts of `s` to `total`; families are matched by their rows.
void stats_add(DecodeStats& total, const DecodeStats& s);

/// The tolerant decoder's counts, as the stats keep them.
void stats_take(TolerantStats& out, const TolerantDecoder& d);

/// What a failed decode knows about its signal.
struct HintFacts {
  const DecodeStats& stats;  ///< counts over all inputs
  int32_t peak;              ///< largest distance from the middle on the analysed channel
  int32_t other_peak;        ///< the same on the other channel, -1 when there is none
  int32_t channel;           ///< the analysed channel: 0 left, 1 right
  int32_t invert;            ///< the program's path: 0, 1, or -1 for both polarities
  int32_t rate;              ///< samples per second of the input, 0 when unknown
};

/// "" or one line saying which of `unreadable` (family_table bits) the input's `rate`
/// (samples/s, 0 unknown) cannot carry, and what to do.
std::string unreadable_families(FamilySet unreadable, int32_t rate);

/// The most likely reason nothing was read, ending in what to try, for one line.
std::string failure_hint(const HintFacts& facts);

/// The diagnostics of one input: `title` (what was decoded and how) on the first line, then
/// the signal levels, each path's counts, and the hint when nothing was read.
void write_stats(std::FILE* out, const std::string& title, const SoundFacts& facts,
                 const HintFacts& hint);

}  // namespace tavrel
