#include "frontend/capture_worker.hpp"

#include "capture/wave_capture.hpp"
#include "frontend/slice_pass.hpp"
#include "platform/console.hpp"
#include "platform/dialog.hpp"

namespace tavrel {

std::atomic<uint8_t> run_flag{0};
std::atomic<uint8_t> worker_done{0};

// Static rather than on the thread's stack: 192 kB is more than some default stacks
// hold, and nothing is allocated once the worker runs.
static ChannelBuffers channel_buffers;

int capture_worker() {
  ChannelBuffers& b = channel_buffers;
  b.carry = 0;
  allocate_buffers();
  set_format();
  open_capture();  // on failure read_block returns 0 after each wait; the loop runs on

  do {
    const int32_t n = read_block(b.left + b.carry, b.right + b.carry);
    slice_pass(b, n, invert_state());
  } while (run_flag.load(std::memory_order_relaxed) != 0);

  console_take_key();
  stop_capture();
  release_buffers();
  console_print("\n");
  console_flush();
  worker_done.store(1, std::memory_order_release);
  return 0;
}

}  // namespace tavrel
