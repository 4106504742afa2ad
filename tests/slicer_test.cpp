// The level slicer against a stand-in for the half-bit ring that records every call.

#include <gtest/gtest.h>

#include <vector>

#include "capture/wave_capture.hpp"
#include "frontend/level_slicer.hpp"
#include "tests/fakes/ring_fake.hpp"

namespace tavrel {

using Call = test::RingCall;
using test::ring_calls;

namespace {

std::vector<Call> slice(std::vector<uint8_t> samples, int32_t invert = 0, int32_t len = -1) {
  ring_calls.clear();
  slice_block(samples.data(), len < 0 ? static_cast<int32_t>(samples.size()) : len, invert);
  return ring_calls;
}

// Unsigned samples from signed levels.
std::vector<uint8_t> wave(std::initializer_list<std::pair<int, int>> parts) {
  std::vector<uint8_t> out;
  for (auto [value, count] : parts) out.insert(out.end(), count, static_cast<uint8_t>(value + 128));
  return out;
}

const Call reset_call{-1, 0};

TEST(Slicer, MiddleLevelGivesNoRuns) {
  EXPECT_EQ(slice(std::vector<uint8_t>(block_frames, 128)), std::vector<Call>{reset_call});
}

TEST(Slicer, SquareWaveRunLengths) {
  std::vector<uint8_t> samples;
  for (int i = 0; i < 6; ++i) {
    const auto part = wave({{60, 12}, {-60, 12}});
    samples.insert(samples.end(), part.begin(), part.end());
  }
  // Starts high: nothing until the first low, then high 12, low 12, high 11, low 12, ...
  // The last low run is open at the end of the block.
  EXPECT_EQ(slice(samples), (std::vector<Call>{reset_call,
                                               {1, 12},
                                               {0, 12},
                                               {1, 11},
                                               {0, 12},
                                               {1, 11},
                                               {0, 12},
                                               {1, 11},
                                               {0, 12},
                                               {1, 11}}));
}

TEST(Slicer, InvertSwapsLevelsOnly) {
  const auto samples = wave({{-60, 5}, {60, 15}, {-60, 25}, {60, 9}, {-60, 1}});
  EXPECT_EQ(slice(samples, 0), (std::vector<Call>{reset_call, {1, 15}, {0, 25}, {1, 8}}));
  EXPECT_EQ(slice(samples, 1), (std::vector<Call>{reset_call, {0, 15}, {1, 25}, {0, 8}}));
}

TEST(Slicer, ThresholdsAndDeadBand) {
  // Just inside the band continues the run in progress; a threshold itself ends it.
  constexpr int low = low_threshold;
  constexpr int high = high_threshold;
  const auto samples = wave(
      {{-40, 3}, {40, 10}, {low + 1, 4}, {low, 10}, {high - 1, 3}, {high, 10}, {low, 1}, {0, 2}});
  EXPECT_EQ(slice(samples), (std::vector<Call>{reset_call, {1, 14}, {0, 13}, {1, 9}}));
}

TEST(Slicer, LengthLimitsWhatIsReadAndChanged) {
  auto samples = wave({{-40, 10}, {40, 10}, {-40, 10}, {40, 10}});
  samples.push_back(128 - 100);  // would close the last high run if it were read
  std::vector<uint8_t> copy = samples;
  ring_calls.clear();
  slice_block(copy.data(), 40, 0);
  EXPECT_EQ(ring_calls, (std::vector<Call>{reset_call, {1, 10}, {0, 10}}));
  EXPECT_EQ(copy[40], samples[40]);
  EXPECT_EQ(copy[0], static_cast<uint8_t>(-40));  // converted in place to signed
}

TEST(Slicer, EmptyOrNegativeLengthOnlyResets) {
  const auto samples = wave({{-40, 10}, {40, 10}, {-40, 10}});
  for (int32_t len : {0, -1, -100}) {
    std::vector<uint8_t> copy = samples;
    ring_calls.clear();
    slice_block(copy.data(), len, 0);
    EXPECT_EQ(ring_calls, std::vector<Call>{reset_call});
    EXPECT_EQ(copy, samples);
  }
}

}  // namespace
}  // namespace tavrel
