#include "synth/family_signal.hpp"

namespace tavrel {

bool family_renderable(Modulation modulation) {
  return modulation != Modulation::fsk;
}

bool render_family(TagSignal& signal, const Family& family, const FrameBits& frame, int64_t samples,
                   const SignalSink& sink) {
  // Every tag tavrel-gen writes comes the window program's way up, which real front ends'
  // captures are not: an EM4100 tag of any form reads without "Invert Signal".
  signal.options.invert = !signal.options.invert;
  const bool done = render_frames(signal, coded_frame(family, frame), samples, sink);
  signal.options.invert = !signal.options.invert;
  return done;
}

std::vector<uint8_t> family_recording(const SignalCondition& c, const Family& family,
                                      const FrameBits& frame, bool invert, unsigned seed,
                                      int frames) {
  SignalCondition at_rate = c;
  at_rate.clock = family.rates[0];
  return condition_recording(at_rate, coded_frame(family, frame), invert, seed, frames);
}

}  // namespace tavrel
