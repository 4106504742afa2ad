#include "tests/fakes/ring_fake.hpp"

#include "decode/half_bit_ring.hpp"

namespace tavrel {

std::vector<test::RingCall> test::ring_calls;

void reset() {
  test::ring_calls.push_back({-1, 0});
}

void push_run(int32_t level, int32_t run_length) {
  test::ring_calls.push_back({level, run_length});
}

}  // namespace tavrel
