#pragma once
// A picture of one stretch of a recording as plain data: lanes one above the other, and
// marks in them, each with its time and kind. Built from what the decoder's watch saw,
// so that the drawing shows the decoder's own view and can be tested without pixels.

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "decode/half_bit_ring.hpp"
#include "lf/read.hpp"
#include "lf/tolerant_watch.hpp"
#include "report/reasons.hpp"
#include "report/watch.hpp"

namespace tavrel {

constexpr double default_plot_seconds = 0.1;  ///< about three frames at RF/64
constexpr int32_t signal_steps = 4;           ///< mean steps from the middle that count as signal
constexpr int32_t shown_run = 40;             ///< samples; longer runs are drawn at this height

/// A symbol of the tolerant path as a picture keeps it.
struct PlotSymbol {
  int64_t start;    ///< stream sample where it began
  int64_t end;      ///< stream sample just after it
  float margin;     ///< Symbol::margin
  int16_t lane;     ///< its search lane
  uint8_t value;    ///< 0 or 1
  bool line_fault;  ///< WatchedSymbol::line_fault
};

/// Symbols a stretch keeps at most (about 100 MB); a longer stretch shows the first ones.
constexpr size_t max_plot_symbols = size_t{1} << 22;

/// What the decoder saw of one stretch, gathered while a recording is decoded.
struct PlotStretch {
  std::string file;
  std::string facts;               ///< the title's middle: rate, path and its settings
  double rate;                     ///< samples per second of the decoded stream
  bool both_polarities;            ///< the program's path slices every block both ways
  bool first_inverted;             ///< its first (or only) pass slices with invert set
  int32_t clock;                   ///< the data rate whose levels are drawn before a read
  int64_t from;                    ///< first sample of the stretch; -1 until signal is found
  int64_t length;                  ///< samples in the stretch
  int64_t first;                   ///< sample index of samples[0]
  int64_t seen;                    ///< samples of the recording taken so far
  int64_t level_sum;               ///< steps from the middle, summed over this millisecond
  std::vector<uint8_t> samples;    ///< the analysed channel, unsigned, as taken
  std::vector<WatchEvent> events;  ///< passes, runs and tests in and just before the stretch
  std::vector<TagRead> reads;      ///< reads whose frame ends in the stretch
  std::string hint;                ///< why the whole recording gave no read, if it did not
  int64_t read_count;              ///< reads in the whole recording
  bool rolling;                    ///< keep only the latest stretch, for plot_last
  size_t event_limit;              ///< rolling: events kept before old ones are dropped
  std::string last_read;           ///< the number of the last of them, "id_high.id_low"
  double from_seconds;             ///< as asked, for plot_rate
  double seconds;
  std::vector<LevelSpan> levels;     ///< measured by the tolerant path, in and around the stretch
  int32_t read_clock;                ///< RF/n of the first read kept; 0 before one
  std::vector<PlotSymbol> symbols;   ///< the tolerant path's, of every lane, in and around it
  std::vector<LaneInfo> lanes;       ///< what each of its lanes carries, by search lane
  std::vector<WatchedFrame> frames;  ///< the windows it tested there
  size_t symbol_limit;               ///< unplaced: symbols kept before old ones are dropped
  size_t frame_limit;                ///< and frames
  int64_t symbols_left_out;          ///< beyond max_plot_symbols
};

/// How a stretch is decoded, for its title and lanes.
struct PlotSetting {
  std::string facts;  ///< the title's middle: rate, path and its settings
  double rate;        ///< samples per second of the decoded stream; 0 until known
  int32_t invert;     ///< the program's path: 0, 1, or -1 for both polarities
  int32_t clock;      ///< the data rate whose levels are drawn before a read
};

/// Starts gathering a stretch of `seconds` from `from_seconds`; when that is negative,
/// from 2 ms before the first millisecond whose samples lie signal_steps or more from the
/// middle on average (or, without one, the last stretch).
void plot_begin(PlotStretch& p, const std::string& file, const PlotSetting& setting,
                double from_seconds, double seconds);

/// Starts gathering for plot_last: only what the latest stretch of `seconds` needs is
/// kept, however long the input runs.
void plot_begin_rolling(PlotStretch& p, const std::string& file, const PlotSetting& setting,
                        double seconds);

/// The stream's rate is known (the tolerant path decodes at the file's own rate): places
/// the stretch at it. Before any samples; a stream whose rate is never told is taken at
/// the sound input's.
void plot_rate(PlotStretch& p, double rate);

/// Takes the next `n` samples of the analysed channel, before the decoder gets them.
void plot_take(PlotStretch& p, const uint8_t* samples, int32_t n);

/// Takes one event or read of the watch.
void plot_event(PlotStretch& p, const WatchEvent& event);
void plot_read(PlotStretch& p, const TagRead& read);
void plot_levels(PlotStretch& p, const LevelSpan& levels);
void plot_symbol(PlotStretch& p, const WatchedSymbol& symbol);
void plot_frame(PlotStretch& p, const WatchedFrame& frame);

enum class LaneKind : uint8_t {
  signal,     ///< samples in signed steps, thresholds, dead band
  runs,       ///< run lengths in samples
  half_bits,  ///< the levels stored in the window
  windows,    ///< windows whose header passed, with their 64 bits; one row each at a time
  tests,      ///< one row per test result
  reads,      ///< frames read
  symbols,    ///< the symbols decided on one lane of the tolerant path
  frames,     ///< the windows tested on that lane; one row each at a time
};

struct Lane {
  LaneKind kind;
  bool inverted;     ///< half_bits, windows, tests: of the pass with invert set
  int32_t rows;      ///< rows of windows or tests
  std::string name;  ///< shown beside the lane
  std::string note;  ///< a second line under the name, or empty
};

enum class MarkKind : uint8_t {
  dead_band,    ///< signal: low..high in signed steps
  threshold,    ///< signal: a line at `low` signed steps
  levels,       ///< signal: the measured middle `low` and swing `high`, signed steps
  trace,        ///< signal: the samples (Layout::trace)
  block,        ///< every lane: a pass starts with an empty window at `start`
  run_band,     ///< runs: low..high samples taken as one (value 1) or two (2) half-bits
  high_run,     ///< runs: a run of `low` samples above the thresholds' band
  low_run,      ///< runs: the same below
  dropped,      ///< runs: the run over the same span was dropped
  half_bit,     ///< half_bits: level `low`
  window,       ///< windows: in row `low`, tested with result `high`
  bit_one,      ///< windows: a (0,1) pair in row `low`
  bit_zero,     ///< windows: a (1,0) pair in row `low`
  bit_invalid,  ///< windows: an equal pair in row `low`: no bit
  test,         ///< tests: the window ending at `start` tested with result `low` (its row)
  read,         ///< reads: the frame read, `text` its number
  symbol,       ///< symbols: value `low`, margin `high` as a share (0..1) of the lane's clear ones
  line_fault,   ///< symbols: the line code is broken just before this symbol
  frame,        ///< frames: in row `low`, result `high`: the SureCheck of a frame that passed
                ///< its family's checks, -1 for one that failed them; `text` says which
};

struct Mark {
  MarkKind kind;
  int32_t lane;  ///< index into Layout::lanes; -1 for every lane
  double start;  ///< ms from the start of the recording
  double end;    ///< ms; equal to start for a moment
  double low;    ///< the kind's quantity, as its comment says
  double high;
  std::string text;  ///< a label, or empty
};

struct Layout {
  std::string title;
  std::string hint;     ///< why nothing was read; empty when there is nothing to say
  std::string outcome;  ///< what the whole recording gave when a tag was read, or empty
  double from;          ///< ms at the left edge
  double to;            ///< ms at the right edge
  std::vector<Lane> lanes;
  std::vector<Mark> marks;
  std::vector<int8_t> trace;  ///< signed samples, the first at `from`
  double sample_ms;           ///< ms between two samples of the trace
};

/// The lanes and marks for what `p` gathered.
Layout plot_layout(const PlotStretch& p);

/// The lanes and marks of the stretch that ends at sample `end` (the samples decoded so
/// far), from what plot_begin_rolling gathered.
Layout plot_last(const PlotStretch& p, int64_t end);

}  // namespace tavrel
