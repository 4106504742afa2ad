#include "app/lifecycle.hpp"

#include <chrono>
#include <system_error>
#include <thread>

#include "frontend/capture_worker.hpp"
#include "platform/console.hpp"
#include "platform/dialog.hpp"

namespace tavrel {

// The thread is never joined: the two flags are the whole handshake.
static bool start_worker(int (*worker)()) {
  try {
    std::thread(worker).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

int run_program(int (*worker)()) {
  run_flag.store(1, std::memory_order_relaxed);
  if (!start_worker(worker)) {
    // Nobody would ever set worker_done; the window still opens, and closing it ends
    // the program at once.
    console_print("CreateThread ERROR!\n");
    worker_done.store(1, std::memory_order_relaxed);
  }
  init_common_controls();
  run_status_dialog();
  run_flag.store(0, std::memory_order_relaxed);
  while (worker_done.load(std::memory_order_acquire) == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

}  // namespace tavrel
