#pragma once
// A tag of any family on the sound input: its frame, as its family's encoder makes it, sent
// over and over in the family's modulation, through the degradations of TagSignalOptions.

#include <cstdint>
#include <vector>

#include "lf/family.hpp"
#include "synth/tag_signal.hpp"

namespace tavrel {

/// Whether render_family can send frames of this modulation.
bool family_renderable(Modulation modulation);

/// Sends `frame` (a frame of `family`, sync first) over and over for exactly `samples`
/// samples from where the signal stands, each symbol signal.options.bit_samples long; the
/// tag leaves the field wherever its last frame is. Hands the signal to `sink` a frame at a
/// time. Returns false when the sink stopped it.
bool render_family(TagSignal& signal, const Family& family, const FrameBits& frame, int64_t samples,
                   const SignalSink& sink);

/// A fifth of a second of silence, `frames` frames of `frame` (of `family`, at its first
/// data rate) under condition `c`, and another fifth of silence, at the condition's rate.
std::vector<uint8_t> family_recording(const SignalCondition& c, const Family& family,
                                      const FrameBits& frame, bool invert, unsigned seed,
                                      int frames);

}  // namespace tavrel
