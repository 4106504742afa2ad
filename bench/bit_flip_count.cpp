// Wrong numbers from damaged frames. Every frame of a random tag (first nibble 0..F in
// turn) has one random bit of 9..63 flipped; the tag's frames are sliced as one block
// and every read whose ID is not the tag's is counted, with the shift of the window it
// came from. With the parity tests on the right count is 0.
//
//   bit_flip_count [FRAMES] [--no-parity]      (default 200000 frames)

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "decode/half_bit_ring.hpp"
#include "frontend/level_slicer.hpp"
#include "platform/console.hpp"
#include "synth/tag_signal.hpp"

using namespace tavrel;

namespace {

constexpr int frames_per_tag = 8;  ///< about 0.26 s of one tag

std::vector<uint64_t> reads;

void on_run(void*, int32_t, int32_t) {}

void on_check(void*, FrameCheck result, const Frame& frame) {
  if (result == FrameCheck::ok) reads.push_back(frame.bits);
}

}  // namespace

int main(int argc, char** argv) {
  long frames = 200000;
  bool parity = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-parity") == 0) {
      parity = false;
    } else {
      frames = std::atol(argv[i]);
    }
  }
  console_stream = std::fopen("/dev/null", "w");
  parity_check = parity ? 1 : 0;
  DecodeWatch watch{on_run, on_check, nullptr};
  decode_watch = &watch;

  std::mt19937_64 random(9);
  std::uniform_int_distribution<int> position(9, 63);
  long all_reads = 0;
  long wrong = 0;
  long shifted[64] = {};  // wrong reads by the shift of their window, 0 = not shifted
  std::vector<uint8_t> samples;
  for (long tag = 0; tag * frames_per_tag < frames; ++tag) {
    const uint64_t id = uint64_t(tag % 16) << 36 | (random() & 0xF'FFFF'FFFF);
    const uint64_t bits = tag_frame(id);
    TagSignal signal;
    samples.clear();
    for (int f = 0; f < frames_per_tag; ++f)
      append_frames(signal, bits ^ frame_bit(position(random)), 1, samples);
    reads.clear();
    slice_block(samples.data(), static_cast<int32_t>(samples.size()), 0);
    all_reads += static_cast<long>(reads.size());
    for (const uint64_t read : reads) {
      if (frame_data(read) == id) continue;
      ++wrong;
      // The clean frame seen k bits late, one bit apart at most (the flipped one).
      for (int k = 0; k < 64; ++k) {
        if (std::popcount(read ^ std::rotl(bits, k)) <= 1) {
          ++shifted[k];
          break;
        }
      }
    }
  }
  std::printf("%ld frames with one bit flipped, parity tests %s: %ld reads, %ld wrong IDs\n",
              frames, parity ? "on" : "off", all_reads, wrong);
  for (int k = 0; k < 64; ++k) {
    if (shifted[k] > 0) std::printf("  window %d bits late: %ld\n", k, shifted[k]);
  }
  return 0;
}
