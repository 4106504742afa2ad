#pragma once
// What tavrel-decode writes besides the program's console log: one JSON object per read,
// and the diagnostics that show why a recording gives no reads.

#include <cstdint>
#include <cstdio>
#include <string>

#include "io/sound_in.hpp"
#include "report/decode_run.hpp"

namespace tavrel {

/// A tag ID in the forms printed on cards and fobs.
struct CardForms {
  char hex[11];      ///< all 40 data bits, 10 hex digits
  char dec32[11];    ///< the low 32 bits, 10 decimal digits
  char dec24[9];     ///< the low 24 bits, 8 decimal digits
  char number[12];   ///< "id_high.id_low", as the program shows it
  int32_t facility;  ///< 26-bit Wiegand facility code: bits 23..16
  int32_t card;      ///< 26-bit Wiegand card number: bits 15..0
};

CardForms card_forms(uint64_t id40);

/// One read as a JSON object on one line, without the line end. `wall`, when not empty,
/// is the wall-clock time of the read (ISO 8601), for live input.
std::string read_json(const std::string& file, const Read& read, const std::string& wall);

/// The wall-clock time now, ISO 8601 in UTC to the millisecond: 2026-12-09T05:03:12.345Z.
std::string wall_time_now();

/// The diagnostics for one file: signal levels, run lengths, frame tests.
void write_stats(std::FILE* out, const char* file, const SoundFacts& facts,
                 const DecodeOptions& options, const DecodeStats& stats);

/// Adds the counts of `s` to `total`.
void stats_add(DecodeStats& total, const DecodeStats& s);

/// What a failed decode knows about its signal.
struct HintFacts {
  const DecodeStats& stats;  ///< counts over all files
  int32_t peak;              ///< largest distance from the middle on the analysed channel
  int32_t other_peak;        ///< the same on the other channel, -1 when there is none
  int32_t channel;           ///< the analysed channel: 0 left, 1 right
  int32_t invert;            ///< 0, 1 or invert_auto
  bool robust;               ///< decoded by the tolerant path
};

/// The most likely reason nothing was read, ending in the option to try, for one line
/// on standard error.
std::string failure_hint(const HintFacts& facts);

}  // namespace tavrel
