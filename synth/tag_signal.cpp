#include "synth/tag_signal.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tavrel {

double noise_for_snr(double amplitude, double snr_db) {
  return amplitude * std::pow(10.0, -snr_db / 20.0);
}

static uint8_t quantize(double value) {
  const long v = std::lround(128.0 + value * 128.0);
  return static_cast<uint8_t>(std::clamp(v, 0L, 255L));
}

static uint8_t sample_at(TagSignal& signal, double level) {
  const TagSignalOptions& o = signal.options;
  double value = o.half_wave ? std::max(level, 0.0) : level;
  if (o.lowpass_hz > 0) {
    // First-order RC low-pass: a front end's slow detector or filter.
    const double alpha = 1 - std::exp(-2 * std::numbers::pi * o.lowpass_hz / o.rate);
    signal.lowpass_out += alpha * (value - signal.lowpass_out);
    value = signal.lowpass_out;
  }
  if (o.highpass_hz > 0) {
    // First-order RC high-pass, as a sound card's coupling capacitor.
    const double rc = 1.0 / (2 * std::numbers::pi * o.highpass_hz);
    const double alpha = rc / (rc + 1.0 / o.rate);
    signal.highpass_out = alpha * (signal.highpass_out + value - signal.highpass_in);
    signal.highpass_in = value;
    value = signal.highpass_out;
  }
  if (o.clip > 0) value = std::clamp(value, -o.clip, o.clip);
  value += o.dc_offset;
  if (o.drift > 0) {
    const double t = static_cast<double>(signal.written) / o.rate;
    value += o.drift * std::sin(2 * std::numbers::pi * o.drift_hz * t);
  }
  if (o.noise > 0) value += std::normal_distribution<double>(0.0, o.noise)(signal.random);
  return quantize(value);
}

uint8_t degraded_sample(TagSignal& signal, double level) {
  return sample_at(signal, level);
}

static void append_half_bit(TagSignal& signal, bool high, std::vector<uint8_t>& out) {
  const TagSignalOptions& o = signal.options;
  signal.time += o.bit_samples / 2;
  double edge = signal.time;
  if (o.jitter > 0)
    edge += std::uniform_real_distribution<double>(-o.jitter, o.jitter)(signal.random);
  const double level = (high != o.invert) ? o.amplitude : -o.amplitude;
  for (; signal.written < std::llround(edge); ++signal.written)
    out.push_back(sample_at(signal, level));
}

// Half-symbol levels of the T5577 sequence terminator, the first sent the highest bit.
constexpr unsigned terminator_halves = 0b10111011;

static void append_symbol(TagSignal& signal, Modulation m, bool one, std::vector<uint8_t>& out) {
  switch (m) {
    case Modulation::ask_manchester:
      append_half_bit(signal, one, out);
      append_half_bit(signal, !one, out);
      return;
    case Modulation::ask_biphase:
    case Modulation::ask_diphase: {
      const bool middle_change = one == (m == Modulation::ask_biphase);
      signal.high = !signal.high;  // every boundary
      append_half_bit(signal, signal.high, out);
      if (middle_change) signal.high = !signal.high;
      append_half_bit(signal, signal.high, out);
      return;
    }
    case Modulation::ask_nrz:
      append_half_bit(signal, one, out);
      append_half_bit(signal, one, out);
      return;
    case Modulation::fsk:
      return;  // tones, not levels: not rendered here
  }
}

CodedFrame coded_frame(const Family& family, const FrameBits& bits) {
  return {bits, family.modulation, family.gap_symbols > 0};
}

void append_frame(TagSignal& signal, const CodedFrame& frame, std::vector<uint8_t>& out) {
  if (frame.terminator) {
    for (int h = 7; h >= 0; --h) append_half_bit(signal, terminator_halves >> h & 1, out);
    signal.high = true;
  }
  for (int32_t i = 0; i < frame.bits.count; ++i)
    append_symbol(signal, frame.modulation, frame_symbol(frame.bits, i) != 0, out);
}

// An EM4100 frame as the program reads it: a 1 low then high, which is the complement
// sent in real front ends' polarity.
static CodedFrame program_frame(uint64_t bits) {
  CodedFrame frame;
  frame.bits = FrameBits{{~bits}, 64};
  return frame;
}

void append_frames(TagSignal& signal, uint64_t bits, int frames, std::vector<uint8_t>& out) {
  const CodedFrame frame = program_frame(bits);
  for (int f = 0; f < frames; ++f) append_frame(signal, frame, out);
}

void append_bits(TagSignal& signal, const std::vector<uint8_t>& bits, std::vector<uint8_t>& out) {
  for (const uint8_t bit : bits) append_symbol(signal, Modulation::ask_manchester, bit == 0, out);
}

void append_silence(TagSignal& signal, int64_t samples, std::vector<uint8_t>& out) {
  for (int64_t i = 0; i < samples; ++i, ++signal.written) out.push_back(sample_at(signal, 0.0));
  signal.time = static_cast<double>(signal.written);
}

