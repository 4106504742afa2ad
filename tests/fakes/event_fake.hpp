#pragma once
// A double of the event for the tests: a wait that nothing will answer times out (or
// fails) at once instead of after its timeout, unless a test asks for real waiting.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace tavrel::test {

struct FakeEvent {
  std::mutex lock;
  std::condition_variable wake;
  bool signalled = false;
  // Set by tests:
  bool fail_create = false;    ///< event_create returns nullptr
  bool blocking = false;       ///< waits really wait, up to their timeout
  int32_t timeouts_ahead = 0;  ///< the next waits time out at once, signalled or not
  int32_t failures_ahead = 0;  ///< the next waits fail at once, before those timeouts
  // Seen by tests:
  std::string name;  ///< as given to the last event_create
  int32_t creates = 0;
  int32_t sets = 0;
  int32_t resets = 0;
  int32_t waits = 0;
  int32_t last_timeout_ms = 0;
};

extern FakeEvent fake_event;

/// Clears the signal, the settings and the counts. When no other thread uses the event.
void fake_event_reset();

}  // namespace tavrel::test
