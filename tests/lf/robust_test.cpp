// The tolerant decoding path over the conditions a user's reader and sound card cause,
// over signals that carry no tag, and over real captures.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "decode/half_bit_ring.hpp"
#include "lf/decoder.hpp"
#include "synth/tag_signal.hpp"

namespace tavrel {
namespace {

struct Reads {
  std::vector<TagRead> all;
};

void collect(void* context, const TagRead& read) {
  static_cast<Reads*>(context)->all.push_back(read);
}

// Decodes `samples` in pieces of `piece`, so that frames straddle the pieces.
Reads decode(const std::vector<uint8_t>& samples, double rate, int32_t piece = block_frames) {
  static TolerantDecoder d;
  Reads reads;
  tolerant_begin(d, rate, every_family, collect, &reads);
  for (size_t at = 0; at < samples.size(); at += static_cast<size_t>(piece)) {
    const auto n = static_cast<int32_t>(std::min<size_t>(piece, samples.size() - at));
    tolerant_take(d, samples.data() + at, n);
  }
  return reads;
}

uint64_t id_of(const TagRead& r) {
  return frame_data(r.frame.words[0]);
}

struct Condition {
  SignalCondition signal;
  int min_read = 6;  ///< of 6 recordings
};

std::vector<uint8_t> recording(const SignalCondition& c, uint64_t id, bool invert, unsigned seed) {
  return condition_recording(c, id, invert, seed, 16);  // about half a second at RF/64
}

TEST(Robust, ReadsEveryConditionWithNoWrongId) {
  const Condition conditions[] = {
      {{"clean"}},
      {{"swing 4", 4}},
      {{"clipped", 400}},
      {{"offset +40", 80, 40}},
      {{"offset -40", 80, -40}},
      {{"ac 1 Hz", 80, 0, 99, 1}},
      {{"ac 100 Hz", 80, 0, 99, 100}},
      {{"drift 30 at 0.5 Hz", 80, 0, 99, 0, 30}},
      {{"0 dB", 80, 0, 0}},
      {{"-3 dB", 80, 0, -3, 0, 0, 64, sample_rate, 0}, 4},
      {{"44100/s", 80, 0, 99, 0, 0, 64, 44100}},
      {{"8000/s: two samples a half-bit", 80, 0, 99, 0, 0, 64, 8000, 0}, 2},
      {{"rate +3 %", 80, 0, 6, 0, 0, 64, sample_rate, 0.03}},
      {{"rate -3 % at 44100/s", 80, 0, 6, 0, 0, 64, 44100, -0.03}},
      {{"rate +5 %", 80, 0, 99, 0, 0, 64, sample_rate, 0.05}},
      {{"rate -5 %", 80, 0, 99, 0, 0, 64, sample_rate, -0.05}},
      {{"RF/32", 80, 0, 99, 0, 0, 32}},
      {{"RF/32 weak offset", 6, 10, 99, 0, 0, 32}},
      {{"RF/32 3 dB", 80, 0, 3, 0, 0, 32}},
      {{"RF/16", 80, 0, 99, 0, 0, 16}},
      {{"RF/16 at 44100/s, 10 dB", 80, 0, 10, 0, 0, 16, 44100}},
      // Front ends whose coupling makes each half-bit decay, down to spikes at the edges.
      {{.name = "ac 300 Hz, 10 dB", .snr_db = 10, .highpass_hz = 300}},
      {{.name = "ac 3 kHz", .highpass_hz = 3000}},
      {{.name = "ac 3 kHz, 10 dB", .snr_db = 10, .highpass_hz = 3000}},
      {{.name = "ac 3 kHz, offset, RF/32 at 44100/s, rate +3 %",
        .offset = 20,
        .highpass_hz = 3000,
        .clock = 32,
        .rate = 44100,
        .rate_error = 0.03}},
      {{.name = "half-wave", .half_wave = true}},
      {{.name = "clipped at +-10", .clip = 10}},
      {{.name = "low-pass 2 kHz", .lowpass_hz = 2000}},
  };
  std::mt19937_64 random(12);
  for (const Condition& row : conditions) {
    const SignalCondition& c = row.signal;
    int read = 0;
    for (int k = 0; k < 6; ++k) {
      const uint64_t id = random() & 0xFF'FFFF'FFFF;
      const bool invert = k & 1;
      const Reads reads = decode(recording(c, id, invert, static_cast<unsigned>(k + 1)), c.rate);
      read += !reads.all.empty();
      for (const TagRead& r : reads.all) {
        ASSERT_EQ(id_of(r), id) << c.name;
        EXPECT_EQ(r.clock, c.clock) << c.name;
        EXPECT_EQ(r.inverted, invert) << c.name;
      }
    }
    EXPECT_GE(read, row.min_read) << c.name;
  }
}

TEST(Robust, EstimatesLevelOffsetAndNoise) {
  const SignalCondition c{"estimates", 20, -10, 6};
  const Reads reads = decode(recording(c, 0x12'3456'789A, false, 3), c.rate);
  ASSERT_FALSE(reads.all.empty());
  const SignalMeasure& m = reads.all.back().measure;
  EXPECT_NEAR(m.level, 20, 3);
  EXPECT_NEAR(m.offset, -10, 2);
  EXPECT_NEAR(m.snr_db, 6, 2);
  EXPECT_NEAR(m.symbol_samples, 24.576, 0.3);
}

TEST(Robust, ReadsEachFrameOnceAcrossAnyPieces) {
  // 16 frames give 15 pairs; the first frame has no predecessor.
  const SignalCondition c{"pieces"};
  const std::vector<uint8_t> samples = recording(c, 0x0A'0B0C'0D0E, false, 1);
  // Spikes at the edges: the reads wait for the coupling's fit, whose integrals follow
  // the buffer as it moves on, and must come at the same samples whatever the pieces.
  const SignalCondition spikes{.name = "spikes", .offset = -20, .highpass_hz = 3000};
  const std::vector<uint8_t> spiky = recording(spikes, 0x0A'0B0C'0D0E, false, 1);
  const Reads whole = decode(spiky, spikes.rate, 1 << 20);
  EXPECT_GE(whole.all.size(), 10u);
  for (const int32_t piece : {1, 7, 1000, block_frames, 1 << 20}) {
    const Reads reads = decode(samples, c.rate, piece);
    EXPECT_EQ(reads.all.size(), 15u) << piece;
    for (size_t i = 1; i < reads.all.size(); ++i) {
      EXPECT_NEAR(static_cast<double>(reads.all[i].end - reads.all[i - 1].end), 64 * 24.576, 3);
    }
    const Reads pieces = decode(spiky, spikes.rate, piece);
    ASSERT_EQ(pieces.all.size(), whole.all.size()) << piece;
    for (size_t i = 0; i < pieces.all.size(); ++i) {
      EXPECT_EQ(pieces.all[i].end, whole.all[i].end) << piece;
    }
  }
}

TEST(Robust, SignalsWithoutATagGiveNoRead) {
  std::mt19937 random(5);
  const auto interference = [&](Interference kind, double level, double frequency, double offset) {
    InterferenceOptions o;
    o.kind = kind;
    o.level = level;
    o.frequency = frequency;
    o.offset = offset;
    std::vector<uint8_t> out;
    append_interference(o, sample_rate * 3, random, out);
    return out;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> samples;
  };
  std::vector<Case> cases = {
      {"white noise", interference(Interference::white_noise, 0.3, 0, 0)},
      {"pink noise", interference(Interference::pink_noise, 0.3, 0, 0)},
      {"clipped noise", interference(Interference::clipped_noise, 0.5, 0, 0)},
      {"hum", interference(Interference::mains_hum, 0.5, 50, 0.02)},
      {"telegraph", interference(Interference::telegraph, 0.5, 0, 0)},
  };
  // Tones near those that the program's slicer reads as "0.0" (2804 Hz at an offset of
  // 0.05 does), and square waves around the rates.
  for (const double f : {1270.0, 2700.0, 2804.0}) {
    for (const double offset : {0.02, -0.02, 0.05})
      cases.push_back({"sine", interference(Interference::sine, 0.5, f, offset)});
  }
  for (const double f : {500.0, 976.5, 1953.1, 2000.0, 3906.2, 5000.0})
    cases.push_back({"square", interference(Interference::square_wave, 0.5, f, 0.01)});
  // Manchester data that is no EM4100 frame, at each clock.
  for (const int clock : {64, 32, 16}) {
    TagSignalOptions o;
    o.bit_samples = clock_bit_samples(sample_rate, clock);
    TagSignal signal{o};
    std::vector<uint8_t> bits(static_cast<size_t>(sample_rate * 3 / o.bit_samples));
    for (auto& b : bits) b = random() & 1;
    Case c{"manchester data", {}};
    append_bits(signal, bits, c.samples);
    cases.push_back(c);
  }
  // A square wave at the bit rate with one slip: a header and then zeros for ever. The
  // all-zero frame passes every parity, but never twice in a row.
  {
    TagSignal signal;
    std::vector<uint8_t> bits(9, 1);
    bits.resize(6000, 0);
    Case c{"square wave with one slip", {}};
    append_bits(signal, bits, c.samples);
    cases.push_back(c);
  }
  for (const Case& c : cases) EXPECT_TRUE(decode(c.samples, sample_rate).all.empty()) << c.name;
}

TEST(Robust, ReadsRealCapturesInTheirOwnPolarity) {
  struct Capture {
    const char* file;
    uint64_t id;
    size_t min_reads;  ///< of 30 frames: the first has no predecessor
  };
  for (const Capture c : {Capture{"em4100_19004f246f_48k_u8x2.raw", 0x19'004F'246F, 28},
                          {"em4102_1f0044de9c_48k_u8x2.raw", 0x1F'0044'DE9C, 28},
                          {"fk4100_29004f72fb_48k_u8x2.raw", 0x29'004F'72FB, 28},
                          // A fob whose front end turns every edge into a spike: the coupling is
                          // seen and fitted over the first few frames.
                          {"em4100_0400193cbe_fob_48k_u8x2.raw", 0x04'0019'3CBE, 24}}) {
    std::ifstream in(std::string(TAVREL_REAL_DATA) + "/" + c.file, std::ios::binary);
    ASSERT_TRUE(in) << c.file;
    const std::vector<uint8_t> stereo((std::istreambuf_iterator<char>(in)), {});
    std::vector<uint8_t> right;
    for (size_t i = 1; i < stereo.size(); i += 2) right.push_back(stereo[i]);
    const Reads reads = decode(right, sample_rate);
    EXPECT_GE(reads.all.size(), c.min_reads) << c.file;
    for (const TagRead& r : reads.all) {
      EXPECT_EQ(id_of(r), c.id) << c.file;
      EXPECT_TRUE(r.inverted) << c.file;  // as every front end seen so far
    }
  }
}

}  // namespace
}  // namespace tavrel
