#pragma once
// The decoding path's state as at program start, for tests that run it more than once.

#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"

namespace tavrel::test {

inline void reset_decoding() {
  half_bit_ring = HalfBitRing{};
  parity_check = 1;
  read_register.last_high = -1;
  read_register.last_low = -1;
  read_register.repeat_count = 0;
}

}  // namespace tavrel::test
