#include "synth/fsk_signal.hpp"

#include <cmath>
#include <numbers>

namespace tavrel {

double tone_noise_for_snr(double amplitude, double snr_db) {
  return amplitude / std::numbers::sqrt2 * std::pow(10.0, -snr_db / 20.0);
}

// One symbol: the tone of `one` from `time` to `time` + a symbol, sampled where samples fall.
static void append_symbol(FskSignal& signal, bool one, std::vector<uint8_t>& out) {
  const TagSignalOptions& o = signal.line.options;
  // fc/10 makes divider / 10 periods in a symbol, fc/8 divider / 8.
  const double periods = signal.divider / ((one != o.invert) ? 10.0 : 8.0);
  const double end = signal.time + o.bit_samples;
  const double per_sample = periods / o.bit_samples;
  for (; signal.line.written < end; ++signal.line.written) {
    const double cycles = signal.phase + per_sample * (signal.line.written - signal.time);
    out.push_back(
        degraded_sample(signal.line, o.amplitude * std::sin(2 * std::numbers::pi * cycles)));
  }
  signal.phase = std::fmod(signal.phase + periods, 1.0);
  signal.time = end;
}

void append_fsk_frames(FskSignal& signal, const FrameBits& frame, int repeats,
                       std::vector<uint8_t>& out) {
  for (int r = 0; r < repeats; ++r) {
    for (int32_t i = 0; i < frame.count; ++i) append_symbol(signal, frame_symbol(frame, i), out);
  }
}

std::vector<uint8_t> fsk_condition_recording(const SignalCondition& c, const FrameBits& frame,
                                             int32_t divider, bool swap, unsigned seed, int frames,
                                             int64_t lead) {
  FskSignal signal;
  TagSignalOptions& o = signal.line.options;
  o = condition_options(c, swap, divider);
  o.noise = c.snr_db < 99 ? tone_noise_for_snr(o.amplitude, c.snr_db) : 0;
  signal.divider = divider;
  signal.line.random.seed(seed);
  std::vector<uint8_t> out;
  append_silence(signal.line, static_cast<int64_t>(c.rate / 5) + lead, out);
  signal.time = static_cast<double>(out.size());
  append_fsk_frames(signal, frame, frames, out);
  append_silence(signal.line, static_cast<int64_t>(c.rate / 5), out);
  return out;
}

}  // namespace tavrel
