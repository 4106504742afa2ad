#pragma once
// What a demodulator hands the frame search: one decided symbol at a time, on one of its
// lanes. A lane is one symbol stream: a modulation at one data rate, in one of the ways
// of cutting the signal into symbols (the two ways of pairing half-symbols into symbols,
// say). Every family with that modulation and rate searches the same lanes.

#include <cstdint>

#include "lf/family.hpp"

namespace tavrel {

/// One decision.
struct Symbol {
  uint8_t value;  ///< 0 or 1, in the convention of Modulation
  uint8_t fault;  ///< 1: the line code around this symbol is broken (a change between two
                  ///< Manchester bits where none belongs, or none where one does; a missing
                  ///< biphase boundary change); frames with many are not sure
  float margin;   ///< the decision's distance from its threshold, >= 0, in the
                  ///< demodulator's own unit: only compared with the lane's other margins
  int64_t end;    ///< stream sample index just after the symbol
};

/// A demodulator's lane: what its symbols are.
struct LaneInfo {
  Modulation modulation;
  int32_t rate;  ///< RF/n: symbols last n periods of the 125 kHz field (nominally)
};

/// How the signal looked on a lane over its last symbols, for a read.
struct SignalMeasure {
  double level;           ///< peak swing of the signal (ASK) or the tones (FSK), 8-bit steps
  double offset;          ///< middle level minus 128, 8-bit steps
  double snr_db;          ///< signal power over noise power
  double symbol_samples;  ///< recovered symbol period, samples
};

/// Where a demodulator's decisions go. Called on the decoding thread, in stream order per
/// lane; lanes interleave.
struct SymbolSink {
  void (*take)(void* context, int32_t lane, const Symbol& symbol);
  void* context;
};

}  // namespace tavrel
