// The vector stereo split against the plain one, at lengths around its step of 16.

#include <gtest/gtest.h>

#include <vector>

#include "io/stereo_split.hpp"

namespace tavrel {
namespace {

TEST(StereoSplit, PicksEitherChannelAtAnyLength) {
  std::vector<uint8_t> frames(2 * 1000 + 1);
  for (size_t i = 0; i < frames.size(); ++i) frames[i] = static_cast<uint8_t>(i * 37 + 11);
  for (int32_t n : {0, 1, 15, 16, 17, 31, 32, 33, 1000}) {
    for (int channel : {0, 1}) {
      std::vector<uint8_t> out(1001, 0xAA);                     // the byte behind n must stay
      split_stereo(frames.data() + 1, n, channel, out.data());  // unaligned on purpose
      for (int32_t i = 0; i < n; ++i) ASSERT_EQ(out[i], frames[1 + 2 * i + channel]) << n;
      EXPECT_EQ(out[n], 0xAA) << n;
    }
  }
}

}  // namespace
}  // namespace tavrel
