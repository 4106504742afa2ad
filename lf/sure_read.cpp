#include "lf/sure_read.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace tavrel {

constexpr double weak_share = 0.2;  ///< a margin below this share of the mean is weak
constexpr int32_t fault_share = 8;  ///< at most one faulty symbol in this many

static bool same_frame(const FrameBits& a, const FrameBits& b) {
  return a.count == b.count && std::memcmp(a.words, b.words, sizeof a.words) == 0;
}

// The rings' slot of symbol k.
static size_t slot(const SymbolHistory& h, int64_t k) {
  return static_cast<size_t>(k & (h.size - 1));
}

static int32_t period_of(const Family& f) {
  return f.frame_symbols + f.gap_symbols;
}

// The phase in its period of symbol k of the lane, whose frames start at `frame_start` (give
// or take periods).
static int32_t phase_of(int64_t k, int64_t frame_start, int32_t period) {
  return static_cast<int32_t>(((k - frame_start) % period + period) % period);
}

// The newest symbol k of a frame in first..last that differs from symbol k + period, or
// first - 1. Gap symbols are not the frame's (a sequence terminator breaks the line code, so
// its symbols are decided anyhow): left out. Sixty-four symbols to a comparison.
static int64_t newest_change(const Family& f, const SymbolHistory& h, int64_t first, int64_t last,
                             int64_t frame_start) {
  const int32_t period = period_of(f);
  for (int64_t k = last; k >= first; k -= 64) {
    const int64_t n = std::min<int64_t>(64, k - first + 1);
    const uint64_t mask = n == 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
    for (uint64_t differ = (h.recents[slot(h, k)] ^ h.recents[slot(h, k + period)]) & mask;
         differ != 0; differ &= differ - 1) {
      const int64_t changed = k - std::countr_zero(differ);
      if (f.gap_symbols == 0 || phase_of(changed, frame_start, period) < f.frame_symbols)
        return changed;
    }
  }
  return first - 1;
}

// The margin and line-code rules over symbols first..last of the lane, whose frames start
// at `frame_start` (give or take periods). Gap symbols are not the frame's: left out. A
// weak symbol's place goes to `weak_at`.
static SureCheck judge(const Family& f, const SymbolHistory& h, int64_t first, int64_t last,
                       int64_t frame_start, int64_t& weak_at) {
  const int32_t period = period_of(f);
  const int32_t last_phase = phase_of(last, frame_start, period);
  double total = 0;
  int32_t n = 0;
  for (int64_t k = last, phase = last_phase; k >= first;
       --k, phase = phase ? phase - 1 : period - 1) {
    if (phase >= f.frame_symbols) continue;
    total += h.margins[slot(h, k)];
    ++n;
  }
  const double weak = weak_share * total / n;
  const double clear = sure_change_share * total / n;
  int32_t faults = 0;
  // Newest first, so that a weak symbol found is the newest.
  for (int64_t k = last, phase = last_phase; k >= first;
       --k, phase = phase ? phase - 1 : period - 1) {
    if (phase >= f.frame_symbols) continue;
    const size_t s = slot(h, k);
    if (h.margins[s] < weak) {
      weak_at = k;
      return SureCheck::weak_symbol;
    }
    // A symbol's line code is that of the change before it: not the frame's for the first
    // symbol judged, nor for a frame's first after a gap.
    if (k != first && !(phase == 0 && f.gap_symbols > 0))
      faults += sure_line_fault(h.quiet[s], h.changes[s], clear);
  }
  if (faults * fault_share > n) return SureCheck::line_code;
  return SureCheck::read;
}

// The lane's count of symbols when the run's frames in a row will be sure_frames.
static int64_t whole_run(const FrameRun& run, const Family& f) {
  return run.last_end + static_cast<int64_t>(f.sure_frames - run.in_row) * period_of(f);
}

SureCheck sure_take(FrameRun& run, const Family& f, const FrameBits& frame, bool inverted,
                    int64_t end, const SymbolHistory& h) {
  const int32_t period = period_of(f);
  const bool follows = run.in_row > 0 && run.inverted == inverted &&
                       h.count - run.last_end == period && same_frame(run.last, frame);
  run.in_row = follows ? run.in_row + 1 : 1;
  if (!follows) run.repeated_at = 0;
  run.last = frame;
  run.last_end = h.count;
  run.last_sample = end;
  run.inverted = inverted;
  run.due = 0;
  const int64_t span = static_cast<int64_t>(f.sure_frames) * period;
  if (run.in_row < f.sure_frames) {
    // How far back, before the first frame of the run, the symbols repeat a period later:
    // the earliest the sure_frames periods can be whole.
    const int64_t first = h.count - static_cast<int64_t>(run.in_row - 1) * period - f.frame_symbols;
    const int64_t lowest = std::max({int64_t{0}, h.count - h.size, h.count - span});
    const int64_t start =
        newest_change(f, h, lowest, std::min(first, h.count - period) - 1, first) + 1;
    run.due = std::max(start + span, h.count);
    if (run.due >= whole_run(run, f)) run.due = 0;
    return SureCheck::alone;
  }
  if (run.repeated_at > 0 && h.count - run.repeated_at < period) return SureCheck::repeated;
  int64_t weak_at = 0;
  return judge(f, h, h.count - span + f.gap_symbols, h.count - 1, h.count - f.frame_symbols,
               weak_at);
}

SureCheck sure_repeat(FrameRun& run, const Family& f, const SymbolHistory& h) {
  const int32_t period = period_of(f);
  const int64_t span = static_cast<int64_t>(f.sure_frames) * period;
  const int64_t first = h.count - span;
  const int64_t last = h.count - 1;
  const int64_t change = newest_change(f, h, first, last - period, run.last_end - f.frame_symbols);
  SureCheck check = SureCheck::alone;
  if (change >= first) {
    // Not yet repeated since `change`; never, when the newest symbol broke the repetition.
    run.due = change == last - period ? 0 : change + 1 + span;
  } else {
    // Judged again one symbol on, or once a weak symbol has left.
    int64_t weak_at = first - 1;
    check = judge(f, h, first, last, run.last_end - f.frame_symbols, weak_at);
    run.due = check == SureCheck::read ? 0 : std::max(h.count, weak_at + span) + 1;
    if (check == SureCheck::read) run.repeated_at = h.count;
  }
  if (run.due >= whole_run(run, f)) run.due = 0;
  return check;
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
