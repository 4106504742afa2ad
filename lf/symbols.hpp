#pragma once
// What a demodulator hands the frame search: one decided symbol at a time, on one of its
// lanes. A lane is one symbol stream: a modulation at one data rate, in one of the ways
// of cutting the signal into symbols (the two ways of pairing half-symbols into symbols,
// say). Every family with that modulation and rate searches the same lanes.

#include <cstdint>

#include "lf/family.hpp"

namespace tavrel {

/// One decision, and what the line code says around it.
struct Symbol {
  uint8_t value;  ///< 0 or 1, in the convention of Modulation
  uint8_t quiet;  ///< 1: the line code wants no change of level just before this symbol
                  ///< (between two different Manchester bits); 0: it wants one, of at least
                  ///< half a typical margin, or says nothing
  float margin;   ///< the decision's distance from its threshold, >= 0, in the
                  ///< demodulator's own unit: only compared with the lane's other margins
  float change;   ///< the change of level just before this symbol, in the margin's unit,
                  ///< signed so that the one the code wants is positive; +infinity where the
                  ///< code says nothing
  int64_t end;    ///< stream sample index just after the symbol
};

/// A demodulator's lane: what its symbols are.
struct LaneInfo {
  Modulation modulation;
  int32_t rate;     ///< RF/n: symbols last n periods of the reader's field (nominally)
  double field_hz;  ///< the reader's field: 125 kHz, or 134.2 kHz for animal tags
};

constexpr double field_hz = 125000;         ///< the field of most readers
constexpr double animal_field_hz = 134200;  ///< the field of animal-tag (ISO 11785) readers

/// How the signal looked on a lane over its last symbols, for a read.
struct SignalMeasure {
  double level;           ///< peak swing of the signal (ASK) or the tones (FSK), 8-bit steps
  double offset;          ///< middle level minus 128, 8-bit steps
  double snr_db;          ///< signal power over noise power
  double symbol_samples;  ///< recovered symbol period, samples
};

/// What a demodulator measured of the signal over a stretch of samples, after each block
/// of decisions: only shown (the pictures draw it), no decision depends on it.
struct LevelSpan {
  int64_t start;  ///< first sample of the stretch
  int64_t end;    ///< sample just after it
  int32_t rate;   ///< RF/n of the loop that measured it
  double middle;  ///< middle level minus 128, 8-bit steps
  double swing;   ///< peak deviation from the middle, 8-bit steps
};

/// Where a demodulator's decisions go: `n` (at least 1) symbols of one lane at a time, in
/// stream order per lane; lanes interleave. Called on the decoding thread.
struct SymbolSink {
  void (*take)(void* context, int32_t lane, const Symbol* symbols, int32_t n);
  void* context;
};

}  // namespace tavrel
