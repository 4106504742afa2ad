#include "plot/plot_layout.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "capture/wave_capture.hpp"
#include "decode/read_register.hpp"
#include "frontend/level_slicer.hpp"
#include "frontend/slice_pass.hpp"

namespace tavrel {

// A window ends with the half-bit tested and reaches ring_size half-bits back, each at most
// one run long: events this far before and behind the stretch can still be drawn in it.
constexpr int64_t window_reach = int64_t{ring_size} * max_run;

void plot_begin(PlotStretch& p, const std::string& file, const PlotSetting& setting,
                double from_seconds, double seconds) {
  p.file = file;
  p.facts = setting.facts;
  p.both_polarities = setting.invert == -1;
  p.first_inverted = setting.invert == 1;
  p.clock = setting.clock;
  p.from_seconds = from_seconds;
  p.seconds = seconds;
  plot_rate(p, setting.rate);
  p.first = 0;
  p.seen = 0;
  p.level_sum = 0;
  p.samples.clear();
  p.events.clear();
  p.reads.clear();
  p.hint.clear();
  p.read_count = 0;
  p.rolling = false;
  p.event_limit = 8192;
  p.last_read.clear();
  p.levels.clear();
  p.read_clock = 0;
  p.symbols.clear();
  p.lanes.clear();
  p.frames.clear();
  p.symbols_left_out = 0;
  p.symbol_limit = 65536;
  p.frame_limit = 4096;
}

void plot_rate(PlotStretch& p, double rate) {
  p.rate = rate;
  p.from = p.from_seconds < 0 ? -1 : std::llround(p.from_seconds * rate);
  p.length = std::max<int64_t>(1, std::llround(p.seconds * rate));
}

void plot_begin_rolling(PlotStretch& p, const std::string& file, const PlotSetting& setting,
                        double seconds) {
  plot_begin(p, file, setting, -1, seconds);
  p.rolling = true;
}

// Samples a rolling stretch keeps behind the newest: the stretch, the samples taken but
// not yet decoded (a block and its carry), and the windows reaching into the stretch.
static int64_t rolling_keep(const PlotStretch& p) {
  return p.length + block_frames + carry_samples + window_reach;
}

// Samples from `index` on are no longer wanted while signal is searched for.
static void drop_before(PlotStretch& p, int64_t index) {
  if (index <= p.first) return;
  const auto n = std::min<int64_t>(index - p.first, static_cast<int64_t>(p.samples.size()));
  p.samples.erase(p.samples.begin(), p.samples.begin() + n);
  p.first += n;
}

void plot_take(PlotStretch& p, const uint8_t* samples, int32_t n) {
  if (p.rate == 0) plot_rate(p, sample_rate);
  const int64_t ms = std::max<int64_t>(1, std::llround(p.rate / 1000));
  if (p.rolling) {
    p.samples.insert(p.samples.end(), samples, samples + n);
    p.seen += n;
    // Dropped in big pieces, so that each sample is moved about once.
    if (static_cast<int64_t>(p.samples.size()) > 2 * rolling_keep(p))
      drop_before(p, p.seen - rolling_keep(p));
    return;
  }
  for (int32_t i = 0; i < n; ++i) {
    const int64_t index = p.seen + i;
    if (p.from >= 0) {
      if (index < p.from || index >= p.from + p.length) continue;
      if (p.samples.empty()) p.first = index;
      p.samples.push_back(samples[i]);
      continue;
    }
    // Until signal shows, keep the last stretch: it is drawn if none ever does.
    p.samples.push_back(samples[i]);
    p.level_sum += std::abs(samples[i] - 128);
    if ((index + 1) % ms != 0) continue;
    // Signal: a millisecond whose samples lie signal_steps from the middle on average, so
    // that noise alone does not count. Start a little before it, so that its onset shows.
    if (p.level_sum >= signal_steps * ms) {
      const int64_t lead = std::min<int64_t>(2 * ms, p.length / 5);
      p.from = std::max(p.first, index + 1 - ms - lead);
      drop_before(p, p.from);
      if (static_cast<int64_t>(p.samples.size()) > p.length) p.samples.resize(p.length);
    } else if (static_cast<int64_t>(p.samples.size()) >= 2 * p.length + 4 * ms) {
      drop_before(p, index + 1 - p.length - 3 * ms);
    }
    p.level_sum = 0;
  }
  p.seen += n;
}

void plot_event(PlotStretch& p, const WatchEvent& event) {
  const int64_t end = event.start + event.length;
  if (p.rolling) {
    p.events.push_back(event);
    if (p.events.size() >= p.event_limit) {
      const int64_t keep = p.seen - rolling_keep(p);
      std::erase_if(p.events, [keep](const WatchEvent& e) { return e.start + e.length < keep; });
      p.event_limit = std::max<size_t>(8192, 2 * p.events.size());
    }
    return;
  }
  if (p.from >= 0) {
    if (end + window_reach < p.from || event.start >= p.from + p.length + window_reach) return;
    p.events.push_back(event);
    return;
  }
  p.events.push_back(event);
  if (p.events.size() >= 8192) {
    // The kept samples reach up to two stretches back.
    const int64_t keep = p.seen - 2 * p.length - window_reach;
    std::erase_if(p.events, [keep](const WatchEvent& e) { return e.start + e.length < keep; });
  }
}

static std::string number_of(const TagRead& read) {
  const Field* number = field_find(read.fields, "number");
  return number ? number->text : "";
}

void plot_read(PlotStretch& p, const TagRead& read) {
  ++p.read_count;
  p.last_read = number_of(read);
  if (p.rolling) {
    const double keep = static_cast<double>(p.seen - rolling_keep(p)) / p.rate;
    std::erase_if(p.reads, [keep](const TagRead& r) { return r.time < keep; });
    p.reads.push_back(read);
    return;
  }
  const int64_t end = std::llround(read.time * p.rate);
  if (p.from < 0 || (end > p.from && end <= p.from + p.length + window_reach)) {
    p.reads.push_back(read);
    if (p.read_clock == 0) p.read_clock = read.clock;
  }
}

void plot_levels(PlotStretch& p, const LevelSpan& levels) {
  if (p.from >= 0) {
    if (levels.end > p.from && levels.start < p.from + p.length) p.levels.push_back(levels);
    return;
  }
  p.levels.push_back(levels);
  if (p.levels.size() >= 8192) {
    const int64_t keep = p.seen - 2 * p.length;
    std::erase_if(p.levels, [keep](const LevelSpan& l) { return l.end < keep; });
  }
}

static int64_t end_of(const PlotSymbol& s) {
  return s.end;
}

static int64_t end_of(const WatchedFrame& f) {
  return f.end;
}

// Keeps what reaches into the stretch once it is placed; until then (and in a rolling
// stretch) everything, dropping from time to time what lies behind the samples kept.
template <typename T>
static void keep_watched(PlotStretch& p, std::vector<T>& kept, const T& item, int64_t start,
                         size_t& limit) {
  if (p.from >= 0 && !p.rolling) {
    if (end_of(item) > p.from && start < p.from + p.length) kept.push_back(item);
    return;
  }
  kept.push_back(item);
  if (kept.size() < limit) return;
  // Unplaced, the kept samples reach up to two stretches back.
  const int64_t keep = p.rolling ? p.seen - rolling_keep(p) : p.seen - 2 * p.length;
  std::erase_if(kept, [keep](const T& t) { return end_of(t) < keep; });
  limit = std::max(limit, 2 * kept.size());
}

void plot_symbol(PlotStretch& p, const WatchedSymbol& symbol) {
  if (p.symbols.size() >= max_plot_symbols) {
    ++p.symbols_left_out;
    return;
  }
  const auto lane = static_cast<size_t>(symbol.lane);
  if (p.lanes.size() <= lane) p.lanes.resize(lane + 1);
  p.lanes[lane] = symbol.info;
  const Symbol& s = symbol.symbol;
  const PlotSymbol kept{
      symbol.start, s.end, s.margin, static_cast<int16_t>(symbol.lane), s.value, symbol.line_fault};
  keep_watched(p, p.symbols, kept, kept.start, p.symbol_limit);
}

void plot_frame(PlotStretch& p, const WatchedFrame& frame) {
  // A frame judged again, when the symbols around it have repeated, is shown once: with
  // what the rules said last. It is among the last few windows its lane tested.
  constexpr ptrdiff_t looked_back = 64;
  const auto newest = p.frames.rend();
  for (auto f = p.frames.rbegin(); f != newest && f - p.frames.rbegin() < looked_back; ++f) {
    if (f->lane == frame.lane && f->family == frame.family && f->start == frame.start &&
        f->end == frame.end && f->verdict == frame.verdict) {
      f->sure = frame.sure;
      return;
    }
  }
  keep_watched(p, p.frames, frame, frame.start, p.frame_limit);
}

namespace {

struct Builder {
  const PlotStretch& p;
  Layout& out;
  int64_t from;  ///< first sample of the stretch
  int64_t to;    ///< first sample behind it

