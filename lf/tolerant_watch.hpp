#pragma once
// What the watch on the tolerant path sees: each symbol a demodulator decided, on its lane,
// and each window the frame search tested, with the family's verdict and the sure-read
// rules' result. Plain data, for the pictures; the decoder knows nothing of them.

#include <cstdint>

#include "lf/family.hpp"
#include "lf/sure_read.hpp"
#include "lf/symbols.hpp"

namespace tavrel {

/// A symbol as the watch sees it.
struct WatchedSymbol {
  int32_t lane;   ///< its search lane: an index into TolerantDecoder::lanes
  LaneInfo info;  ///< what that lane carries
  Symbol symbol;
  int64_t start;    ///< stream sample where it began: the end of the lane's symbol before it
  bool line_fault;  ///< the line code is broken just before it, judged as the sure-read rules
                    ///< judge it, against the lane's running mean margin
};

/// A window that began with a family's sync, and what became of it.
struct WatchedFrame {
  const Family* family;
  int32_t lane;     ///< its search lane
  int64_t start;    ///< stream sample where its first symbol began
  int64_t end;      ///< stream sample just after its last symbol
  Verdict verdict;  ///< the family's
  SureCheck sure;   ///< the sure-read rules' result, when the verdict is frame_passed
  bool inverted;    ///< found in the lane's symbols complemented (a differential biphase
                    ///< frame is the complement of its biphase lane's symbols)
};

/// Sees the tolerant path's decisions as they are made, on the decoding thread: every
/// symbol of every lane, and every window tested (before the read it may make). What it is
/// handed lives for the call only.
struct TolerantWatch {
  void (*symbol)(void* context, const WatchedSymbol& symbol);
  void (*frame)(void* context, const WatchedFrame& frame);
  void* context;
};

}  // namespace tavrel
