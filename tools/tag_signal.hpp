#pragma once
// Synthesized tag signals: the Manchester-coded 64-bit frames a reader front end puts
// on the sound input, as 8-bit unsigned samples (128 = middle level).

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "capture/wave_capture.hpp"

namespace tavrel {

/// Samples per bit of an RF/64 tag (125 kHz / 64) at the sound input's rate: 24.576.
constexpr double default_bit_samples = sample_rate / 1953.125;

/// The 64 frame bits for a 40-bit tag ID (first sent in bit 63), parities filled in.
uint64_t tag_frame(uint64_t id40);

/// Frame bit `index` (0 = first sent) as a mask for flipping it, e.g. to break a parity.
constexpr uint64_t frame_bit(int index) {
  return uint64_t{1} << (63 - index);
}

struct TagSignalOptions {
  double amplitude = 0.4;  ///< peak deviation from the middle, fraction of full scale
  double dc_offset = 0.0;  ///< shift of the whole signal, fraction of full scale
  double noise = 0.0;      ///< standard deviation of added noise, fraction of full scale
  double jitter = 0.0;     ///< largest shift of each edge, in samples
  double bit_samples = default_bit_samples;  ///< samples per bit
  bool invert = false;                       ///< send the signal upside down
};

/// Renders a signal continuously: edges keep their phase across calls.
struct TagSignal {
  TagSignalOptions options;
  std::mt19937 random{1};
  double time = 0.0;    ///< position of the next half-bit edge, in samples since start
  int64_t written = 0;  ///< samples emitted so far
};

/// Appends `frames` repetitions of `bits` to `out`.
void append_frames(TagSignal& signal, uint64_t bits, int frames, std::vector<uint8_t>& out);

/// Appends `samples` samples of the middle level, with the signal's noise and offset.
void append_silence(TagSignal& signal, int64_t samples, std::vector<uint8_t>& out);

/// Receives a rendered signal piece by piece, in order; returns false to stop rendering.
using SignalSink = std::function<bool(const uint8_t* samples, int32_t n)>;

/// Sends `bits` over and over for exactly `samples` samples, from where the signal
/// stands; the tag leaves the field wherever its last frame is. Hands the signal to
/// `sink` one frame at a time, so memory stays that of one frame whatever the length.
/// Returns false when the sink stopped it.
bool render_tag(TagSignal& signal, uint64_t bits, int64_t samples, const SignalSink& sink);

/// The samples in `seconds` at `rate` samples per second, rounded to the nearest.
int64_t seconds_to_samples(double seconds, int32_t rate = sample_rate);

/// `bits` sent over and over for `seconds` at the sound input's rate (render_tag into
/// memory), from where the signal stands: the tag signal for tests, benches and feeders.
std::vector<uint8_t> tag_seconds(TagSignal& signal, uint64_t bits, double seconds);

/// `samples` samples of the middle level, with the signal's noise and offset, handed to
/// `sink` in blocks. Returns false when the sink stopped it.
bool render_silence(TagSignal& signal, int64_t samples, const SignalSink& sink);

/// Interleaves a mono signal as stereo frames: left silent (128), the signal on the right.
std::vector<uint8_t> to_stereo(const std::vector<uint8_t>& right);

}  // namespace tavrel
