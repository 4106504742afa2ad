#pragma once
// A stand-in for the half-bit ring under the level slicer: records every reset and run.

#include <cstdint>
#include <vector>

namespace tavrel::test {

struct RingCall {
  int32_t level;   ///< -1 marks a reset
  int32_t length;  ///< samples
  bool operator==(const RingCall&) const = default;
};

/// Every reset and push_run since the test last cleared it, in order.
extern std::vector<RingCall> ring_calls;

}  // namespace tavrel::test
