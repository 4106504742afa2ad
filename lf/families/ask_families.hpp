#pragma once
// The families sent by amplitude modulation (Manchester, biphase, differential biphase,
// NRZ) besides EM4100, one file each. Until the family table holds them, here.

#include "lf/family.hpp"

namespace tavrel {

extern const Family family_fdxb;
extern const Family family_jablotron;
extern const Family family_nedap;
extern const Family family_gproxii;
extern const Family family_viking;
extern const Family family_noralsy;
extern const Family family_presco;
extern const Family family_visa2000;
extern const Family family_gallagher;
extern const Family family_securakey;
extern const Family family_pac;

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
