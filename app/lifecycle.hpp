#pragma once
// The program's run: the sequence that starts the capture worker, shows the dialog and
// waits for the worker's teardown, through the flags of frontend/capture_worker.hpp.

namespace tavrel {

/// The whole run on the main thread: sets run_flag, starts `worker` on a thread of its
/// own, shows the status dialog until the user cancels it, clears run_flag and waits for
/// worker_done. Returns the exit code, 0.
int run_program(int (*worker)());

}  // namespace tavrel
