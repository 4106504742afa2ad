#pragma once
// The program's run: the two flags by which the main thread and the capture worker
// meet, and the sequence that starts and stops them.

#include <atomic>
#include <cstdint>

namespace tavrel {

/// Set by the main thread before the worker starts, cleared when the dialog has ended.
extern std::atomic<uint8_t> run_flag;

/// Set by the worker as the last step of its teardown.
extern std::atomic<uint8_t> worker_done;

/// The whole run on the main thread: starts `worker` on a thread of its own, shows the
/// status dialog until the user cancels it, then waits for the worker's teardown.
/// Returns the exit code, 0.
int run_program(int (*worker)());

}  // namespace tavrel
