#pragma once
// When a frame that passed its family's checks becomes a read. Parity and checksums alone
// are not enough: the all-zero EM4100 frame has every parity bit 0 and a tone imitates
// it, and families protected by two parity bits pass a random frame once in four. So:
//   - the same frame must come `sure_frames` times in a row, each exactly one repetition
//     period after the one before, on the same lane and in the same polarity; or the
//     symbols around one such frame must repeat, one period apart, over `sure_frames`
//     periods: a tag that enters the field mid-frame repeats the tail of its frame before
//     the first sync, so it is read sure_frames periods after it entered, not after that;
//   - no symbol of those frames may be decided by a margin below a fifth of their mean;
//   - the line code may be broken around at most one symbol in eight: a change where it
//     wants none, or none where it wants one, measured against half the mean margin;
//   - the same read is not made twice: not from another lane, nor again within half a
//     period, nor by the frames in a row after their repetition made it.
// Random symbols pass the first rule about once in 2^(frame length); tones, square waves and
// other periodic signals that repeat themselves fail the other two.

#include <cmath>
#include <cstdint>

#include "lf/family.hpp"

namespace tavrel {

/// What the rules said of a frame that passed its family's checks.
enum class SureCheck : uint8_t {
  alone,        ///< fewer identical frames in a row than the family needs, so far
  weak_symbol,  ///< a symbol was decided far less clearly than the others
  line_code,    ///< the line code was broken around too many symbols
  repeated,     ///< the same read again, from another lane or too soon
  read,
};
constexpr int sure_check_count = static_cast<int>(SureCheck::read) + 1;

/// A change of level counts from this share of the mean margin of the symbols judged.
constexpr double sure_change_share = 0.5;

/// Whether the line code is broken just before a symbol (Symbol::quiet and Symbol::change)
/// when a change of level counts from `clear`: a change where it wants none, or none where
/// it wants one.
inline bool sure_line_fault(uint8_t quiet, float change, double clear) {
  return quiet ? std::fabs(change) >= clear : change < clear;
}

/// The frames of one family that passed, in a row, on one lane.
struct FrameRun {
  FrameBits last;       ///< the last of them
  int64_t last_end;     ///< the lane's count of symbols at its end
  int64_t last_sample;  ///< stream sample just after it
  bool inverted;        ///< found in the complemented symbols
  int32_t in_row;       ///< identical frames in a row, each one period after the one before
  int64_t due;  ///< while fewer: the lane's count of symbols at which the symbols around them
                ///< may have repeated over sure_frames periods; 0: none to wait for
  int64_t repeated_at;  ///< the lane's count of symbols when their repetition made a read,
                        ///< or 0
};

/// The lane's recent decisions, by the lane's count of symbols, for the rules.
struct SymbolHistory {
  const uint64_t* recents;  ///< ring of `size` entries: the 64 symbols ending with symbol k,
                            ///< it in bit 0, at k % size
  const float* margins;     ///< symbol k's margin at k % size
  const float* changes;     ///< Symbol::change
  const uint8_t* quiet;     ///< Symbol::quiet
  int32_t size;             ///< a power of two
  int64_t count;            ///< symbols decided on the lane; the newest is count - 1
};

/// Takes a frame of `f` that passed its checks and ends with the lane's newest symbol, at
/// stream sample `end`. Returns read, or why it is not (yet) one; a read another lane made
/// first is left to sure_new_read. While it is not, run.due says when to ask sure_repeat.
SureCheck sure_take(FrameRun& run, const Family& f, const FrameBits& frame, bool inverted,
                    int64_t end, const SymbolHistory& history);

/// At run.due, whether the symbols around the run's frames have repeated over sure_frames
/// periods ending with the lane's newest symbol. Returns read, or alone with run.due moved
/// on (or 0, when the frames in a row will come first), or why the symbols are not sure.
SureCheck sure_repeat(FrameRun& run, const Family& f, const SymbolHistory& history);

/// The last reads of one family, over all lanes. Lanes at different rates decode the same
/// stretch of samples one after the other, so a read may come after a later one.
constexpr int32_t kept_reads = 8;
struct LastReads {
  FrameBits frames[kept_reads];
  int64_t ends[kept_reads];  ///< stream sample index just after each
  int32_t next;              ///< the slot the next read takes
};

/// Whether a read of `frame` ending at sample `end` is new: not the same frame as one of
/// `last` within half of `period` samples (a repetition), from any lane. Keeps it when it is.
bool sure_new_read(LastReads& last, const FrameBits& frame, int64_t end, double period);

}  // namespace tavrel