bool render_frames(TagSignal& signal, const CodedFrame& frame, int64_t samples,
                   const SignalSink& sink) {
  signal.time = static_cast<double>(signal.written);
  const int64_t end = signal.written + samples;
  std::vector<uint8_t> piece;
  for (int64_t at = signal.written; at < end;) {
    piece.clear();
    append_frame(signal, frame, piece);
    const auto n = static_cast<int32_t>(std::min<int64_t>(end - at, std::ssize(piece)));
    if (!sink(piece.data(), n)) return false;
    at += n;
  }
  // The cut drops the rest of the last frame; what follows starts at the cut.
  signal.written = end;
  signal.time = static_cast<double>(end);
  return true;
}

bool render_tag(TagSignal& signal, uint64_t bits, int64_t samples, const SignalSink& sink) {
  return render_frames(signal, program_frame(bits), samples, sink);
}

int64_t seconds_to_samples(double seconds, int32_t rate) {
  return std::llround(seconds * rate);
}

std::vector<uint8_t> tag_seconds(TagSignal& signal, uint64_t bits, double seconds) {
  std::vector<uint8_t> out;
  render_tag(signal, bits, seconds_to_samples(seconds), [&](const uint8_t* samples, int32_t n) {
    out.insert(out.end(), samples, samples + n);
    return true;
  });
  return out;
}

bool render_silence(TagSignal& signal, int64_t samples, const SignalSink& sink) {
  constexpr int64_t block = block_frames;  // samples handed over at once
  std::vector<uint8_t> out;
  for (int64_t left = samples; left > 0; left -= block) {
    out.clear();
    append_silence(signal, std::min(left, block), out);
    if (!sink(out.data(), static_cast<int32_t>(out.size()))) return false;
  }
  return true;
}

void append_interference(const InterferenceOptions& o, int64_t samples, std::mt19937& random,
                         std::vector<uint8_t>& out) {
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double step = 2 * std::numbers::pi * o.frequency / o.rate;
  // A random starting phase, so that runs of one kind differ.
  double phase = std::uniform_real_distribution<double>(0, 2 * std::numbers::pi)(random);
  double pink[3] = {};  // Paul Kellet's economy filter: three poles give 1/f within 1 dB
  double level = o.level;
  int32_t left = 0;  // samples before the telegraph signal flips
  for (int64_t i = 0; i < samples; ++i) {
    double v = 0;
    switch (o.kind) {
      case Interference::white_noise:
        v = o.level * gauss(random);
        break;
      case Interference::pink_noise: {
        const double w = gauss(random);
        pink[0] = 0.99765 * pink[0] + w * 0.0990460;
        pink[1] = 0.96300 * pink[1] + w * 0.2965164;
        pink[2] = 0.57000 * pink[2] + w * 1.0526913;
        v = o.level * (pink[0] + pink[1] + pink[2] + w * 0.1848) / 3.0;
        break;
      }
      case Interference::clipped_noise:
        v = std::clamp(4 * o.level * gauss(random), -o.level, o.level);
        break;
      case Interference::mains_hum:
        v = o.level * (std::sin(phase) + 0.3 * std::sin(3 * phase) + 0.1 * std::sin(5 * phase));
        break;
      case Interference::sine:
        v = o.level * std::sin(phase);
        break;
      case Interference::square_wave:
        v = std::sin(phase) >= 0 ? o.level : -o.level;
        break;
      case Interference::telegraph:
        if (left-- <= 0) {
          left = std::uniform_int_distribution<int32_t>(o.min_run, o.max_run)(random) - 1;
          level = -level;
        }
        v = level;
        break;
    }
    phase = std::fmod(phase + step, 2 * std::numbers::pi);
    out.push_back(quantize(v + o.offset));
  }
}

std::vector<uint8_t> to_stereo(const std::vector<uint8_t>& right) {
  std::vector<uint8_t> stereo(right.size() * 2, 128);
  for (size_t i = 0; i < right.size(); ++i) stereo[2 * i + 1] = right[i];
  return stereo;
}

TagSignalOptions condition_options(const SignalCondition& c, bool invert, int clock) {
  TagSignalOptions o;
  o.amplitude = c.swing / 128;
  o.dc_offset = c.offset / 128;
  o.noise = c.snr_db < 99 ? noise_for_snr(o.amplitude, c.snr_db) : 0;
  o.highpass_hz = c.highpass_hz;
  o.drift = c.drift / 128;
  o.half_wave = c.half_wave;
  o.lowpass_hz = c.lowpass_hz;
  o.clip = c.clip / 128;
  o.rate = c.rate;
  o.bit_samples = clock_bit_samples(c.rate, clock != 0 ? clock : c.clock) / (1 + c.rate_error);
  o.invert = invert;
  return o;
}

std::vector<uint8_t> condition_recording(const SignalCondition& c, const CodedFrame& frame,
                                         bool invert, unsigned seed, int frames) {
  TagSignal signal{condition_options(c, invert)};
  signal.random.seed(seed);
  std::vector<uint8_t> out;
  append_silence(signal, static_cast<int64_t>(c.rate / 5), out);
  signal.time = static_cast<double>(out.size());
  for (int f = 0; f < frames; ++f) append_frame(signal, frame, out);
  append_silence(signal, static_cast<int64_t>(c.rate / 5), out);
  return out;
}

std::vector<uint8_t> condition_recording(const SignalCondition& c, uint64_t id, bool invert,
                                         unsigned seed, int frames) {
  return condition_recording(c, program_frame(tag_frame(id)), invert, seed, frames);
}

}  // namespace tavrel
