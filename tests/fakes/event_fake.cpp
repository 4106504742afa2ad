// The event calls of platform/event.hpp, answered by the test double.

#include "tests/fakes/event_fake.hpp"

#include <chrono>

#include "platform/event.hpp"

namespace tavrel {

struct Event {
  int32_t unused;
};

namespace test {

FakeEvent fake_event;
static Event the_event;

void fake_event_reset() {
  std::lock_guard<std::mutex> hold(fake_event.lock);
  fake_event.signalled = false;
  fake_event.fail_create = false;
  fake_event.blocking = false;
  fake_event.timeouts_ahead = 0;
  fake_event.failures_ahead = 0;
  fake_event.name.clear();
  fake_event.creates = 0;
  fake_event.sets = 0;
  fake_event.resets = 0;
  fake_event.waits = 0;
  fake_event.last_timeout_ms = 0;
}

}  // namespace test

using test::fake_event;

Event* event_create(const char* name) {
  std::lock_guard<std::mutex> hold(fake_event.lock);
  ++fake_event.creates;
  fake_event.name = name;
  return fake_event.fail_create ? nullptr : &test::the_event;
}

void event_set(Event* event) {
  if (!event) return;
  {
    std::lock_guard<std::mutex> hold(fake_event.lock);
    ++fake_event.sets;
    fake_event.signalled = true;
  }
  fake_event.wake.notify_one();
}

void event_reset(Event* event) {
  if (!event) return;
  std::lock_guard<std::mutex> hold(fake_event.lock);
  ++fake_event.resets;
  fake_event.signalled = false;
}

WaitResult event_wait(Event* event, int32_t timeout_ms) {
  std::unique_lock<std::mutex> hold(fake_event.lock);
  ++fake_event.waits;
  fake_event.last_timeout_ms = timeout_ms;
  if (!event) return WaitResult::failed;
  if (fake_event.failures_ahead > 0) {
    --fake_event.failures_ahead;
    return WaitResult::failed;
  }
  if (fake_event.timeouts_ahead > 0) {
    --fake_event.timeouts_ahead;
    return WaitResult::timed_out;
  }
  if (fake_event.blocking) {
    fake_event.wake.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                             [] { return fake_event.signalled; });
  }
  if (!fake_event.signalled) return WaitResult::timed_out;
  fake_event.signalled = false;
  return WaitResult::signalled;
}

}  // namespace tavrel
