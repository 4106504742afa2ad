#include "tools/tag_signal.hpp"

#include <algorithm>
#include <cmath>

namespace tavrel {

uint64_t tag_frame(uint64_t id40) {
  uint64_t bits = 0x1FF;  // header
  unsigned columns = 0;
  for (int r = 0; r < 10; ++r) {
    const unsigned nibble = static_cast<unsigned>(id40 >> (36 - 4 * r)) & 0xF;
    columns ^= nibble;
    bits = bits << 5 | nibble << 1 | (__builtin_popcount(nibble) & 1);
  }
  return bits << 5 | columns << 1;  // stop bit 0
}

static uint8_t sample_at(TagSignal& signal, double level) {
  const TagSignalOptions& o = signal.options;
  double value = level + o.dc_offset;
  if (o.noise > 0) value += std::normal_distribution<double>(0.0, o.noise)(signal.random);
  const long v = std::lround(128.0 + value * 128.0);
  return static_cast<uint8_t>(std::clamp(v, 0L, 255L));
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

void append_frames(TagSignal& signal, uint64_t bits, int frames, std::vector<uint8_t>& out) {
  for (int f = 0; f < frames; ++f) {
    for (int b = 63; b >= 0; --b) {
      const bool one = (bits >> b) & 1;
      append_half_bit(signal, !one, out);  // a 1 is low then high
      append_half_bit(signal, one, out);
    }
  }
}

void append_silence(TagSignal& signal, int64_t samples, std::vector<uint8_t>& out) {
  for (int64_t i = 0; i < samples; ++i, ++signal.written) out.push_back(sample_at(signal, 0.0));
  signal.time = static_cast<double>(signal.written);
}

bool render_tag(TagSignal& signal, uint64_t bits, int64_t samples, const SignalSink& sink) {
  signal.time = static_cast<double>(signal.written);
  const int64_t end = signal.written + samples;
  std::vector<uint8_t> frame;
  for (int64_t at = signal.written; at < end;) {
    frame.clear();
    append_frames(signal, bits, 1, frame);
    const auto n = static_cast<int32_t>(std::min<int64_t>(end - at, std::ssize(frame)));
    if (!sink(frame.data(), n)) return false;
    at += n;
  }
  // The cut drops the rest of the last frame; what follows starts at the cut.
  signal.written = end;
  signal.time = static_cast<double>(end);
  return true;
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

std::vector<uint8_t> to_stereo(const std::vector<uint8_t>& right) {
  std::vector<uint8_t> stereo(right.size() * 2, 128);
  for (size_t i = 0; i < right.size(); ++i) stereo[2 * i + 1] = right[i];
  return stereo;
}

}  // namespace tavrel
