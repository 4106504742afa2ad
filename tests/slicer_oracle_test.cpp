// The fast slicer and frame test against the plain ones, run by run and window by
// window, on tag signals, on bytes near the thresholds and on arbitrary bytes.

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "capture/wave_capture.hpp"
#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "frontend/level_slicer.hpp"
#include "platform/console.hpp"
#include "synth/tag_signal.hpp"
#include "tests/support/plain_decoder.hpp"

namespace tavrel {
namespace {

struct SliceRun {
  int32_t level;
  int32_t length;
  bool operator==(const SliceRun&) const = default;
};

struct Seen {
  std::vector<SliceRun> runs;
  int64_t checks = 0;
  int64_t frames = 0;
  int64_t mismatches = 0;  ///< windows where the fast and the plain frame test differ
};

void on_run(void* context, int32_t level, int32_t run_length) {
  static_cast<Seen*>(context)->runs.push_back({level, run_length});
}

void on_check(void* context, FrameCheck result, const Frame& frame) {
  Seen& seen = *static_cast<Seen*>(context);
  uint64_t bits = 0;
  const FrameCheck plain = test::plain_check(half_bit_ring, parity_check.load() != 0, bits);
  ++seen.checks;
  if (result == FrameCheck::ok) ++seen.frames;
  if (plain != result || (result == FrameCheck::ok && bits != frame.bits)) ++seen.mismatches;
}

void on_plain_run(void* context, int32_t level, int32_t run_length) {
  static_cast<std::vector<SliceRun>*>(context)->push_back({level, run_length});
}

enum class Kind { tag, near_thresholds, arbitrary };

// `n` unsigned samples of the given kind.
std::vector<uint8_t> signal(Kind kind, size_t n, uint32_t seed) {
  std::vector<uint8_t> out;
  std::mt19937 random{seed};
  if (kind == Kind::tag) {
    TagSignal tag;
    tag.options.noise = 0.05;
    tag.options.jitter = 1.5;
    tag.random.seed(seed);
    append_frames(tag, tag_frame(0x0102030405 + seed), static_cast<int>(n / 1500 + 1), out);
  } else if (kind == Kind::near_thresholds) {
    // Runs of -23..-21, 21..23 and the middle, so that every comparison is on an edge.
    constexpr uint8_t values[] = {105, 106, 107, 149, 150, 151, 128};
    while (out.size() < n) out.insert(out.end(), random() % 24, values[random() % 7]);
  } else {
    while (out.size() < n) out.push_back(static_cast<uint8_t>(random()));
  }
  out.resize(n);
  return out;
}

class SlicerOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    decode_restart();
    sink = std::tmpfile();
    console_stream = sink;
    watch = {on_run, on_check, &seen};
    decode_watch = &watch;
  }
  void TearDown() override {
    decode_watch = nullptr;
    console_stream = stdout;
    std::fclose(sink);
  }

  // Slices `samples` both ways at `offset` into a guarded buffer and compares runs,
  // converted samples and the bytes behind len, which neither may touch.
  void compare(const std::vector<uint8_t>& samples, int32_t offset, int32_t invert) {
    std::vector<uint8_t> fast(static_cast<size_t>(offset), 77);
    fast.insert(fast.end(), samples.begin(), samples.end());
    fast.insert(fast.end(), 70, 0);  // a low guard that would end any run if it were read
    std::vector<uint8_t> plain = fast;
    const auto len = static_cast<int32_t>(samples.size());

    seen.runs.clear();
    slice_block(fast.data() + offset, len, invert);
    std::vector<SliceRun> plain_runs;
    test::plain_slice(plain.data() + offset, len, invert, on_plain_run, &plain_runs);

    ASSERT_EQ(seen.runs, plain_runs) << "len " << len << " offset " << offset;
    ASSERT_EQ(fast, plain) << "len " << len << " offset " << offset;
  }

  Seen seen;
  DecodeWatch watch{};
  std::FILE* sink = nullptr;
};

TEST_F(SlicerOracle, SameRunsAndSamplesAtEveryLengthAndAlignment) {
  for (Kind kind : {Kind::tag, Kind::near_thresholds, Kind::arbitrary}) {
    for (int32_t len : {0, 1, 2, 63, 64, 65, 127, 128, 129, 191, 1000, block_frames}) {
      for (int32_t offset : {0, 1, 15, 63}) {
        const auto samples = signal(kind, static_cast<size_t>(len), static_cast<uint32_t>(len));
        compare(samples, offset, len & 1);
      }
    }
  }
  EXPECT_EQ(seen.mismatches, 0);
}

TEST_F(SlicerOracle, SameFrameTestOnEveryWindow) {
  // Long tag signals, both options, so that most windows are near-frames.
  for (int32_t parity : {1, 0}) {
    parity_check = parity;
    for (uint32_t seed = 0; seed < 8; ++seed) compare(signal(Kind::tag, block_frames, seed), 0, 0);
  }
  EXPECT_GT(seen.frames, 8);
  EXPECT_GT(seen.checks, 10000);
  EXPECT_EQ(seen.mismatches, 0);
}

}  // namespace
}  // namespace tavrel
