// The event on Windows, a kernel object: CreateEventA, SetEvent, ResetEvent,
// WaitForSingleObject. Named, so other processes see it under that name.
#include <windows.h>

#include "platform/event.hpp"

namespace tavrel {

static HANDLE handle_of(Event* event) {
  return reinterpret_cast<HANDLE>(event);
}

Event* event_create(const char* name) {
  return reinterpret_cast<Event*>(CreateEventA(nullptr, FALSE, FALSE, name));
}

void event_set(Event* event) {
  SetEvent(handle_of(event));
}

void event_reset(Event* event) {
  ResetEvent(handle_of(event));
}

WaitResult event_wait(Event* event, int32_t timeout_ms) {
  switch (WaitForSingleObject(handle_of(event), static_cast<DWORD>(timeout_ms))) {
    case WAIT_OBJECT_0:
      return WaitResult::signalled;
    case WAIT_TIMEOUT:
      return WaitResult::timed_out;
    default:
      return WaitResult::failed;
  }
}

}  // namespace tavrel
