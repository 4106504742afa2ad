#pragma once
// Synthesized tag signals: the frames a reader front end puts on the sound input, as 8-bit
// unsigned samples (128 = middle level). Any family's frame in any ASK code, and EM4100's
// 64-bit frames as the program reads them.

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "capture/wave_capture.hpp"
#include "lf/families/em4100.hpp"
#include "lf/family.hpp"

namespace tavrel {

/// Samples per bit of an RF/64 tag (125 kHz / 64) at the sound input's rate: 24.576.
constexpr double default_bit_samples = sample_rate / 1953.125;

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
  double rate = sample_rate;                 ///< samples per second, for the two below
  double highpass_hz = 0.0;  ///< corner of a first-order high-pass (AC coupling); 0: none
  double drift = 0.0;        ///< peak of a slow wander of the middle level, fraction of full scale
  double drift_hz = 0.5;     ///< frequency of that wander
  bool half_wave = false;    ///< the low side of the swing flattened at the middle level
  double lowpass_hz = 0.0;   ///< corner of a first-order low-pass before the coupling; 0: none
  double clip = 0.0;         ///< +-saturation after the coupling, fraction of full scale; 0: none
};

/// The noise deviation that puts `amplitude` at `snr_db` (square-wave power over noise power).
double noise_for_snr(double amplitude, double snr_db);

/// The samples of one bit for a tag with clock divider `clock` (64, 32, 16) at `rate`/s.
constexpr double clock_bit_samples(double rate, int clock) {
  return rate * clock / 125000.0;
}

/// Renders a signal continuously: edges keep their phase across calls.
struct TagSignal {
  TagSignalOptions options;
  std::mt19937 random{1};
  double time = 0.0;          ///< position of the next half-bit edge, in samples since start
  int64_t written = 0;        ///< samples emitted so far
  double highpass_in = 0.0;   ///< last level before the high-pass, fraction of full scale
  double highpass_out = 0.0;  ///< last level after it
  bool high = false;          ///< level of the last half-symbol, for the codes that change
                              ///< it at every symbol boundary
  double lowpass_out = 0.0;   ///< last level after the low-pass
};

/// One sample of `level` (fraction of full scale, before coupling) after the signal's
/// coupling, offset, drift and noise, at stream position `signal.written`.
uint8_t degraded_sample(TagSignal& signal, double level);

/// A frame as its tag sends it over and over.
struct CodedFrame {
  FrameBits bits{};
  Modulation modulation = Modulation::ask_manchester;  ///< an ASK code: fsk is not rendered here
  bool terminator = false;  ///< a T5577 sequence terminator (4 symbols) before each repetition
};

/// `bits`, a frame of `family`, coded as its tags send it.
CodedFrame coded_frame(const Family& family, const FrameBits& bits);

/// Appends one repetition of `frame`, its terminator first, at the signal's symbol length
/// (`bit_samples`), in the polarity of real front ends' captures: a Manchester 1 is high
/// then low, an NRZ 1 high; the terminator's eight half-symbols are high, low, high, high,
/// high, low, high, high.
void append_frame(TagSignal& signal, const CodedFrame& frame, std::vector<uint8_t>& out);

/// Appends `frames` repetitions of the EM4100 frame `bits` to `out`, a 1 low then high as
/// the program's decoder reads it (real front ends need its "Invert Signal").
void append_frames(TagSignal& signal, uint64_t bits, int frames, std::vector<uint8_t>& out);

/// Appends the bits `bits` (each 0 or 1, first sent first) Manchester-coded as a frame's are:
/// data of some other kind than an EM4100 frame.
void append_bits(TagSignal& signal, const std::vector<uint8_t>& bits, std::vector<uint8_t>& out);

/// Appends `samples` samples of the middle level, with the signal's noise and offset.
void append_silence(TagSignal& signal, int64_t samples, std::vector<uint8_t>& out);

/// Receives a rendered signal piece by piece, in order; returns false to stop rendering.
using SignalSink = std::function<bool(const uint8_t* samples, int32_t n)>;

