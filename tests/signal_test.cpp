// Synthesized tag signals through the slicer, ring and register, block by block.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "frontend/level_slicer.hpp"
#include "synth/tag_signal.hpp"
#include "tests/support/console_capture.hpp"

namespace tavrel {
namespace {

constexpr int32_t block = block_frames;

class Signal : public ::testing::Test {
 protected:
  void SetUp() override {
    decode_restart();
    test::console_capture_start(console);
  }
  void TearDown() override { test::console_capture_stop(console); }

  // Slices whole blocks of `samples` as the program does; returns the new log text.
  std::string decode(std::vector<uint8_t> samples, int32_t invert = 0) {
    const std::string before = test::console_capture_text(console);
    for (size_t at = 0; at + block <= samples.size(); at += block) {
      slice_block(samples.data() + at, block, invert);
    }
    return test::console_capture_text(console).substr(before.size());
  }

  // The number of reads in a log.
  static int reads(const std::string& log) {
    int n = 0;
    for (char c : log) n += (c == '\n' || c == '\r');
    return n;
  }

  test::ConsoleCapture console;
};

std::vector<uint8_t> tag(uint64_t id40, double seconds, TagSignalOptions options = {}) {
  TagSignal signal{options};
  return tag_seconds(signal, tag_frame(id40), seconds);
}

TEST_F(Signal, ReadsSeveralTagsInBothPolarities) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 8; ++i) {
    const uint64_t id = random() & 0xFF'FFFF'FFFF;
    const std::string number =
        std::to_string((id >> 16) & 0xFFFF) + "." + std::to_string(id & 0xFFFF);
    for (bool invert : {false, true}) {
      TagSignalOptions options;
      options.invert = invert;
      read_register.last_high = -1;
      const std::string log = decode(tag(id, 0.5, options), invert);
      // A 250 ms block holds about seven frames; those cut by block edges are lost.
      EXPECT_EQ(log.substr(0, number.size() + 1), "\n" + number) << std::hex << id;
      EXPECT_GE(reads(log), 8) << std::hex << id;
      // The wrong polarity turns every 1 into a 0: no header, nothing read.
      EXPECT_EQ(decode(tag(id, 0.5, options), !invert), "");
    }
  }
}

TEST_F(Signal, AmplitudeMustCrossThresholds) {
  TagSignalOptions options;
  options.amplitude = (high_threshold + 1) / 128.0;
  EXPECT_GE(reads(decode(tag(0x12'3456'789A, 0.25, options))), 4);
  options.amplitude = (high_threshold - 1) / 128.0;
  EXPECT_EQ(decode(tag(0x12'3456'789A, 0.25, options)), "");
}

TEST_F(Signal, ToleratesOffsetJitterAndModerateNoise) {
  TagSignalOptions options;
  options.dc_offset = 0.1;
  options.jitter = 1.0;
  options.noise = 0.04;
  EXPECT_GE(reads(decode(tag(0xAB'CDEF'0123, 1.0, options))), 16);
}

TEST_F(Signal, ReadsClockWithinRunWindows) {
  // The run windows (min_run..long_run-1 and long_run..max_run samples), later high runs
  // one shorter, admit bit periods of about 22 to 32 samples.
  for (double bit_samples : {22.5, 24.576, 30.0}) {
    TagSignalOptions options;
    options.bit_samples = bit_samples;
    read_register.last_high = -1;
    EXPECT_GE(reads(decode(tag(0x01'0203'0405, 0.5, options))), 4) << bit_samples;
  }
}

TEST_F(Signal, NoiseNeverReadsWithParityOn) {
  std::mt19937 random(11);
  for (double sigma : {10.0, 25.0, 40.0, 80.0}) {
    std::normal_distribution<double> noise(128.0, sigma);
    std::vector<uint8_t> samples(block * 40);  // 10 s
    for (auto& s : samples) s = static_cast<uint8_t>(std::clamp(noise(random), 0.0, 255.0));
    EXPECT_EQ(decode(samples), "") << sigma;
  }
}

TEST_F(Signal, WrongRowParityReadOnlyWithoutCheck) {
  TagSignal signal;
  std::vector<uint8_t> samples;
  append_frames(signal, tag_frame(0x00'0001'0002) ^ frame_bit(28), 40, samples);
  EXPECT_EQ(decode(samples), "");
  parity_check = 0;
  EXPECT_EQ(decode(samples).substr(0, 4), "\n1.2");
}

TEST(TagSignalRender, StreamsWhatAppendWritesAndStopsWithItsSink) {
  TagSignalOptions options;
  options.noise = 0.05;
  options.jitter = 1.5;
  const uint64_t bits = tag_frame(0x84'0004'3916);
  const int64_t samples = 40000;  // the tag leaves the field within a frame
  TagSignal whole{options};
  std::vector<uint8_t> expected;
  append_silence(whole, 777, expected);
  append_frames(whole, bits, 26, expected);
  expected.resize(777 + samples);

  TagSignal streamed{options};
  std::vector<uint8_t> got;
  int pieces = 0;
  const SignalSink keep = [&](const uint8_t* s, int32_t n) {
    got.insert(got.end(), s, s + n);
    return ++pieces < 1000;
  };
  ASSERT_TRUE(render_silence(streamed, 777, keep));
  ASSERT_TRUE(render_tag(streamed, bits, samples, keep));
  EXPECT_EQ(got, expected);
  EXPECT_GT(pieces, 20) << "handed over frame by frame, not at once";
  EXPECT_EQ(streamed.written, 777 + samples);

  pieces = 995;
  EXPECT_FALSE(render_tag(streamed, bits, samples, keep)) << "a refusing sink stops it";
  EXPECT_EQ(pieces, 1000);
}

}  // namespace
}  // namespace tavrel
