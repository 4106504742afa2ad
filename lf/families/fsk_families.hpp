#pragma once
// The FSK families, one file each. Every one is sent on the two tones the FSK demodulator
// reads, fc/10 for a 1, and a tag set up with the tones the other way round sends the
// complement, so each row asks for both polarities to be searched.
//
// HID Prox sends a short frame (96 symbols) or a long one (192): the frame search cuts one
// length per row, so the long frames have a row of their own, "hid-long", with the same
// decoder; each row's encoder makes frames of its own length.

#include "lf/family.hpp"

namespace tavrel {

extern const Family family_hid;       ///< short frames: Wiegand messages of 26 to 37 bits
extern const Family family_hid_long;  ///< long frames: 38 to 83 bits
extern const Family family_awid;
extern const Family family_ioprox;
extern const Family family_paradox;
extern const Family family_pyramid;
extern const Family family_fdxa;

}  // namespace tavrel
