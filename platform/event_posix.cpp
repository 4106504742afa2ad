// The event on POSIX, inside this process only: std::mutex and std::condition_variable.
// There is no system-wide namespace for it, so the name is accepted and not used.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/event.hpp"

namespace tavrel {

struct Event {
  std::mutex lock;
  std::condition_variable wake;
  bool signalled = false;  ///< set by event_set, taken by one wait
};

Event* event_create(const char*) {
  return new (std::nothrow) Event;
}

void event_set(Event* event) {
  if (!event) return;
  {
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = true;
  }
  event->wake.notify_one();
}

void event_reset(Event* event) {
  if (!event) return;
  std::lock_guard<std::mutex> hold(event->lock);
  event->signalled = false;
}

WaitResult event_wait(Event* event, int32_t timeout_ms) {
  if (!event) return WaitResult::failed;
  std::unique_lock<std::mutex> hold(event->lock);
  if (!event->wake.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                            [event] { return event->signalled; })) {
    return WaitResult::timed_out;
  }
  event->signalled = false;
  return WaitResult::signalled;
}

}  // namespace tavrel
