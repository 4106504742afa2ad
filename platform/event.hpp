#pragma once
// An auto-reset event: one waiter wakes per signal, and a signal nobody waits for stays
// set until the next wait takes it. No platform types here: the handle is opaque.

#include <cstdint>

namespace tavrel {

struct Event;  ///< defined per OS (event_win32.cpp, event_posix.cpp)

enum class WaitResult : int32_t { signalled, timed_out, failed };

/// Creates an auto-reset event, not signalled. Returns nullptr on failure. Any thread.
Event* event_create(const char* name);

/// Signals the event. Any thread, including the sound system's callback thread.
void event_set(Event* event);

/// Clears a pending signal. Any thread.
void event_reset(Event* event);

/// Waits at most `timeout_ms` for a signal and takes it. A null event fails at once.
/// Any thread.
WaitResult event_wait(Event* event, int32_t timeout_ms);

}  // namespace tavrel
