#include "synth/family_signal.hpp"

#include <algorithm>
#include <vector>

namespace tavrel {

bool family_renderable(Modulation modulation) {
  return modulation == Modulation::ask_manchester;
}

// One repetition of the frame, as a front end delivers it.
static void append_frame(TagSignal& signal, const Family& family, const FrameBits& frame,
                         std::vector<uint8_t>& out) {
  std::vector<uint8_t> bits(static_cast<size_t>(frame.count));
  for (int32_t i = 0; i < frame.count; ++i) bits[static_cast<size_t>(i)] = frame_symbol(frame, i);
  switch (family.modulation) {
    case Modulation::ask_manchester:
      append_bits(signal, bits, out);
      break;
    default:
      break;
  }
}

bool render_family(TagSignal& signal, const Family& family, const FrameBits& frame, int64_t samples,
                   const SignalSink& sink) {
  signal.time = static_cast<double>(signal.written);
  const int64_t end = signal.written + samples;
  std::vector<uint8_t> out;
  for (int64_t at = signal.written; at < end;) {
    out.clear();
    append_frame(signal, family, frame, out);
    if (out.empty()) return false;
    const auto n = static_cast<int32_t>(std::min<int64_t>(end - at, std::ssize(out)));
    if (!sink(out.data(), n)) return false;
    at += n;
  }
  // The cut drops the rest of the last frame; what follows starts at the cut.
  signal.written = end;
  signal.time = static_cast<double>(end);
  return true;
}

std::vector<uint8_t> family_recording(const SignalCondition& c, const Family& family,
                                      const FrameBits& frame, bool invert, unsigned seed,
                                      int frames) {
  TagSignal signal{condition_options(c, invert, family.rates[0])};
  signal.random.seed(seed);
  std::vector<uint8_t> out;
  append_silence(signal, static_cast<int64_t>(c.rate / 5), out);
  signal.time = static_cast<double>(out.size());
  for (int f = 0; f < frames; ++f) append_frame(signal, family, frame, out);
  append_silence(signal, static_cast<int64_t>(c.rate / 5), out);
  return out;
}

}  // namespace tavrel
