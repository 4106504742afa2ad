#include "cli/decode_run.hpp"

#include <algorithm>
#include <cstring>

#include "decode/read_register.hpp"
#include "frontend/level_slicer.hpp"
#include "lf/families/em4100.hpp"
#include "lf/family_table.hpp"

namespace tavrel {

static void watch_run(void* context, int32_t level, int32_t run_length) {
  Decoding& d = *static_cast<Decoding*>(context);
  // Runs alternate high, low from the first rising crossing, whatever invert says; the
  // slicer steps over the sample that ends a low run.
  const bool high = (d.pass_runs++ & 1) == 0;
  d.run_start = d.position;
  d.run_length = run_length;
  d.run_halves = 0;
  d.position += run_length + (high ? 0 : 1);
  if (d.pass_counted) ++d.stats.program.runs[high][std::clamp(run_length, 0, counted_run)];
  if (d.on_event)
    d.on_event(
        {WatchKind::run, d.pass_inverted, d.run_start, run_length, level, FrameCheck::too_few});
}

// A frame of the program's path as a read of the EM4100 family: the family's fields come
// from the frame the program's own test passed.
static void program_read(Decoding& d, const Frame& frame, int64_t end) {
  TagRead read;
  read.family = &family_em4100;
  read.frame = FrameBits{};
  frame_append(read.frame, frame.bits, 64);
  read.fields.count = 0;
  em4100_fields(frame.bits, read.fields);  // checked as the program's options say
  read.end = end;
  read.time = static_cast<double>(end) / d.options.rate;
  read.clock = static_cast<int32_t>(std::lround(64.0 * sample_rate / d.options.rate));
  read.inverted = d.pass_inverted;
  read.measured = false;
  read.measure = SignalMeasure{};
  read.reader = 0;
  read.repeat = 0;
  read.wall[0] = 0;
  d.on_read(read);
}

static void watch_check(void* context, FrameCheck result, const Frame& frame) {
  Decoding& d = *static_cast<Decoding*>(context);
  ++d.stats.program.checks[static_cast<int>(result)];
  ++d.run_halves;
  // The first half-bit of a long run ends halfway through it.
  const bool first_of_two = d.run_halves == 1 && d.run_length >= long_run;
  const int64_t end = d.run_start + (first_of_two ? d.run_length / 2 : d.run_length);
  if (d.on_event) {
    const int64_t start = d.run_halves == 2 ? d.run_start + d.run_length / 2 : d.run_start;
    d.on_event({WatchKind::check, d.pass_inverted, start, static_cast<int32_t>(end - start),
                half_bit_ring.levels[(half_bit_ring.write_index + ring_size - 1) % ring_size],
                result});
  }
  if (result == FrameCheck::ok && d.on_read) program_read(d, frame, end);
}

static void tolerant_read(void* context, const TagRead& read) {
  Decoding& d = *static_cast<Decoding*>(context);
  if (!d.on_read) return;
  TagRead copy = read;
  d.on_read(copy);
}

static void tolerant_levels(void* context, const LevelSpan& span) {
  static_cast<Decoding*>(context)->on_levels(span);
}

static void tolerant_symbol(void* context, const WatchedSymbol& symbol) {
  Decoding& d = *static_cast<Decoding*>(context);
  if (d.on_symbol) d.on_symbol(symbol);
}

static void tolerant_frame(void* context, const WatchedFrame& frame) {
  Decoding& d = *static_cast<Decoding*>(context);
  if (d.on_frame) d.on_frame(frame);
}

void decoding_begin(Decoding& d, const DecodeOptions& options) {
  d.options = options;
  d.stats = {};
  d.stream_rate = 0;
  d.buffers.carry = 0;
  d.filled = 0;
  d.fed = 0;
  decode_restart();
  parity_check = options.parity ? 1 : 0;
  d.watch = {watch_run, watch_check, &d};
  decode_watch = options.watch && !options.tolerant ? &d.watch : nullptr;
  if (options.tolerant && !d.tolerant) d.tolerant = std::make_unique<TolerantDecoder>();
}

// Places the runs of the pass about to start in time: the first begins at `origin`.
// `first` is the pass's first sample.
static void start_pass(Decoding& d, int64_t first, int64_t origin, bool inverted, bool counted) {
  if (d.on_event) d.on_event({WatchKind::block, inverted, first, 0, 0, FrameCheck::too_few});
  d.position = origin;
  d.pass_runs = 0;
  d.pass_inverted = inverted;
  d.pass_counted = counted;
}

// One pass of the worker's loop over the block in `right`.
static void feed(Decoding& d) {
  ChannelBuffers& b = d.buffers;
  const int32_t n = d.filled;
  const int32_t len = b.carry + n - carry_samples;
  const bool both = d.options.invert == invert_auto;
  if (both) std::memcpy(d.inverted, b.right, static_cast<size_t>(b.carry + n));
  const bool inverted = d.options.invert == 1;
  // right[x] is sample fed - carry + x of the recording.
  const int64_t first = d.fed - b.carry;
  const int64_t origin = d.options.watch ? first + slice_start(b.right, std::max(len, 0)) : 0;
  if (d.options.watch) start_pass(d, first, origin, inverted, true);
  slice_pass(b, n, inverted ? 1 : 0);
  if (both) {
    // An upside-down frame fails every row parity, so the wrong polarity reads nothing.
    if (d.options.watch) start_pass(d, first, origin, true, false);
    slice_block(d.inverted, len, 1);
  }
  d.fed += n;
  d.filled = 0;
  ++d.stats.program.blocks;
  // Between blocks, never inside push_run, which calls the watch once more per long run.
  if (d.options.watch_until_read && d.stats.program.checks[static_cast<int>(FrameCheck::ok)] > 0)
    decode_watch = nullptr;
}

void decoding_start(Decoding& d, int rate) {
  d.stream_rate = rate;
  if (!d.options.tolerant) return;
  tolerant_begin(*d.tolerant, rate, d.options.families, tolerant_read, &d);
  if (d.on_levels) tolerant_watch_levels(*d.tolerant, tolerant_levels);
  if (d.on_symbol || d.on_frame) {
    d.tolerant_watch = {tolerant_symbol, tolerant_frame, &d};
    tolerant_watch_decisions(*d.tolerant, &d.tolerant_watch);
  }
}

uint8_t* decoding_room(Decoding& d, int32_t& n) {
  n = block_frames - d.filled;
  return d.buffers.right + d.buffers.carry + d.filled;
}

void decoding_filled(Decoding& d, int32_t n) {
  uint8_t* samples = d.buffers.right + d.buffers.carry + d.filled;
  d.stats.samples += n;
  if (d.options.levels) {
    for (int32_t i = 0; i < n; ++i) ++d.stats.levels[samples[i]];
  }
  if (d.options.tolerant) {
    // No blocks on this path: samples are decoded as they come, reads as frames end.
    if (d.stream_rate == 0) decoding_start(d, sample_rate);
    tolerant_take(*d.tolerant, samples, n);
    return;
  }
  d.filled += n;
  if (d.filled == block_frames) feed(d);
}

void decoding_take(Decoding& d, const uint8_t* samples, int32_t n) {
  while (n > 0) {
    int32_t room = 0;
    uint8_t* to = decoding_room(d, room);
    const int32_t take = std::min(n, room);
    std::memcpy(to, samples, static_cast<size_t>(take));
    decoding_filled(d, take);
    samples += take;
    n -= take;
  }
}

SampleSink decoding_sink(Decoding& d) {
  return {[&d](const uint8_t* samples, int32_t n) { decoding_take(d, samples, n); },
          [&d](int32_t& n) { return decoding_room(d, n); },
          [&d](int32_t n) { decoding_filled(d, n); }, [&d](int rate) { decoding_start(d, rate); },
          nullptr};
}

void decoding_end(Decoding& d) {
  if (d.filled > 0) feed(d);
  if (d.options.tolerant && d.stream_rate > 0) stats_take(d.stats.tolerant, *d.tolerant);
  decode_watch = nullptr;
}

}  // namespace tavrel
