#pragma once
// The processing loop: block after block from the sound input through the slicer, and
// the two flags by which the program's entry starts and stops it.

#include <atomic>
#include <cstdint>

namespace tavrel {

/// Set by the main thread before the worker starts, cleared when the dialog has ended.
extern std::atomic<uint8_t> run_flag;

/// Set by the worker as the last step of its teardown.
extern std::atomic<uint8_t> worker_done;

/// Thread entry: opens the sound input, slices block after block while run_flag is set,
/// then closes it, ends the console line and sets worker_done. Returns 0.
int capture_worker();

}  // namespace tavrel
