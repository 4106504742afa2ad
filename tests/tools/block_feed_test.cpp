// The worker's pass over one block: what is sliced, what is carried, with the real
// slicer and ring behind it.

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "capture/wave_capture.hpp"
#include "decode/half_bit_ring.hpp"
#include "frontend/block_feed.hpp"

namespace tavrel {
namespace {

constexpr int32_t buffer_size = carry_samples + block_frames;

// Distinct values that stay between the thresholds, so that slicing reports nothing.
std::vector<uint8_t> ramp(int32_t n, int first) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    v[static_cast<size_t>(i)] = static_cast<uint8_t>(110 + (first + i) % 30);
  return v;
}

TEST(BlockFeed, FirstPassHoldsBackLastHundredUnconverted) {
  std::vector<uint8_t> right(buffer_size, 0);
  const auto block = ramp(block_frames, 0);
  std::copy(block.begin(), block.end(), right.begin());
  EXPECT_EQ(feed_block(right.data(), 0, block_frames, 0), carry_samples);
  // Samples 11900..11999, as they came, now at the front.
  EXPECT_TRUE(
      std::equal(right.begin(), right.begin() + carry_samples, block.end() - carry_samples));
}

TEST(BlockFeed, LaterPassSlicesCarryAndAllButLastHundred) {
  std::vector<uint8_t> right(buffer_size, 0);
  const auto held = ramp(carry_samples, 7);
  const auto block = ramp(block_frames, 3);
  std::copy(held.begin(), held.end(), right.begin());
  std::copy(block.begin(), block.end(), right.begin() + carry_samples);
  feed_block(right.data(), carry_samples, block_frames, 0);
  EXPECT_TRUE(
      std::equal(right.begin(), right.begin() + carry_samples, block.end() - carry_samples));
  // len was 12000: the slicer converted samples 0..11999 in place, nothing behind.
  EXPECT_EQ(right[carry_samples + block_frames - 1], block.back());
}

TEST(BlockFeed, EmptyPassKeepsCarriedSamples) {
  std::vector<uint8_t> right(buffer_size, 0);
  const auto held = ramp(carry_samples, 11);
  std::copy(held.begin(), held.end(), right.begin());
  half_bit_ring.count = 500;
  feed_block(right.data(), carry_samples, 0, 0);
  EXPECT_TRUE(std::equal(held.begin(), held.end(), right.begin()));
  EXPECT_EQ(half_bit_ring.count, 0) << "the ring is reset even when nothing is sliced";
}

TEST(BlockFeed, ShortFirstPassKeepsSamplesAsNewestWithoutReadingBeforeBuffer) {
  // Under AddressSanitizer, reaching before right[0] would fail here.
  std::vector<uint8_t> right(buffer_size, 0);
  feed_block(right.data(), 0, 0, 0);
  EXPECT_EQ(std::count(right.begin(), right.begin() + carry_samples, middle_level), carry_samples);

  const auto some = ramp(30, 0);
  std::copy(some.begin(), some.end(), right.begin());
  feed_block(right.data(), 0, 30, 0);
  EXPECT_EQ(std::count(right.begin(), right.begin() + 70, middle_level), 70);
  EXPECT_TRUE(std::equal(some.begin(), some.end(), right.begin() + 70));
}

}  // namespace
}  // namespace tavrel
