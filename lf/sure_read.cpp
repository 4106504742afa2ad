#include "lf/sure_read.hpp"

#include <cmath>
#include <cstring>

namespace tavrel {

constexpr double weak_share = 0.2;  ///< a margin below this share of the mean is weak
constexpr int32_t fault_share = 8;  ///< at most one faulty symbol in this many

static bool same_frame(const FrameBits& a, const FrameBits& b) {
  return a.count == b.count && std::memcmp(a.words, b.words, sizeof a.words) == 0;
}

SureCheck sure_take(FrameRun& run, const Family& f, const FrameBits& frame, bool inverted,
                    const SymbolHistory& h) {
  const int64_t end = h.count - 1;
  const int32_t period = f.frame_symbols + f.gap_symbols;
  const bool follows = run.in_row > 0 && run.inverted == inverted && end - run.last_end == period &&
                       same_frame(run.last, frame);
  run.in_row = follows ? run.in_row + 1 : 1;
  run.last = frame;
  run.last_end = end;
  run.inverted = inverted;
  if (run.in_row < f.sure_frames) return SureCheck::alone;

  // The symbols of the last sure_frames frames, gaps left out.
  const auto slot = [&h](int64_t k) { return static_cast<size_t>(k % h.size); };
  double total = 0;
  int32_t n = 0;
  for (int32_t r = 0; r < f.sure_frames; ++r) {
    for (int32_t i = 0; i < f.frame_symbols; ++i) total += h.margins[slot(end - r * period - i)];
    n += f.frame_symbols;
  }
  const double weak = weak_share * total / n;
  const double clear = sure_change_share * total / n;
  int32_t faults = 0;
  for (int32_t r = 0; r < f.sure_frames; ++r) {
    // A frame's first symbol follows the one before it only when frames come back to back;
    // after a gap, or before the oldest frame, its line code is not the frame's.
    const int32_t counted =
        f.gap_symbols > 0 || r + 1 == f.sure_frames ? f.frame_symbols - 1 : f.frame_symbols;
    for (int32_t i = 0; i < f.frame_symbols; ++i) {
      const size_t k = slot(end - r * period - i);
      if (h.margins[k] < weak) return SureCheck::weak_symbol;
      if (i < counted) faults += sure_line_fault(h.quiet[k], h.changes[k], clear);
    }
  }
  if (faults * fault_share > n) return SureCheck::line_code;
  return SureCheck::read;
}

bool sure_new_read(LastReads& last, const FrameBits& frame, int64_t end, double period) {
  for (int32_t i = 0; i < kept_reads; ++i) {
    if (same_frame(last.frames[i], frame) &&
        std::fabs(static_cast<double>(end - last.ends[i])) < period / 2)
      return false;
  }
  last.frames[last.next] = frame;
  last.ends[last.next] = end;
  last.next = (last.next + 1) % kept_reads;
  return true;
}

}  // namespace tavrel
