#pragma once
// Scripted stand-ins for what the capture worker and the program's run call: the capture
// (allocate_buffers .. release_buffers) and the dialog (invert_state, run_status_dialog).

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace tavrel::test {

/// One block read_block hands out: `n` samples of `right`, and the invert answer that
/// follows it.
struct ScriptBlock {
  int32_t n;
  std::vector<uint8_t> right;
  int32_t invert;
};

struct WorkerParts {
  std::deque<ScriptBlock> script;  ///< blocks still to come; the last one clears run_flag
  std::string calls;               ///< one letter per call, in order: a f o b i s r
  int32_t next_invert = 0;         ///< invert_state's answer
  std::atomic<int> dialog_ms{0};   ///< how long run_status_dialog stays open
};

extern WorkerParts worker_parts;

}  // namespace tavrel::test
