#pragma once
// One input through a decoding path: the program's own, fed block by block exactly as the
// capture worker feeds it (optionally watched, so that each read gets its time and every
// run and frame test is counted), or the tolerant path at the input's own rate. Both hand
// their reads on as records of the same kind.

#include <cstdint>
#include <functional>
#include <memory>

#include "capture/wave_capture.hpp"
#include "frontend/slice_pass.hpp"
#include "io/sound_in.hpp"
#include "lf/decoder.hpp"
#include "report/stats.hpp"
#include "report/watch.hpp"

namespace tavrel {

constexpr int32_t invert_auto = -1;  ///< slice every block in both polarities

struct DecodeOptions {
  bool tolerant = false;              ///< the tolerant path instead of the program's
  FamilySet families = every_family;  ///< tolerant path: the families looked for
  int32_t invert = 0;                 ///< program's path: 0, 1 or invert_auto
  bool parity = true;                 ///< program's path: the row and column parity tests
  bool watch = false;                 ///< program's path: time each read, count runs and tests
  bool watch_until_read = false;      ///< drop the watch at the first read: only the counts of
                                      ///< a decode that reads nothing are wanted
  bool levels = false;                ///< count samples by value too
  double rate = sample_rate;          ///< program's path: samples per second reaching the slicer
};

struct Decoding {
  DecodeOptions options;
  std::function<void(TagRead&)> on_read;            ///< each read (the program's: when watched)
  std::function<void(const WatchEvent&)> on_event;  ///< program's path: every pass, run, test
  std::function<void(const LevelSpan&)> on_levels;  ///< tolerant path: levels, if set before
                                                    ///< the stream starts
  // The tolerant path's decisions, if either is set before the stream starts.
  std::function<void(const WatchedSymbol&)> on_symbol;  ///< every symbol of every lane
  std::function<void(const WatchedFrame&)> on_frame;    ///< every window tested
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

  std::unique_ptr<TolerantDecoder> tolerant;  ///< the tolerant path, when chosen
  TolerantWatch tolerant_watch;               ///< its watch, calling on_symbol and on_frame
  double stream_rate;  ///< samples per second of the tolerant path's stream; 0 until known
};

/// Starts an input as the program starts: empty read register, empty carry, the parity
/// option set; or an empty tolerant decoder. The watch, if asked for, is in place until
/// decoding_end.
void decoding_begin(Decoding& d, const DecodeOptions& options);

/// Takes the next `n` samples of the analysed channel.
void decoding_take(Decoding& d, const uint8_t* samples, int32_t n);

/// The place for the next samples of the analysed channel, straight in the block being
/// filled; sets `n` to how many fit (at least 1).
uint8_t* decoding_room(Decoding& d, int32_t& n);

/// `n` samples were written at the place decoding_room gave.
void decoding_filled(Decoding& d, int32_t n);

/// The stream's own rate is known: the tolerant path decodes at it. Before any samples.
void decoding_start(Decoding& d, int rate);

/// Both ways of taking samples, for read_sound.
SampleSink decoding_sink(Decoding& d);

/// Slices the last, partial block, takes the tolerant path's counts and removes the watch.
void decoding_end(Decoding& d);

}  // namespace tavrel
