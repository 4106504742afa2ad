#pragma once
// A recording through the decoding path, fed block by block exactly as the capture worker
// feeds it, optionally watched so that each read gets its time and every run and frame
// test is counted; or, for signals the program's thresholds miss, through the tolerant
// path, whose sure reads go to the same read register and console log.

#include <cstdint>
#include <functional>

#include "capture/wave_capture.hpp"
#include "decode/half_bit_ring.hpp"
#include "frontend/slice_pass.hpp"
#include "io/sound_in.hpp"
#include "lf/demod/ask_manchester.hpp"

namespace tavrel {

constexpr int32_t invert_auto = -1;  ///< slice every block in both polarities
constexpr int32_t counted_run = 64;  ///< runs this long and longer share the last bin

struct DecodeOptions {
  int32_t invert = 0;             ///< 0, 1 or invert_auto
  bool parity = true;             ///< the row and column parity tests
  bool watch = false;             ///< time each read and count runs and frame tests
  bool watch_until_read = false;  ///< drop the watch at the first read: only the counts of
                                  ///< a decode that reads nothing are wanted
  bool levels = false;            ///< count samples by value too
  double rate = sample_rate;      ///< samples per second reaching the slicer, for read times
  bool robust = false;            ///< the tolerant path instead of the program's
};

struct DecodeStats {
  int64_t runs[2][counted_run + 1];   ///< [0] low, [1] high runs by length in samples
  int64_t checks[frame_check_count];  ///< frame tests by FrameCheck result
  int64_t levels[256];                ///< samples by unsigned value (128 = middle)
  int64_t samples;                    ///< samples handed in
  int64_t blocks;                     ///< passes of the block feeder
  RobustClockStats robust;            ///< the tolerant path's decisions, all clocks summed
};

/// One recognised frame, as the watch saw it.
struct Read {
  double time;     ///< seconds from the start to the end of the frame's last half-bit
  Frame frame;     ///< the frame's 64 bits and number
  int32_t repeat;  ///< repeat_count of the read register after this read
  bool inverted;   ///< found with the signal taken upside down
  /// Only from the tolerant path: how the signal was found.
  const RobustRead* robust;
};

/// What the watch saw, placed in time, for a tool that shows it.
enum class WatchKind : uint8_t {
  block,  ///< a pass began: the window was emptied
  run,    ///< the slicer reported a run, dropped or not
  check,  ///< a half-bit was stored and the window ending with it tested
};

struct WatchEvent {
  WatchKind kind;
  bool inverted;      ///< the pass slices with invert set
  int64_t start;      ///< sample index from the start: the pass's first sample, the run's
                      ///< first sample, or the tested half-bit's first sample
  int32_t length;     ///< samples in the run or the half-bit; 0 for a block
  int32_t level;      ///< the run's or half-bit's level as push_run took it
  FrameCheck result;  ///< check only: the window's test
};

struct Decoding {
  DecodeOptions options;
  std::function<void(const Read&)> on_read;            ///< each read, when watched
  std::function<void(const WatchEvent&)> on_event;     ///< every pass, run and test, when watched
  std::function<void(const RobustLevels&)> on_levels;  ///< the tolerant path's levels, if set
                                                       ///< before the stream starts
  DecodeStats stats;

  ChannelBuffers buffers;                          ///< as the worker's; the left one stays unused
  uint8_t inverted[carry_samples + block_frames];  ///< a copy of right for the second polarity
  int32_t filled;  ///< new samples stored behind the carried ones so far
  int64_t fed;     ///< samples in earlier blocks

  // Where the slicer is, rebuilt from the runs it reports.
  int64_t position;    ///< sample index (from the start) where the next run begins
  int64_t pass_runs;   ///< runs reported in this pass: even ones are high, odd ones low
  int64_t run_start;   ///< first sample of the last run
  int32_t run_length;  ///< samples in the last run
  int32_t run_halves;  ///< half-bits of the last run tested so far
  bool pass_inverted;  ///< this pass slices with invert set
  bool pass_counted;   ///< this pass counts its runs (the first of a block's passes)
  DecodeWatch watch;

  RobustDecoder robust;  ///< the tolerant path, when options.robust
  double robust_rate;    ///< its stream's samples per second; 0 until the stream starts
};

/// Starts a recording as the program starts: empty read register, empty carry, the
/// parity option set. The watch, if asked for, is in place until decoding_end.
void decoding_begin(Decoding& d, const DecodeOptions& options);

/// Takes the next `n` samples of the analysed channel; slices each full block.
void decoding_take(Decoding& d, const uint8_t* samples, int32_t n);

/// The place for the next samples of the analysed channel, straight in the block being
/// filled; sets `n` to how many fit (at least 1).
uint8_t* decoding_room(Decoding& d, int32_t& n);

/// `n` samples were written at the place decoding_room gave; slices the block when full.
void decoding_filled(Decoding& d, int32_t n);

/// The stream's own rate is known: the tolerant path decodes at it. Before any samples.
void decoding_start(Decoding& d, int rate);

/// Both ways of taking samples, for read_sound.
SampleSink decoding_sink(Decoding& d);

/// Slices the last, partial block and removes the watch.
void decoding_end(Decoding& d);

}  // namespace tavrel
