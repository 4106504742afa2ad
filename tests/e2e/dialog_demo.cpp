// The real status dialog with a stand-in for the capture worker, for the end-to-end tests.
// Once the dialog exists, the stand-in records tag 4.14614 four times a second for
// FEED_SECONDS (default 4), then prints "feed stopped"; all along it asks for the
// "Invert Signal" box once per 250 ms, as the worker does, and prints every change of that
// answer and of parity_check ("invert_state N", "parity_check N"). Escape ends the dialog;
// the demo then stops the stand-in and exits 0.
//
//   dialog_demo [FEED_SECONDS]

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "platform/console.hpp"
#include "platform/dialog.hpp"
#include "ui/status_dialog.hpp"

using namespace tavrel;

namespace {

std::atomic<bool> running{true};

void say(const char* line) {
  console_print("\n%s\n", line);
  std::fflush(console_stream);
}

void stand_in_worker(double feed_seconds) {
  using clock = std::chrono::steady_clock;
  constexpr auto block = std::chrono::milliseconds(250);
  int32_t invert = invert_state();  // no dialog yet: 0 at once
  int32_t parity = parity_check.load();
  char line[64];
  std::snprintf(line, sizeof line, "invert_state %d", invert);
  say(line);
  std::snprintf(line, sizeof line, "parity_check %d", parity);
  say(line);
  while (running.load() && status_dialog.window.load() == nullptr) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto start = clock::now();
  const auto feed_end = start + std::chrono::duration<double>(feed_seconds);
  bool feeding = true;
  for (auto next = start; running.load(); next += block) {
    std::this_thread::sleep_until(next);
    if (feeding && clock::now() < feed_end) {
      record(4, 14614);
      std::fflush(console_stream);
    } else if (feeding) {
      feeding = false;
      say("feed stopped");
    }
    const int32_t now_invert = invert_state();
    const int32_t now_parity = parity_check.load();
    if (now_invert != invert) {
      invert = now_invert;
      std::snprintf(line, sizeof line, "invert_state %d", invert);
      say(line);
    }
    if (now_parity != parity) {
      parity = now_parity;
      std::snprintf(line, sizeof line, "parity_check %d", parity);
      say(line);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const double feed_seconds = argc > 1 ? std::atof(argv[1]) : 4.0;
  prepare_stdout();
  std::thread worker(stand_in_worker, feed_seconds);
  init_common_controls();
  run_status_dialog();
  running.store(false);
  worker.join();
  // The dialog is gone: the question must come back at once.
  std::printf("after the dialog: invert_state %d\n", invert_state());
  return 0;
}
