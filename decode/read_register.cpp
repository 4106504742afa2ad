#include "decode/read_register.hpp"

#include "decode/half_bit_ring.hpp"
#include "platform/console.hpp"

namespace tavrel {

ReadRegister read_register;

void record(int32_t id_high, int32_t id_low) {
  constexpr auto relaxed = std::memory_order_relaxed;
  ReadRegister& r = read_register;
  if (id_high == r.last_high.load(relaxed) && id_low == r.last_low.load(relaxed)) {
    // Same tag again: rewrite its line in place; the number after the dash counts
    // repetitions from 0, one behind repeat_count.
    console_print("\r%d.", id_high);
    const int32_t n = r.repeat_count.load(relaxed);
    r.repeat_count.store(n + 1, relaxed);
    console_print("%d - %d      ", id_low, n);
  } else {
    r.repeat_count.store(0, relaxed);
    console_print("\n%d.", id_high);
    console_print("%d", id_low);
  }
  r.last_high.store(id_high, relaxed);
  r.last_low.store(id_low, relaxed);
}

void decode_restart() {
  half_bit_ring = HalfBitRing{};
  parity_check = 1;
  read_register.last_high = -1;
  read_register.last_low = -1;
  read_register.repeat_count = 0;
}

}  // namespace tavrel