/// Sends `bits` over and over for exactly `samples` samples, from where the signal
/// stands; the tag leaves the field wherever its last frame is. Hands the signal to
/// `sink` one frame at a time, so memory stays that of one frame whatever the length.
/// Returns false when the sink stopped it.
bool render_tag(TagSignal& signal, uint64_t bits, int64_t samples, const SignalSink& sink);

/// As render_tag, for any coded frame.
bool render_frames(TagSignal& signal, const CodedFrame& frame, int64_t samples,
                   const SignalSink& sink);

/// The samples in `seconds` at `rate` samples per second, rounded to the nearest.
int64_t seconds_to_samples(double seconds, int32_t rate = sample_rate);

/// `bits` sent over and over for `seconds` at the sound input's rate (render_tag into
/// memory), from where the signal stands: the tag signal for tests, benches and feeders.
std::vector<uint8_t> tag_seconds(TagSignal& signal, uint64_t bits, double seconds);

/// `samples` samples of the middle level, with the signal's noise and offset, handed to
/// `sink` in blocks. Returns false when the sink stopped it.
bool render_silence(TagSignal& signal, int64_t samples, const SignalSink& sink);

/// How a user's setup degrades a tag's signal: one row of the tolerant path's tables.
struct SignalCondition {
  const char* name;
  double swing = 80;   ///< peak, 8-bit steps
  double offset = 0;   ///< 8-bit steps
  double snr_db = 99;  ///< 99: no noise
  double highpass_hz = 0;
  double drift = 0;  ///< 8-bit steps
  int clock = 64;
  double rate = sample_rate;
  double rate_error = 0;  ///< share of the nominal bit rate
  double lowpass_hz = 0;
  bool half_wave = false;
  double clip = 0;  ///< 8-bit steps; 0: none
};

/// The signal options of condition `c` for a tag sending at RF/`clock` (the condition's
/// own clock when 0), upside down when `invert`.
TagSignalOptions condition_options(const SignalCondition& c, bool invert, int clock = 0);

/// A fifth of a second of silence, `frames` frames of tag `id` under condition `c`, and
/// another fifth of silence, at the condition's rate.
std::vector<uint8_t> condition_recording(const SignalCondition& c, uint64_t id, bool invert,
                                         unsigned seed, int frames);

/// The same for any coded frame, at the condition's clock (RF/n), with the frame's own
/// polarity (append_frame) unless `invert`.
std::vector<uint8_t> condition_recording(const SignalCondition& c, const CodedFrame& frame,
                                         bool invert, unsigned seed, int frames);

/// Signals that carry no tag, for the false-read runs. Levels are fractions of full scale.
enum class Interference {
  white_noise,    ///< Gaussian, deviation `level`
  pink_noise,     ///< 1/f noise, deviation about `level`
  clipped_noise,  ///< Gaussian noise of deviation 4 x `level`, clipped at +-`level`
  mains_hum,      ///< `frequency` (50 or 60 Hz) and its odd harmonics, peak `level`
  sine,           ///< a tone at `frequency`, peak `level`
  square_wave,    ///< at `frequency`, peak `level`
  telegraph,      ///< +-`level` with runs of `min_run`..`max_run` samples
};

struct InterferenceOptions {
  Interference kind = Interference::white_noise;
  double level = 0.3;      ///< see Interference
  double offset = 0.0;     ///< added to every sample, fraction of full scale
  double frequency = 0.0;  ///< Hz, for hum, tones and square waves
  int32_t min_run = 8;     ///< samples, for the telegraph signal
  int32_t max_run = 32;    ///< samples, for the telegraph signal
  double rate = sample_rate;
};

/// Appends `samples` samples of the interference `options` describes.
void append_interference(const InterferenceOptions& options, int64_t samples, std::mt19937& random,
                         std::vector<uint8_t>& out);

/// Interleaves a mono signal as stereo frames: left silent (128), the signal on the right.
std::vector<uint8_t> to_stereo(const std::vector<uint8_t>& right);

}  // namespace tavrel
