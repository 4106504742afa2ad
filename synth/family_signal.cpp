#include "synth/family_signal.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "lf/symbols.hpp"
#include "synth/fsk_signal.hpp"

namespace tavrel {

bool family_renderable(Modulation) {
  return true;
}

// FSK: the tones, a frame at a time, from where the signal stands; it carries no polarity.
static bool render_fsk(TagSignal& signal, const FrameBits& frame, int64_t samples,
                       const SignalSink& sink) {
  FskSignal fsk;
  fsk.line = signal;
  fsk.divider = static_cast<int32_t>(
      std::lround(signal.options.bit_samples * field_hz / signal.options.rate));
  fsk.time = static_cast<double>(signal.written);
  const int64_t end = signal.written + samples;
  std::vector<uint8_t> piece;
  bool done = true;
  for (int64_t at = signal.written; done && at < end;) {
    piece.clear();
    append_fsk_frames(fsk, frame, 1, piece);
    const auto n = static_cast<int32_t>(std::min<int64_t>(end - at, std::ssize(piece)));
    done = sink(piece.data(), n);
    at += n;
  }
  // The cut drops the rest of the last frame; what follows starts at the cut.
  fsk.line.written = end;
  fsk.line.time = static_cast<double>(end);
  signal = fsk.line;
  return done;
}

bool render_family(TagSignal& signal, const Family& family, const FrameBits& frame, int64_t samples,
                   const SignalSink& sink) {
  if (family.modulation == Modulation::fsk) return render_fsk(signal, frame, samples, sink);
  // Every ASK tag tavrel-gen writes comes the window program's way up, which real front
  // ends' captures are not: an EM4100 tag of any form reads without "Invert Signal".
  signal.options.invert = !signal.options.invert;
  const bool done = render_frames(signal, coded_frame(family, frame), samples, sink);
  signal.options.invert = !signal.options.invert;
  return done;
}

std::vector<uint8_t> family_recording(const SignalCondition& c, const Family& family,
                                      const FrameBits& frame, bool invert, unsigned seed,
                                      int frames) {
  if (family.modulation == Modulation::fsk)
    return fsk_condition_recording(c, frame, family.rates[0], invert, seed, frames);
  SignalCondition at_rate = c;
  at_rate.clock = family.rates[0];
  return condition_recording(at_rate, coded_frame(family, frame), invert, seed, frames);
}

}  // namespace tavrel
