// The capture worker and the start-up/shutdown handshake, with the sound input and the
// dialog replaced by scripted stand-ins; slicing and decoding are the real ones.

#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/lifecycle.hpp"
#include "capture/wave_capture.hpp"
#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "frontend/capture_worker.hpp"
#include "frontend/slice_pass.hpp"
#include "platform/console.hpp"
#include "synth/tag_signal.hpp"
#include "tests/fakes/worker_parts_fake.hpp"
#include "tests/support/console_capture.hpp"

namespace tavrel {

using test::worker_parts;
using Block = test::ScriptBlock;

namespace {

class Worker : public ::testing::Test {
 protected:
  void SetUp() override {
    worker_parts.script.clear();
    worker_parts.calls.clear();
    run_flag = 1;
    worker_done = 0;
    decode_restart();
    test::console_capture_start(console);
  }
  void TearDown() override { test::console_capture_stop(console); }
  std::string log() { return test::console_capture_text(console); }

  test::ConsoleCapture console;
};

std::vector<uint8_t> tag_blocks(uint64_t id40, int blocks, bool invert = false) {
  TagSignal signal;
  signal.options.invert = invert;
  return tag_seconds(signal, tag_frame(id40), blocks * block_frames / double(sample_rate));
}

Block block_of(const std::vector<uint8_t>& samples, int index, int32_t invert = 0) {
  const auto from = samples.begin() + index * block_frames;
  return {block_frames, std::vector<uint8_t>(from, from + block_frames), invert};
}

TEST_F(Worker, ReadsTagBlockByBlockAndTearsDownInOrder) {
  const auto samples = tag_blocks(0x00'0012'0034, 4);
  for (int i = 0; i < 4; ++i) worker_parts.script.push_back(block_of(samples, i));
  EXPECT_EQ(capture_worker(), 0);
  EXPECT_EQ(worker_parts.calls, "afobibibibisr");
  EXPECT_EQ(worker_done, 1);
  const std::string text = log();
  ASSERT_GE(text.size(), 6u);
  EXPECT_EQ(text.substr(0, 6), "\n18.52");
  EXPECT_EQ(text.back(), '\n');
  // Every later read rewrites the line with the next repeat number.
  const int reads = read_register.repeat_count + 1;
  EXPECT_GE(reads, 4 * 5);  // about seven frames a block, less those cut by block edges
  std::string expected = "\n18.52";
  for (int n = 0; n + 1 < reads; ++n) expected += "\r18.52 - " + std::to_string(n) + "      ";
  EXPECT_EQ(text, expected + "\n");
}

TEST_F(Worker, EndsLineEvenWithoutReads) {
  worker_parts.script.push_back({0, {}, 0});
  capture_worker();
  EXPECT_EQ(log(), "\n");
  EXPECT_EQ(worker_parts.calls, "afobisr");
}

TEST_F(Worker, SamplesInvertOncePerBlock) {
  const auto samples = tag_blocks(0x00'0005'0006, 2, true);
  worker_parts.script.push_back(block_of(samples, 0, 0));
  worker_parts.script.push_back(block_of(samples, 1, 1));
  capture_worker();
  // The first block is sliced upright and yields nothing; the second is read.
  EXPECT_EQ(log().substr(0, 4), "\n5.6");
  EXPECT_GE(read_register.repeat_count, 3);
  EXPECT_LE(read_register.repeat_count, 7);
}

struct Pass : ::testing::Test {
  ChannelBuffers b{};
  std::vector<uint8_t> original;
  void fill(int32_t from, int32_t n) {
    original.resize(channel_buffer_samples);
    for (int32_t j = from; j < from + n; ++j) {
      original[j] = static_cast<uint8_t>(j * 7 + 3);
      b.right[j] = original[j];
    }
  }
};

TEST_F(Pass, FirstBlockHoldsBackItsLastHundredSamples) {
  fill(0, block_frames);
  slice_pass(b, block_frames, 0);
  EXPECT_EQ(b.carry, carry_samples);
  for (int j = 0; j < carry_samples; ++j) {
    EXPECT_EQ(b.right[j], original[block_frames - carry_samples + j]) << j;  // unconverted
  }
  EXPECT_EQ(b.right[carry_samples], static_cast<uint8_t>(original[carry_samples] - 128));
}

TEST_F(Pass, LaterBlockSlicesCarryPlusNewSamples) {
  b.carry = carry_samples;
  fill(0, carry_samples + block_frames);
  slice_pass(b, block_frames, 0);
  // The whole block sliced, the carry behind it held back.
  EXPECT_EQ(b.right[block_frames - 1], static_cast<uint8_t>(original[block_frames - 1] - 128));
  for (int j = 0; j < carry_samples; ++j) EXPECT_EQ(b.right[j], original[block_frames + j]);
}

TEST_F(Pass, EmptyLaterBlockLeavesCarryInPlace) {
  b.carry = carry_samples;
  fill(0, carry_samples);
  slice_pass(b, 0, 0);
  for (int j = 0; j < carry_samples; ++j) EXPECT_EQ(b.right[j], original[j]);
}

TEST_F(Pass, ShortBlockCarriesOverlappingRange) {
  b.carry = carry_samples;
  fill(0, carry_samples + 50);
  slice_pass(b, 50, 0);  // len 50: the source range overlaps the destination
  for (int j = 0; j < carry_samples; ++j) EXPECT_EQ(b.right[j], original[50 + j]) << j;
}

TEST_F(Pass, EmptyFirstBlockCarriesMiddleLevel) {
  fill(0, carry_samples);
  slice_pass(b, 0, 0);
  EXPECT_EQ(b.carry, carry_samples);
  for (int j = 0; j < carry_samples; ++j) EXPECT_EQ(b.right[j], 128);
}

// A worker that finishes some time after the run flag is cleared.
int slow_worker() {
  while (run_flag.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  worker_done.store(1, std::memory_order_release);
  return 0;
}

TEST_F(Worker, ProgramWaitsForWorkerTeardown) {
  worker_parts.dialog_ms = 50;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run_program(slow_worker), 0);
  EXPECT_EQ(worker_done.load(), 1);
  EXPECT_EQ(run_flag.load(), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

// From here on the kernel refuses to create threads (clone and clone3 fail with EAGAIN),
// as it does when a process has run out of them.
void refuse_threads() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program);
}

int never_started() {
  std::abort();
}

TEST_F(Worker, ProgramEndsWhenWorkerThreadCannotStart) {
  GTEST_FLAG_SET(death_test_style, "fast");
  worker_parts.dialog_ms = 10;
  EXPECT_EXIT(
      {
        console_stream = stderr;
        alarm(5);  // a program that waits for a worker that never started fails here
        refuse_threads();
        _exit(run_program(never_started));  // no exit handlers: the leak checker needs a thread
      },
      ::testing::ExitedWithCode(0), "CreateThread ERROR!\n");
}

}  // namespace
}  // namespace tavrel