  double ms(int64_t sample) const { return static_cast<double>(sample) * 1000.0 / p.rate; }
  bool shown(int64_t start, int64_t end) const { return end > from && start < to; }
  int32_t lane(LaneKind kind, bool inverted, int32_t rows, std::string name) {
    if (inverted && p.both_polarities) name += " (inverted)";
    out.lanes.push_back({kind, inverted, rows, std::move(name), {}});
    return static_cast<int32_t>(out.lanes.size()) - 1;
  }
  void mark(MarkKind kind, int32_t lane_index, int64_t start, int64_t end, double low, double high,
            std::string text = {}) {
    out.marks.push_back({kind, lane_index, ms(start), ms(end), low, high, std::move(text)});
  }
};

// The tested half-bits of one pass, in order, each with the pass it belongs to.
struct Tested {
  const WatchEvent* event;
  int64_t segment;  ///< counts the passes: a window never reaches into an earlier one
};

std::string format(const char* pattern, double value) {
  char text[32];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// The samples; the program's thresholds when its path sliced them.
void add_signal(Builder& b, bool sliced) {
  const int32_t lane = b.lane(LaneKind::signal, false, 1, "signal");
  if (sliced) {
    b.mark(MarkKind::dead_band, lane, b.from, b.to, low_threshold, high_threshold);
    for (const int8_t level : {low_threshold, high_threshold})
      b.mark(MarkKind::threshold, lane, b.from, b.to, level, level, format("%+.0f", level));
  }
  const int64_t skip = std::max<int64_t>(0, b.from - b.p.first);
  const int64_t end = std::min<int64_t>(b.to - b.p.first, static_cast<int64_t>(b.p.samples.size()));
  for (int64_t i = skip; i < end; ++i)
    b.out.trace.push_back(static_cast<int8_t>(b.p.samples[static_cast<size_t>(i)] - 128));
  b.mark(MarkKind::trace, lane, b.p.first + skip, b.p.first + std::max(skip, end), 0, 0);
  b.out.sample_ms = b.ms(1);
  // The levels measured at the data rate of the reads (or the default one), block by block.
  const int32_t clock = b.p.read_clock != 0 ? b.p.read_clock : b.p.clock;
  for (const LevelSpan& l : b.p.levels) {
    if (l.rate == clock && b.shown(l.start, l.end))
      b.mark(MarkKind::levels, lane, std::max(l.start, b.from), std::min(l.end, b.to), l.middle,
             l.swing);
  }
}

void add_runs(Builder& b, const std::vector<const WatchEvent*>& pass) {
  const int32_t lane = b.lane(LaneKind::runs, false, 1, "runs (samples)");
  b.mark(MarkKind::run_band, lane, b.from, b.to, min_run, long_run - 1, "one half-bit");
  b.mark(MarkKind::run_band, lane, b.from, b.to, long_run, max_run, "two half-bits");
  for (size_t i = 0; i < pass.size(); ++i) {
    const WatchEvent& e = *pass[i];
    const int64_t end = e.start + e.length;
    if (e.kind != WatchKind::run || !b.shown(e.start, end)) continue;
    // Upper or lower side of the band, whatever invert made of it.
    const bool high = (e.level != 0) != e.inverted;
    b.mark(high ? MarkKind::high_run : MarkKind::low_run, lane, e.start, end, e.length, e.length,
           std::to_string(e.length));
    const bool tested = i + 1 < pass.size() && pass[i + 1]->kind == WatchKind::check;
    if (!tested) b.mark(MarkKind::dropped, lane, e.start, end, e.length, e.length);
  }
}

// Rows of the windows lane: a window goes into the first row free `gap` before its start.
int32_t row_for(std::vector<int64_t>& row_ends, int64_t start, int64_t end, int64_t gap) {
  for (size_t r = 0; r < row_ends.size(); ++r) {
    if (row_ends[r] + gap <= start) {
      row_ends[r] = end;
      return static_cast<int32_t>(r);
    }
  }
  row_ends.push_back(end);
  return static_cast<int32_t>(row_ends.size()) - 1;
}

void add_pass(Builder& b, const std::vector<const WatchEvent*>& pass, bool inverted) {
  std::vector<Tested> tested;
  int64_t segment = 0;
  for (const WatchEvent* e : pass) {
    if (e->kind == WatchKind::block) ++segment;
    if (e->kind == WatchKind::check) tested.push_back({e, segment});
  }

  const int32_t half_lane = b.lane(LaneKind::half_bits, inverted, 1, "half-bits");
  const int32_t window_lane = b.lane(LaneKind::windows, inverted, 1, "header passed");
  const int32_t test_lane =
      b.lane(LaneKind::tests, inverted, static_cast<int32_t>(std::size(frame_check_reasons)),
             "frame tests");
  std::vector<int64_t> row_ends;
  for (size_t j = 0; j < tested.size(); ++j) {
    const WatchEvent& e = *tested[j].event;
    const int64_t end = e.start + e.length;
    if (b.shown(e.start, end))
      b.mark(MarkKind::half_bit, half_lane, e.start, end, e.level, e.level);
    if (end <= b.from) continue;
    const auto result = static_cast<double>(e.result);
    if (end <= b.to) b.mark(MarkKind::test, test_lane, end, end, result, result);
    if (e.result == FrameCheck::too_few || e.result == FrameCheck::header) continue;

    // The window's oldest half-bit, or the oldest still known of this pass.
    const auto last = static_cast<int64_t>(j);
    const int64_t true_start = last + 1 - ring_size;
    auto oldest = static_cast<size_t>(std::max<int64_t>(true_start, 0));
    while (tested[oldest].segment != tested[j].segment) ++oldest;
    // A row holds the next window only some way behind the last one's label.
    if (!b.shown(tested[oldest].event->start, end)) continue;
    const int32_t row = row_for(row_ends, tested[oldest].event->start, end, b.p.length / 10);
    b.mark(MarkKind::window, window_lane, tested[oldest].event->start, end, row, result,
           reason_of(e.result).label);
    // Pairs counted from the window's true start, so that bits keep their places; the
    // first equal pair is where the Manchester test stopped.
    for (int64_t k = true_start; k < last; k += 2) {
      if (k < static_cast<int64_t>(oldest)) continue;
      const WatchEvent& a = *tested[static_cast<size_t>(k)].event;
      const WatchEvent& c = *tested[static_cast<size_t>(k) + 1].event;
      const MarkKind kind = a.level == c.level ? MarkKind::bit_invalid
                            : a.level == 0     ? MarkKind::bit_one
                                               : MarkKind::bit_zero;
      if (b.shown(a.start, c.start + c.length))
        b.mark(kind, window_lane, a.start, c.start + c.length, row, row);
      if (kind == MarkKind::bit_invalid) break;
    }
  }
  b.out.lanes[static_cast<size_t>(window_lane)].rows =
      std::max<int32_t>(1, static_cast<int32_t>(row_ends.size()));
}

constexpr int32_t max_frame_rows = 6;  ///< rows of the frames lane; frames beyond are left out

// The window of the tolerant path that made `read`, or null.
const WatchedFrame* frame_of(const PlotStretch& p, const TagRead& read) {
  for (const WatchedFrame& f : p.frames)
    if (f.end == read.end && f.family == read.family && f.sure == SureCheck::read &&
        f.verdict == frame_passed)
      return &f;
  return nullptr;
}

// The tolerant path's lane that matters in the stretch: the lane of its first read, else
// the one where most windows were tested, else the one whose margins are steadiest (the
// clearest signal: each demodulator has its own unit of margin, but their spread is
// unitless). -1 without symbols there.
int32_t chosen_lane(const Builder& b) {
  for (const TagRead& read : b.p.reads) {
    const WatchedFrame* f = frame_of(b.p, read);
    if (f && read.end > b.from && read.end <= b.to) return f->lane;
  }
  std::vector<int64_t> frames;
  for (const WatchedFrame& f : b.p.frames) {
    if (!b.shown(f.start, f.end)) continue;
    frames.resize(std::max<size_t>(frames.size(), static_cast<size_t>(f.lane) + 1));
    ++frames[static_cast<size_t>(f.lane)];
  }
  if (!frames.empty())
    return static_cast<int32_t>(std::max_element(frames.begin(), frames.end()) - frames.begin());
  struct Spread {
    double n, sum, squares;
  };
  std::vector<Spread> lanes;
  for (const PlotSymbol& s : b.p.symbols) {
    if (!b.shown(s.start, s.end)) continue;
    lanes.resize(std::max<size_t>(lanes.size(), static_cast<size_t>(s.lane) + 1));
    Spread& l = lanes[static_cast<size_t>(s.lane)];
    l.n += 1;
    l.sum += s.margin;
    l.squares += static_cast<double>(s.margin) * s.margin;
  }
  int32_t best = -1;
  double steadiest = -1;
  for (size_t i = 0; i < lanes.size(); ++i) {
    const Spread& l = lanes[i];
    if (l.n < 2) continue;
    const double mean = l.sum / l.n;
    const double spread = std::sqrt(std::max(0.0, l.squares / l.n - mean * mean));
    const double steadiness = mean / std::max(spread, 1e-9 * mean + 1e-30);
    if (steadiness > steadiest) {
      steadiest = steadiness;
      best = static_cast<int32_t>(i);
    }
  }
  return best;
}

// "ASK Manchester, RF/64", "FSK (fc/8, fc/10), RF/50", "..., RF/32 of 134.2 kHz".
std::string lane_note(const LaneInfo& info) {
  std::string note =
      std::string(modulation_name(info.modulation)) + ", RF/" + std::to_string(info.rate);
  if (info.field_hz != field_hz) note += format(" of %.1f kHz", info.field_hz / 1e3);
  return note;
}

// The symbols of `lane`, each a cell as high as its margin is against the lane's clear
// ones (the tenth largest in a hundred), its faults of line code marked.
void add_symbols(Builder& b, int32_t lane) {
  std::vector<const PlotSymbol*> shown;
  for (const PlotSymbol& s : b.p.symbols)
    if (s.lane == lane && b.shown(s.start, s.end)) shown.push_back(&s);
  const int32_t index = b.lane(LaneKind::symbols, false, 1, "symbols");
  if (shown.empty()) return;
  b.out.lanes.back().note = lane_note(b.p.lanes[static_cast<size_t>(lane)]);
  // A stretch too long to keep every symbol shows where the kept ones end.
  if (b.p.symbols_left_out > 0)
    b.out.lanes.back().name = format("symbols to %.1f s", b.ms(b.p.symbols.back().end) / 1000);
  std::vector<float> margins;
  for (const PlotSymbol* s : shown) margins.push_back(s->margin);
  const auto clear = margins.begin() + static_cast<ptrdiff_t>(margins.size() * 9 / 10);
  std::nth_element(margins.begin(), clear, margins.end());
  const double full = *clear > 0 ? *clear : 1;
  for (const PlotSymbol* s : shown) {
    b.mark(MarkKind::symbol, index, s->start, s->end, s->value, std::min(1.0, s->margin / full));
    if (s->line_fault) b.mark(MarkKind::line_fault, index, s->start, s->end, 0, 0);
  }
}

// The windows tested on `lane`, bracketed in rows: those that passed their family's checks
// first, so that no row limit hides them.
void add_frames(Builder& b, int32_t lane) {
  const int32_t index = b.lane(LaneKind::frames, false, 1, "frames tested");
  std::vector<const WatchedFrame*> shown;
  for (const WatchedFrame& f : b.p.frames)
    if (f.lane == lane && b.shown(f.start, f.end)) shown.push_back(&f);
  std::stable_partition(shown.begin(), shown.end(),
                        [](const WatchedFrame* f) { return f->verdict == frame_passed; });
  std::vector<int64_t> row_ends;
  int64_t left_out = 0;
  for (const WatchedFrame* f : shown) {
    int32_t row = -1;
    for (size_t r = 0; r < row_ends.size() && row < 0; ++r) {
      if (row_ends[r] <= f->start) row = static_cast<int32_t>(r);
    }
    if (row < 0 && static_cast<int32_t>(row_ends.size()) < max_frame_rows) {
      row = static_cast<int32_t>(row_ends.size());
      row_ends.push_back(0);
    }
    if (row < 0) {
      ++left_out;
      continue;
    }
    row_ends[static_cast<size_t>(row)] = f->end;
    const bool passed = f->verdict == frame_passed;
    const char* why = passed ? sure_check_reasons[static_cast<int>(f->sure)].label
                      : f->verdict < f->family->reason_count ? f->family->reasons[f->verdict]
                                                             : "?";
    b.mark(MarkKind::frame, index, f->start, f->end, row,
           passed ? static_cast<double>(f->sure) : -1.0,
           std::string(f->family->title) + ": " + why);
  }
  Lane& l = b.out.lanes[static_cast<size_t>(index)];
  l.rows = std::max<int32_t>(1, static_cast<int32_t>(row_ends.size()));
  l.note = left_out > 0 ? std::to_string(left_out) + " more not shown" : "";
}

// Brackets every frame read that overlaps the stretch; returns the number that end in it.
size_t add_reads(Builder& b, const std::vector<const WatchEvent*> (&passes)[2]) {
  const int32_t lane = b.lane(LaneKind::reads, false, 1, "reads");
  size_t shown = 0;
  for (const TagRead& read : b.p.reads) {
    const int64_t end = read.end;
    if (end <= b.from) continue;
    if (end <= b.to) ++shown;
    // The frame starts with the window's oldest half-bit, 128 tests back in its pass.
    int64_t start = end;
    int32_t back = 0;
    const auto& pass = passes[read.inverted ? 1 : 0];
    for (auto it = pass.rbegin(); it != pass.rend(); ++it) {
      const WatchEvent& e = **it;
      if (e.kind == WatchKind::block && back > 0) break;
      if (e.kind != WatchKind::check || e.start >= end) continue;
      start = e.start;
      if (++back == ring_size) break;
    }
    // Without passes, the frame starts where its window did, or as long before its end as
    // its symbols last at the period measured.
    if (const WatchedFrame* f = start == end ? frame_of(b.p, read) : nullptr) start = f->start;
    if (start == end && read.measured)
      start = end - std::llround(read.frame.count * read.measure.symbol_samples);
    if (b.shown(start, end))
      b.mark(MarkKind::read, lane, start, end, read.repeat, read.repeat, number_of(read));
  }
  return shown;
}

}  // namespace

Layout plot_layout(const PlotStretch& p) {
  Layout out;
  const int64_t from = p.from >= 0 ? p.from : p.first;
  Builder b{p, out, from, from + p.length};
  out.from = b.ms(b.from);
  out.to = b.ms(b.to);

  // The events of each polarity's passes, in order: passes of both alternate by block.
  std::vector<const WatchEvent*> passes[2];
  for (const WatchEvent& e : p.events) passes[e.inverted ? 1 : 0].push_back(&e);
  // Only the program's path slices: without its events there are no runs, half-bits or
  // windows to show.
  const bool sliced = !p.events.empty();
  add_signal(b, sliced);
  if (sliced) {
    add_runs(b, passes[p.first_inverted ? 1 : 0]);
    for (const bool inverted : {false, true}) {
      if (p.both_polarities || inverted == p.first_inverted)
        add_pass(b, passes[inverted ? 1 : 0], inverted);
    }
  }
  // The tolerant path's decisions, on the lane that matters.
  if (!p.symbols.empty()) {
    const int32_t lane = chosen_lane(b);
    add_symbols(b, lane);
    add_frames(b, lane);
  }
  const size_t reads = add_reads(b, passes);
  for (const WatchEvent* e : passes[p.first_inverted ? 1 : 0]) {
    if (e->kind == WatchKind::block && e->start >= b.from && e->start < b.to)
      b.mark(MarkKind::block, -1, e->start, e->start, 0, 0);
  }

  char title[512];
  std::snprintf(title, sizeof title, "%s  |  %s  |  %zu read%s ending in %.1f to %.1f ms",
                p.file.c_str(), p.facts.c_str(), reads, reads == 1 ? "" : "s", out.from, out.to);
  out.title = title;
  out.hint = p.hint;
  if (p.read_count > 0) {
    out.outcome = "read " + p.last_read + ": " + std::to_string(p.read_count) + " frame" +
                  (p.read_count == 1 ? "" : "s") +
                  (p.rolling ? " so far" : " in the whole recording");
  }
  return out;
}

Layout plot_last(const PlotStretch& p, int64_t end) {
  PlotStretch last = p;
  last.from = std::max(p.first, end - p.length);
  return plot_layout(last);
}

}  // namespace tavrel
