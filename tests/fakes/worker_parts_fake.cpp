#include "tests/fakes/worker_parts_fake.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include "capture/wave_capture.hpp"
#include "frontend/capture_worker.hpp"
#include "platform/dialog.hpp"

namespace tavrel {

test::WorkerParts test::worker_parts;
using test::worker_parts;

void allocate_buffers() {
  worker_parts.calls += 'a';
}
void set_format() {
  worker_parts.calls += 'f';
}
int32_t open_capture() {
  return worker_parts.calls += 'o', block_frames;
}
void stop_capture() {
  worker_parts.calls += 's';
}
void release_buffers() {
  worker_parts.calls += 'r';
}
int32_t read_block(uint8_t* left, uint8_t* right) {
  worker_parts.calls += 'b';
  test::ScriptBlock block = worker_parts.script.front();
  worker_parts.script.pop_front();
  worker_parts.next_invert = block.invert;
  // The user closes the window during the last wait.
  if (worker_parts.script.empty()) run_flag = 0;
  std::fill(left, left + block.n, 0);
  std::copy(block.right.begin(), block.right.begin() + block.n, right);
  return block.n;
}
int32_t invert_state() {
  return worker_parts.calls += 'i', worker_parts.next_invert;
}
void init_common_controls() {}
void run_status_dialog() {
  std::this_thread::sleep_for(std::chrono::milliseconds(worker_parts.dialog_ms));
}

}  // namespace tavrel
