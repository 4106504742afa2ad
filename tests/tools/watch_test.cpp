// The watch on the decoding path: what a tool sees of runs and frame tests.

#include <gtest/gtest.h>

#include <vector>

#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "synth/tag_signal.hpp"
#include "tests/support/console_capture.hpp"

namespace tavrel {
namespace {

struct Seen {
  std::vector<int32_t> runs;
  std::vector<FrameCheck> checks;
  std::vector<uint64_t> frames;
  std::vector<int32_t> last_low_at_check;  ///< read register as the callback found it
};

void on_run(void* context, int32_t, int32_t run_length) {
  static_cast<Seen*>(context)->runs.push_back(run_length);
}

void on_check(void* context, FrameCheck result, const Frame& frame) {
  Seen& seen = *static_cast<Seen*>(context);
  seen.checks.push_back(result);
  if (result == FrameCheck::ok) {
    seen.frames.push_back(frame.bits);
    seen.last_low_at_check.push_back(read_register.last_low.load());
  }
}

class Watch : public ::testing::Test {
 protected:
  void SetUp() override {
    half_bit_ring = HalfBitRing{};
    parity_check = 1;
    test::console_capture_start(console);
    decode_watch = &watch;
  }
  void TearDown() override {
    decode_watch = nullptr;
    test::console_capture_stop(console);
  }
  Seen seen;
  DecodeWatch watch{on_run, on_check, &seen};
  test::ConsoleCapture console;
};

void push_frame(uint64_t bits) {
  for (int k = 0; k < 128; ++k) {
    const int bit = (bits >> (63 - k / 2)) & 1;
    push_run(k % 2 == 0 ? !bit : bit, 12);
  }
}

TEST_F(Watch, SeesDroppedRunsButNoTestForThem) {
  push_run(1, 7);
  push_run(0, 33);
  push_run(1, 20);
  EXPECT_EQ(seen.runs, (std::vector<int32_t>{7, 33, 20}));
  EXPECT_EQ(seen.checks.size(), 2u) << "one test per stored half-bit";
}

TEST_F(Watch, ReadIsSeenAfterRecordWithItsBits) {
  reset();
  const uint64_t bits = tag_frame(0x84'0004'3916);
  push_frame(bits);
  ASSERT_EQ(seen.checks.size(), 128u);
  EXPECT_EQ(std::count(seen.checks.begin(), seen.checks.end(), FrameCheck::too_few), 127);
  EXPECT_EQ(seen.checks.back(), FrameCheck::ok);
  EXPECT_EQ(seen.frames, std::vector<uint64_t>{bits});
  EXPECT_EQ(seen.last_low_at_check, std::vector<int32_t>{0x3916});
}

TEST_F(Watch, ReportsWhichTestRejected) {
  reset();
  push_frame(tag_frame(0x12'3456'789A) ^ frame_bit(13));  // row 0 parity
  EXPECT_EQ(seen.checks.back(), FrameCheck::row_parity);
  reset();
  push_frame(tag_frame(0x12'3456'789A) ^ frame_bit(60));  // column 1 parity
  EXPECT_EQ(seen.checks.back(), FrameCheck::column_parity);
  reset();
  push_frame(tag_frame(0x12'3456'789A) ^ frame_bit(2));  // header
  EXPECT_EQ(seen.checks.back(), FrameCheck::header);
  EXPECT_TRUE(seen.frames.empty());
}

}  // namespace
}  // namespace tavrel
