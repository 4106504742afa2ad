#include "frontend/capture_worker.hpp"

#include <cstring>

#include "app/lifecycle.hpp"
#include "capture/wave_capture.hpp"
#include "frontend/level_slicer.hpp"
#include "platform/console.hpp"
#include "ui/status_dialog.hpp"

namespace tavrel {

// Static rather than on the thread's stack: 192 kB is more than some default stacks
// hold, and nothing is allocated once the worker runs.
static ChannelBuffers channel_buffers;

void slice_pass(ChannelBuffers& buffers, int32_t n, int32_t invert) {
  const int32_t len = buffers.carry + n - carry_samples;
  slice_block(buffers.right, len, invert);
  if (len < 0) {
    // Only a first pass without samples gets here: there is nothing to carry, and the
    // middle level slices to nothing.
    std::memset(buffers.right, 128, carry_samples);
  } else {
    // Forward, one by one: the ranges overlap when len < carry_samples.
    for (int32_t j = 0; j < carry_samples; ++j) buffers.right[j] = buffers.right[len + j];
  }
  buffers.carry = carry_samples;
}

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
  worker_done.store(1, std::memory_order_release);
  return 0;
}

}  // namespace tavrel
