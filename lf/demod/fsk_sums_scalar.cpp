// No vector unit: the plain step.

#include "lf/demod/fsk_sums.hpp"

namespace tavrel {

int64_t fsk_sum(FskDemod& d, const uint8_t* samples, int32_t n) {
  return fsk_sum_plain(d, samples, n);
}

}  // namespace tavrel
