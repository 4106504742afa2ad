#pragma once
// Synthesized FSK tag signals: what a reader's envelope detector delivers for a tag sending
// a frame over and over, one tone per symbol, fc/10 for a 1 and fc/8 for a 0. The sound
// card's anti-alias filter leaves the tones' fundamentals alone, so each is a sine; the
// phase runs on across symbols (6.25 periods of fc/8 fill an RF/50 symbol).

#include <cstdint>
#include <vector>

#include "lf/family.hpp"
#include "synth/tag_signal.hpp"

namespace tavrel {

/// An FSK tag on the line. `line` brings the degradations of TagSignal (its amplitude is
/// the tones' peak; its bit_samples the symbol length, which a fast field shortens) and
/// keeps `written`; its `invert` swaps the tones.
struct FskSignal {
  TagSignal line;
  int32_t divider = 50;  ///< RF/n: symbol length in periods of the field
  double time = 0.0;     ///< where the next symbol begins, samples since start
  double phase = 0.0;    ///< the tone's phase at `time`, cycles
};

/// The noise deviation that puts a tone of peak `amplitude` at `snr_db` (tone power over
/// noise power; a sine's power is half its peak squared).
double tone_noise_for_snr(double amplitude, double snr_db);

/// Appends `repeats` repetitions of `frame`'s symbols, from where the signal stands.
void append_fsk_frames(FskSignal& signal, const FrameBits& frame, int repeats,
                       std::vector<uint8_t>& out);

/// A fifth of a second and `lead` samples of silence, `frames` repetitions of `frame` sent
/// at RF/`divider` under condition `c` (its clock unused, its snr_db as tone_noise_for_snr,
/// its rate_error moving symbols and tones together), and another fifth of silence. `swap`
/// sends fc/8 for a 1.
std::vector<uint8_t> fsk_condition_recording(const SignalCondition& c, const FrameBits& frame,
                                             int32_t divider, bool swap, unsigned seed, int frames,
                                             int64_t lead = 0);

}  // namespace tavrel
