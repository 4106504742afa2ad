#pragma once
// The last tag read and how often in a row it came, plus its line on the console.

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace tavrel {

/// Written by the worker only; the dialog reads each word on its own, at any time.
struct ReadRegister {
  std::atomic<int32_t> last_high{-1};    ///< id_high of the last frame; -1 before the first
  std::atomic<int32_t> last_low{-1};     ///< id_low of the last frame; -1 before the first
  std::atomic<int32_t> repeat_count{0};  ///< frames in a row after the first with this number
};

extern ReadRegister read_register;

/// Takes one recognised frame's number: updates the register and writes or rewrites the
/// console line. Worker thread.
void record(int32_t id_high, int32_t id_low);

/// Writes a read's line of the console log to `out`: a new line with `number`, or, when
/// `again` (the same tag as the line's), the line rewritten in place with the running repeat
/// number `n`, counted from 0. Any thread, one at a time per stream.
void write_log_line(std::FILE* out, const char* number, bool again, int32_t n);

/// Puts the decoding path back as at program start: an empty half-bit ring, the parity
/// tests on, no read in the register. For tools and tests that decode more than once;
/// never while the worker decodes.
void decode_restart();

}  // namespace tavrel
