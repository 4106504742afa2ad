// The half-bit ring, frame tests and read register, fed with runs directly.

#include <gtest/gtest.h>
#include <random>

#include <string>

#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "synth/tag_signal.hpp"
#include "tests/support/console_capture.hpp"

namespace tavrel {
namespace {

constexpr int32_t half_run = 12;  // samples: one half-bit

class Decode : public ::testing::Test {
 protected:
  void SetUp() override {
    decode_restart();
    test::console_capture_start(console);
  }
  void TearDown() override { test::console_capture_stop(console); }

  std::string log() { return test::console_capture_text(console); }

  test::ConsoleCapture console;
};

// The half-bits of a frame, one run each.
void push_half_bits(uint64_t bits, int from = 0, int to = ring_size) {
  for (int k = from; k < to; ++k) {
    const int bit = (bits >> (63 - k / 2)) & 1;
    const int level = (k % 2 == 0) ? !bit : bit;  // a 1 bit is (0, 1)
    push_run(level, half_run);
  }
}

constexpr uint64_t id40(int high, int low) {
  return uint64_t(high) << 16 | uint64_t(low);
}

TEST_F(Decode, RunLengthWindows) {
  struct Case {
    int32_t length;
    int32_t half_bits;
  };
  for (Case c : {Case{min_run - 1, 0},
                 {min_run, 1},
                 {long_run - 1, 1},
                 {long_run, 2},
                 {max_run, 2},
                 {max_run + 1, 0},
                 {0, 0},
                 {-5, 0}}) {
    reset();
    push_run(1, c.length);
    EXPECT_EQ(half_bit_ring.count, c.half_bits) << "run of " << c.length;
    for (int k = 0; k < c.half_bits; ++k) EXPECT_EQ(half_bit_ring.levels[k], 1);
  }
}

// Frames written out by hand, first bit sent on the left: nine header 1s, ten rows of four
// data bits and their even parity, four column parities, the stop bit. They are the
// oracle for both the frame test and the encoder, so that a fault in one cannot hide a
// fault in the other.
struct HandFrame {
  uint64_t bits;
  uint64_t id40;
  const char* shown;
};
//  header   row 0 row 1 row 2 row 3 row 4 row 5 row 6 row 7 row 8 row 9 cols stop
constexpr HandFrame hand_frames[] = {
    {0b111111111'00000'00000'00000'00000'00000'00000'00000'00000'00000'00011'0001'0, 0x00'0000'0001,
     "\n0.1"},
    {0b111111111'00000'00000'00011'00000'00000'00000'00000'00000'00000'00000'0001'0, 0x00'1000'0000,
     "\n4096.0"},
    {0b111111111'00000'00000'00000'00000'00000'00000'00000'00000'00000'00000'0000'0, 0x00'0000'0000,
     "\n0.0"},
    {0b111111111'00000'00000'11110'11110'11110'11110'00000'00000'00000'00000'0000'0, 0x00'FFFF'0000,
     "\n65535.0"},
    {0b111111111'00110'10100'00000'01001'11011'00101'11110'11110'11110'11110'0010'0, 0x3A'04D2'FFFF,
     "\n1234.65535"},
    // The first data bit is 1: ten 1 bits in a row before the first 0.
    {0b111111111'10001'01001'00000'00000'00000'01001'00110'10010'00011'01100'0101'0, 0x84'0004'3916,
     "\n4.14614"},
    // The tags of the real captures in tests/data/real.
    {0b111111111'00011'10010'00000'00000'01001'11110'00101'01001'01100'11110'1100'0, 0x19'004F'246F,
     "\n79.9327"},
    {0b111111111'00011'11110'00000'00000'01001'01001'11011'11101'10010'11000'1000'0, 0x1F'0044'DE9C,
     "\n68.56988"},
    {0b111111111'00101'10010'00000'00000'01001'11110'01111'00101'11110'10111'0001'0, 0x29'004F'72FB,
     "\n79.29435"},
};

TEST_F(Decode, ReadsHandWrittenFrames) {
  for (const HandFrame& c : hand_frames) {
    read_register.last_high = -1;
    reset();
    const std::string before = log();
    push_half_bits(c.bits);
    EXPECT_EQ(log().substr(before.size()), c.shown);
    Frame frame{};
    EXPECT_EQ(check_frame(half_bit_ring, true, frame), FrameCheck::ok) << c.shown;
    EXPECT_EQ(frame.bits, c.bits) << c.shown;
    EXPECT_EQ(frame_data(c.bits), c.id40) << c.shown;
  }
}

TEST_F(Decode, EncoderWritesHandWrittenFrames) {
  for (const HandFrame& c : hand_frames) EXPECT_EQ(tag_frame(c.id40), c.bits) << c.shown;
}

TEST_F(Decode, RejectsHeaderOfEightOnes) {
  Frame frame{};
  push_half_bits(tag_frame(0x0400043916) & ~frame_bit(8));
  EXPECT_EQ(check_frame(half_bit_ring, false, frame), FrameCheck::header);
  EXPECT_EQ(log(), "");
}

TEST_F(Decode, NeedsFullWindowSinceReset) {
  push_half_bits(tag_frame(id40(7, 7)));
  EXPECT_EQ(log(), "\n7.7");
  // The ring still holds the whole frame, aligned at its oldest slot, but it belongs to
  // the previous block.
  reset();
  Frame frame{};
  EXPECT_EQ(check_frame(half_bit_ring, true, frame), FrameCheck::too_few);
  half_bit_ring.count = ring_size - 1;
  EXPECT_EQ(check_frame(half_bit_ring, true, frame), FrameCheck::too_few);
  half_bit_ring.count = ring_size;
  EXPECT_EQ(check_frame(half_bit_ring, true, frame), FrameCheck::ok);
}

TEST_F(Decode, ParityTestsFollowTheOption) {
  const uint64_t good = tag_frame(id40(300, 400));
  struct Case {
    uint64_t flip;
    FrameCheck with_check;
  };
  for (Case c :
       {Case{frame_bit(13), FrameCheck::row_parity},                    // row 0 parity
        {frame_bit(58), FrameCheck::row_parity},                        // row 9 parity
        {frame_bit(62), FrameCheck::column_parity},                     // column 3 parity
        {frame_bit(20) | frame_bit(23), FrameCheck::column_parity}}) {  // data + row parity
    Frame frame{};
    reset();
    push_half_bits(good ^ c.flip);
    EXPECT_EQ(check_frame(half_bit_ring, true, frame), c.with_check);
    EXPECT_EQ(check_frame(half_bit_ring, false, frame), FrameCheck::ok);
  }
  const std::string before = log();
  parity_check = 1;
  reset();
  push_half_bits(good ^ frame_bit(13));
  EXPECT_EQ(log(), before);
  parity_check = 0;
  reset();
  push_half_bits(good ^ frame_bit(13));
  EXPECT_EQ(log().substr(before.size()), "\n300.400");
}

TEST_F(Decode, StopBitMustBeZeroAndAValidPair) {
  const uint64_t bits = tag_frame(id40(1, 2));
  Frame frame{};
  push_half_bits(bits | frame_bit(63));
  EXPECT_EQ(check_frame(half_bit_ring, true, frame), FrameCheck::stop_bit);
  EXPECT_EQ(log(), "");

  reset();
  push_half_bits(bits, 0, 127);
  push_run(1, half_run);  // stop pair (1, 1)
  EXPECT_EQ(check_frame(half_bit_ring, true, frame), FrameCheck::manchester);
}

// One flipped bit in every frame, over tags of every first nibble: parity or the stop bit
// must catch each, including the windows a few bits late that a run of 1 bits opens.
TEST_F(Decode, NoWrongNumberFromOneFlippedBit) {
  std::mt19937_64 random(7);
  int wrong = 0;
  for (uint64_t nibble = 0; nibble < 16; ++nibble) {
    const uint64_t id = nibble << 36 | (random() & 0xF'FFFF'FFFF);
    const uint64_t bits = tag_frame(id);
    for (int position = 9; position < 64; ++position) {
      const uint64_t damaged = bits ^ frame_bit(position);
      reset();
      for (int repeat = 0; repeat < 3; ++repeat) push_half_bits(damaged);
      wrong += read_register.last_high != -1 &&
               (read_register.last_high != static_cast<int32_t>((id >> 16) & 0xFFFF) ||
                read_register.last_low != static_cast<int32_t>(id & 0xFFFF));
      read_register.last_high = -1;
      read_register.last_low = -1;
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(Decode, RejectsAnyEqualPair) {
  const uint64_t bits = tag_frame(id40(5, 6));
  for (int pair : {9, 30, 62}) {
    for (int level : {0, 1}) {
      Frame frame{};
      reset();
      push_half_bits(bits, 0, 2 * pair);
      push_run(level, half_run);
      push_run(level, half_run);
      push_half_bits(bits, 2 * pair + 2, ring_size);
      EXPECT_EQ(check_frame(half_bit_ring, false, frame), FrameCheck::manchester);
    }
  }
  EXPECT_EQ(log(), "");
}

TEST_F(Decode, LongRunCompletesFrameAndWindowMovesOn) {
  // The stop bit 0 is (1, 0); its low half merges with the next header's first low half.
  const uint64_t bits = tag_frame(id40(9, 9));
  push_half_bits(bits, 0, 127);
  push_run(0, 24);
  EXPECT_EQ(half_bit_ring.count, 129);
  EXPECT_EQ(log(), "\n9.9");
  // The rest of the next frame completes it once more.
  push_half_bits(bits, 1, ring_size);
  EXPECT_EQ(log(), "\n9.9\r9.9 - 0      ");
}

TEST_F(Decode, RegisterCountsRepeatsAndLogsByteForByte) {
  for (int i = 0; i < 5; ++i) record(12, 34);
  EXPECT_EQ(read_register.repeat_count, 4);
  EXPECT_EQ(log(),
            "\n12.34"
            "\r12.34 - 0      "
            "\r12.34 - 1      "
            "\r12.34 - 2      "
            "\r12.34 - 3      ");
}

TEST_F(Decode, RegisterStartsNewLineForEachNewTag) {
  record(0, 0);  // the first read is new even though nothing was read before
  EXPECT_EQ(read_register.repeat_count, 0);
  record(1, 0);
  record(1, 0);
  EXPECT_EQ(read_register.repeat_count, 1);
  record(1, 1);  // a change of id_low alone is a new tag
  EXPECT_EQ(read_register.repeat_count, 0);
  record(1, 0);
  EXPECT_EQ(read_register.last_high, 1);
  EXPECT_EQ(read_register.last_low, 0);
  EXPECT_EQ(read_register.repeat_count, 0);
  EXPECT_EQ(log(), "\n0.0\n1.0\r1.0 - 0      \n1.1\n1.0");
}

TEST_F(Decode, RepeatsCountAcrossBlocks) {
  const uint64_t bits = tag_frame(id40(77, 88));
  for (int block = 0; block < 3; ++block) {
    reset();
    push_half_bits(bits);
  }
  EXPECT_EQ(read_register.repeat_count, 2);
  EXPECT_EQ(log(), "\n77.88\r77.88 - 0      \r77.88 - 1      ");
}

}  // namespace
}  // namespace tavrel
