#include "decode/read_register.hpp"

#include "decode/half_bit_ring.hpp"
#include "platform/console.hpp"

namespace tavrel {

ReadRegister read_register;

void write_log_line(std::FILE* out, const char* number, bool again, int32_t n) {
  if (again) {
    std::fprintf(out, "\r%s - %d      ", number, n);
  } else {
    std::fprintf(out, "\n%s", number);
  }
}

void record(int32_t id_high, int32_t id_low) {
  constexpr auto relaxed = std::memory_order_relaxed;
  ReadRegister& r = read_register;
  // Same tag again: its line is rewritten in place; the number after the dash counts
  // repetitions from 0, one behind repeat_count.
  const bool again = id_high == r.last_high.load(relaxed) && id_low == r.last_low.load(relaxed);
  const int32_t n = again ? r.repeat_count.load(relaxed) : 0;
  r.repeat_count.store(again ? n + 1 : 0, relaxed);
  char number[16];
  std::snprintf(number, sizeof number, "%d.%d", id_high, id_low);
  write_log_line(console_stream, number, again, n);
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
