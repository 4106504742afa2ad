#pragma once
// Repetitions two families could both read: at one rate Manchester, biphase and
// differential biphase are the same waveform half a symbol apart, and some layouts leave
// room for another's frame. Each family of such a pair refuses a repetition both would read.

#include "lf/family.hpp"

namespace tavrel {

/// Whether a 64-symbol frame passes the window program's own EM4100 frame checks.
bool em4100_frame_ok(const FrameBits& frame);

/// Whether a frame passes every check of the family's own layout, not asking what else the
/// same repetition could be read as: for the families whose frames another one could take
/// at the same rate and repetition, so that each can refuse a repetition both would read.
bool jablotron_frame_ok(const FrameBits& frame);
bool nedap_frame_ok(const FrameBits& frame);
bool viking_frame_ok(const FrameBits& frame);

/// Whether an EM4100 frame's repetition is also one of theirs: a Viking repetition (the same
/// code and rate, either polarity), or the diphase view of a Nedap one (every Manchester
/// signal is a clean diphase signal half a bit on). Viking and Nedap refuse such a
/// repetition; EM4100's check should too, so that neither reads it.
bool em4100_repetition_shared(const FrameBits& frame);

}  // namespace tavrel
