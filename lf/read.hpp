#pragma once
// A read of any family, as data: what the decoding found, handed to the sinks (console
// log, JSON lines, first-of-presentation, picture, MQTT), which know no family. A read
// holds nothing borrowed but its family's row, a constant.

#include <cstdint>

#include "lf/family.hpp"
#include "lf/symbols.hpp"

namespace tavrel {

struct TagRead {
  const Family* family;   ///< its row in the family table
  Fields fields;          ///< what the family read from the frame, `number` among them
  FrameBits frame;        ///< the frame's symbols from its first sync symbol, as sent
  int64_t end;            ///< stream sample index just after the frame's last symbol
  double time;            ///< seconds from the start of the stream to `end`
  int32_t clock;          ///< RF/n the frame came at
  bool inverted;          ///< found in the complemented symbols (levels or tones swapped)
  bool measured;          ///< `measure` holds what the demodulator measured
  SignalMeasure measure;  ///< level, offset, SNR and symbol period, when measured
  // Filled by the tools on the way to the sinks, not by the decoding.
  int32_t reader;  ///< the reader (input channel) it came from, 0 for the first
  int32_t repeat;  ///< reads in a row of the same number before this one on that reader
  char wall[32];   ///< wall-clock time of the read (ISO 8601 UTC), or empty: not live
};

}  // namespace tavrel
