#pragma once
// Sound files as the slicer wants them: one channel, 8-bit unsigned samples (128 = the
// middle level), at a chosen rate. libsndfile reads the file, libsamplerate converts.

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tavrel {

/// What was read, for the diagnostics.
struct SoundFacts {
  bool opened = false;      ///< the file was opened and its samples went out
  int file_rate = 0;        ///< samples per second in the file
  int channels = 0;         ///< channels in the file
  int64_t file_frames = 0;  ///< sample frames read from the file
  int32_t peak = 0;         ///< largest distance from the middle on the analysed channel, of 128
  int32_t other_peak = -1;  ///< the same on the other channel of a stereo file; -1 for mono
  int64_t nan_samples = 0;  ///< NaN samples on the analysed channel, taken as the middle level
};

/// Receives the samples in pieces, in order: handed over by `take`, or, where the file
/// holds them as they are wanted, written straight into the receiver's own buffer.
struct SampleSink {
  std::function<void(const uint8_t* samples, int32_t n)> take;
  /// The place for the next samples; sets `n` to how many fit there (at least 1).
  std::function<uint8_t*(int32_t& n)> room;
  /// `n` samples were written at the place that `room` gave.
  std::function<void(int32_t n)> filled;
  /// The rate of the samples to come, once known; before the first of them.
  std::function<void(int rate)> start;
  /// Asked after each piece: true ends the reading there, as if the input had ended.
  std::function<bool()> stopped;
};

/// A channel handed on to a sink of its own, beside the analysed one.
struct ChannelSink {
  int channel;  ///< 0 the first
  SampleSink sink;
};

/// Reads channel `channel` (0 left, 1 right; a one-channel file gives its only channel)
/// of the sound file at `path`, converted to `rate` samples/s (0: kept at the file's own),
/// and hands it to `take`.
/// A `raw` file has no header and holds 8-bit unsigned stereo at sample_rate, as captured.
/// A pipe or standard input is read in pieces of a fiftieth of a second, each handed on
/// as soon as it is in.
/// With `read_ahead`, an 8-bit file at the right rate is read on a second thread while
/// this one decodes: faster when a core is free, dearer in processor time.
/// With `more`, each of those channels goes to its own sink as well, piece for piece with
/// the analysed one: several readers of one input; a channel the file lacks is an error.
/// Returns "" or a message saying what went wrong; a truncated file has its samples
/// handed over before the message is returned.
std::string read_sound(const char* path, int channel, int rate, bool raw, const SampleSink& take,
                       SoundFacts& facts, bool read_ahead = false,
                       const std::vector<ChannelSink>& more = {});

/// One float sample of full scale -1..1 as an unsigned 8-bit sample, rounded, clipped;
/// NaN is the middle level. An 8-bit file comes back exactly as it was written.
inline uint8_t to_u8(float x) {
  if (std::isnan(x)) return 128;
  const float v = x * 128.0f + 128.5f;
  if (v <= 0.0f) return 0;
  if (v >= 255.0f) return 255;
  return static_cast<uint8_t>(v);
}

}  // namespace tavrel
