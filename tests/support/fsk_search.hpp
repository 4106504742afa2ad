#pragma once
// A small frame search over the FSK demodulator's lanes, for the tests and the count until
// the generic one takes its place: a read is `sure_frames` frames in a row, each beginning
// with the family's sync, all equal, with no symbol far weaker than the others, passing the
// family's decode; in the complement too for families that ask for it.

#include <cstdint>
#include <vector>

#include "lf/demod/fsk.hpp"
#include "lf/family.hpp"

namespace tavrel::test {

struct FskRead {
  const Family* family;
  int32_t lane;
  int64_t end;   ///< stream sample just after the frame
  bool swapped;  ///< read from the complement (the tones the other way round)
  FrameBits frame;
  Fields fields;
};

struct FskSearch {
  std::vector<const Family*> families;
  std::vector<uint8_t> symbols[fsk_lane_count];
  std::vector<float> margins[fsk_lane_count];
  int32_t rates[fsk_lane_count] = {};
  std::vector<FskRead> reads;
};

/// The FSK families of this branch.
std::vector<const Family*> fsk_families();

/// Demodulates `samples` (at `rate`, in pieces of `piece`) and searches every lane for
/// `families`.
FskSearch fsk_search(const std::vector<uint8_t>& samples, double rate,
                     const std::vector<const Family*>& families, int32_t piece = 12000);

/// The symbols of the lane of `divider` alone.
std::vector<uint8_t> fsk_symbols(const std::vector<uint8_t>& samples, double rate, int32_t divider,
                                 int32_t piece = 12000);

/// The right channel of a real capture (8-bit stereo, no header) in `folder`.
std::vector<uint8_t> right_channel(const char* folder, const char* file);

}  // namespace tavrel::test
