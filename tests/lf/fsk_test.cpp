// The FSK families and their demodulator: the fact sheet's worked examples, frames each
// family must refuse, a real HID capture, synthesized tags under what a user's reader and
// sound card do to them, and signals that carry no FSK tag.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lf/demod/fsk.hpp"
#include "lf/demod/fsk_sums.hpp"
#include "lf/family_table.hpp"
#include "synth/fsk_signal.hpp"
#include "synth/tag_signal.hpp"
#include "tests/support/fsk_search.hpp"

namespace tavrel {
namespace {

using test::fsk_families;
using test::fsk_search;
using test::FskRead;

std::string hex(const FrameBits& f) {
  char text[max_frame_symbols / 4 + 1];
  frame_hex(f, text);
  return text;
}

FrameBits from_hex(const char* text) {
  FrameBits f{};
  EXPECT_TRUE(frame_from_hex(text, f)) << text;
  return f;
}

std::string number_of(const Fields& fields) {
  const Field* number = field_find(fields, "number");
  return number ? number->text : "(none)";
}

struct Example {
  const Family* family;
  const char* frame;
  const char* number;
  const char* form;  ///< what tavrel-gen is given for it
  std::vector<std::pair<const char*, int64_t>> integers;
};

// The frames are the fact sheet's, from real captures except the computed 35-bit one.
const std::vector<Example>& examples() {
  static const std::vector<Example> all = {
      {&family_hid,
       "1D5559555569A9A555A59569",
       "FC 118 CN 1603",
       "26:118:1603",
       {{"bits", 26}, {"facility", 118}, {"card", 1603}}},
      {&family_hid, "1D555955556955595555565A", "FC 1 CN 9", "26:1:9", {}},
      {&family_hid, "1D5559555569A959599A5656", "FC 113 CN 5512", "26:113:5512", {}},
      {&family_hid, "1D55595656A556A56699AAA9", "FC 14 CN 11647", "32:1C1C5AFE", {{"bits", 32}}},
      {&family_hid,
       "1D5559A955A9A55555A5956A",
       "company 118 CN 1603",
       "35:118:1603",
       {{"bits", 35}}},
      {&family_hid_long,
       "1D96A9555555555555555556655555556A69555555A59569",
       "company 118 CN 1603",
       "48:118:1603",
       {{"bits", 48}, {"facility", 118}, {"card", 1603}}},
      {&family_awid, "011DBE11148E281111111111", "FC 224 Card 1337", "26:224:1337", {{"bits", 26}}},
      {&family_awid,
       "0128B12EB1811D7117E22111",
       "FC 2001 Card 13371337",
       "50:2001:13371337",
       {{"bits", 50}, {"card", 13371337}}},
      {&family_awid, "011D817D1181711111111111", "FC 15 Card 259", "26:15:259", {}},
      {&family_ioprox,
       "007840603059CF3F",
       "XSF(01)01:01337",
       "XSF(01)01:01337",
       {{"facility", 1}, {"version", 1}, {"card", 1337}}},
      {&family_ioprox, "00784EE03AEDADC3", "XSF(01)3b:44725", "XSF(01)3b:44725", {}},
      {&family_ioprox, "00786FA030BE1E0B", "XSF(01)be:03011", "XSF(01)be:03011", {}},
      {&family_paradox,
       "0F55555695596A6A9999A59A",
       "FC 96, Card 40426",
       "96:40426",
       {{"facility", 96}, {"card", 40426}}},
      {&family_pyramid,
       "00010101010101010101016EB35E5DA4",
       "FC 123 Card 11223",
       "123:11223",
       {{"bits", 26}, {"facility", 123}, {"card", 11223}}},
      {&family_pyramid, "000101010101010101010140016B4C23", "FC 0 Card 3411", "0:3411", {}},
      {&family_fdxa, "551D9555955555569A665A56", "0000013531", "0000013531", {}},
  };
  return all;
}

TEST(FskFamilies, WorkedExamplesDecodeToTheirNumberAndEncodeToTheirFrame) {
  for (const Example& e : examples()) {
    const FrameBits frame = from_hex(e.frame);
    ASSERT_EQ(frame.count, e.family->frame_symbols) << e.frame;
    Fields fields{};
    ASSERT_EQ(e.family->decode(frame, fields), frame_passed) << e.frame;
    EXPECT_EQ(number_of(fields), e.number) << e.frame;
    for (const auto& [name, value] : e.integers) {
      const Field* field = field_find(fields, name);
      ASSERT_TRUE(field) << e.frame << " " << name;
      EXPECT_EQ(field->integer, value) << e.frame << " " << name;
    }
    for (int32_t i = 0; i < fields.count; ++i) {
      bool listed = false;
      for (const char* const* name = e.family->fields; *name; ++name)
        listed |= std::string(*name) == fields.items[i].name;
      EXPECT_TRUE(listed) << e.frame << " " << fields.items[i].name;
    }
    for (const char* form : {e.form, e.frame}) {
      FrameBits encoded{};
      ASSERT_TRUE(e.family->encode(form, encoded)) << form;
      EXPECT_EQ(hex(encoded), e.frame) << form;
    }
  }
}

TEST(FskFamilies, RefusesBrokenFramesWithTheirReason) {
  struct Case {
    const Family* family;
    const char* frame;
    const char* reason;
  };
  const Case cases[] = {
      {&family_hid, "1D5559555569A9A555A5956A", "parity"},      // last bit flipped
      {&family_hid, "1D5559555569A9A555A5956B", "manchester"},  // last pair 1,1
      {&family_hid, "1D6559555569A9A555A59569", "header bits"},
      // FDX-A 0212345678 from its 9th symbol: it passes HID's framing as a 35-bit message.
      {&family_hid, "1D555996595A65A669AA9555", "fdx-a frame"},
      {&family_awid, "011DBE11148E281111111110", "group parity"},
      {&family_awid, "011DBE11148E281111111171", "padding"},
      {&family_ioprox, "007840603051CF3F", "separator"},
      {&family_ioprox, "007840603059EF3F", "checksum"},
      {&family_paradox, "0F5555569559AA6A9999A59A", "crc"},
      {&family_paradox, "0F55555695596A6A9999A599", "tail"},
      {&family_pyramid, "00010101010101010101016EB35E5DA5", "crc"},
      {&family_fdxa, "551D9555955555569A665A55", "parity"},
  };
  for (const Case& c : cases) {
    Fields fields{};
    const Verdict v = c.family->decode(from_hex(c.frame), fields);
    ASSERT_GT(v, 0) << c.frame;
    ASSERT_LT(v, c.family->reason_count) << c.frame;
    EXPECT_STREQ(c.family->reasons[v], c.reason) << c.frame;
  }
}

// Forms the sheet has no captured frame for (34 and 37 bits follow public tables, the rest
// are generic messages) give back what they were made from.
TEST(FskFamilies, EncodesUncapturedFormsThatDecodeToTheirNumber) {
  struct Case {
    const Family* family;
    const char* form;
    const char* number;
  };
  const Case cases[] = {
      {&family_hid, "34:1000:50000", "FC 1000 CN 50000"},
      {&family_hid, "37:1000:300000", "FC 1000 CN 300000"},
      {&family_hid, "30:2ABCDEF", "30-bit 02ABCDEF"},
      {&family_hid_long, "60:123456789ABCDEF", "60-bit 123456789ABCDEF"},
      {&family_awid, "34:200:1000000", "FC 200 Card 1000000"},
      {&family_awid, "37:65535:524287", "FC 65535 Card 524287"},
      {&family_awid, "40:ABCDEF0123", "40-bit ABCDEF0123"},
  };
  for (const Case& c : cases) {
    FrameBits frame{};
    ASSERT_TRUE(c.family->encode(c.form, frame)) << c.form;
    Fields fields{};
    ASSERT_EQ(c.family->decode(frame, fields), frame_passed) << c.form;
    EXPECT_EQ(number_of(fields), c.number) << c.form;
  }
  for (const char* bad : {"", "26:256:1", "26:1:65536", "27:1:1", "25:1FFFFFF", "26:1:2:3", "x:1:2",
                          "26:-1:5", "26:99999999999999999999:1"}) {
    FrameBits frame{};
    EXPECT_FALSE(family_hid.encode(bad, frame)) << bad;
    EXPECT_FALSE(family_awid.encode(bad, frame)) << bad;
  }
  FrameBits frame{};
  EXPECT_FALSE(family_fdxa.encode("0080000000", frame));  // a value above 7F
  EXPECT_FALSE(family_ioprox.encode("XSF(01)100:00001", frame));
  EXPECT_FALSE(family_paradox.encode("256:1", frame));
}

// A frame of one family, sent over and over in either tone convention, cut at every
// symbol, never passes another family's decode: not FDX-A as HID, not IO Prox as Paradox.
TEST(FskFamilies, NoFrameReadsAsAnotherFamily) {
  for (const Example& e : examples()) {
    const FrameBits frame = from_hex(e.frame);
    for (const int swap : {0, 1}) {
      std::vector<int> stream;
      for (int r = 0; r < 4; ++r) {
        for (int32_t i = 0; i < frame.count; ++i) stream.push_back(frame_symbol(frame, i) ^ swap);
      }
      for (const Family* other : fsk_families()) {
        if (std::string(other->name) == e.family->name) continue;
        for (size_t start = 0; start + other->frame_symbols <= stream.size(); ++start) {
          FrameBits cut{};
          for (int32_t i = 0; i < other->frame_symbols; ++i)
            frame_append(cut, static_cast<uint64_t>(stream[start + i]), 1);
          Fields fields{};
          EXPECT_NE(other->decode(cut, fields), frame_passed)
              << e.frame << " as " << other->name << " at " << start << " swap " << swap;
        }
      }
    }
  }
}

TEST(FskDemod, FindsTheFrameOfARealHidCaptureRepeatedly) {
  const std::vector<uint8_t> samples =
      test::right_channel(TAVREL_REAL_DATA, "hid_ata5577_26_48k_u8x2.raw");
  ASSERT_EQ(samples.size(), 72000u);
  const std::vector<uint8_t> symbols = test::fsk_symbols(samples, sample_rate, 50);
  const FrameBits frame = from_hex("1D5559555569A9A555A59569");
  int found = 0;
  for (size_t at = 0; at + 96 <= symbols.size(); ++at) {
    bool same = true;
    for (int32_t i = 0; i < 96 && same; ++i) same = symbols[at + i] == frame_symbol(frame, i);
    found += same;
  }
  // One second of tag: 26 frames.
  EXPECT_GE(found, 24);
  const auto reads = fsk_search(samples, sample_rate, fsk_families()).reads;
  EXPECT_GE(reads.size(), 23u);
  for (const FskRead& r : reads) EXPECT_EQ(number_of(r.fields), "FC 118 CN 1603") << r.family->name;
}

struct Condition {
  SignalCondition signal;
  bool swap = false;
  int min_read = 2;  ///< of 2 recordings
};

TEST(FskDemod, ReadsEveryFamilyUnderEachConditionAndNothingWrong) {
  const Condition conditions[] = {
      {{"clean"}},
      {{"gain x0.1", 8}},
      {{"gain x4, clipped", 320}},
      {{"offset +40", 80, 40}},
      {{"offset -40, gain x0.5", 40, -40}},
      {{"ac 5 Hz", 80, 0, 99, 5}},
      {{"ac 300 Hz", 80, 0, 99, 300}},
      {{"drift of the middle", 80, 0, 99, 0, 30}},
      {{"20 dB", 80, 0, 20}},
      {{"10 dB", 80, 0, 10}},
      {{"6 dB", 80, 0, 6}},
      {{"3 dB", 80, 0, 3}, false, 1},
      {{"44100/s", 80, 0, 99, 0, 0, 64, 44100}},
      {{"rate +3 %", 80, 0, 99, 0, 0, 64, sample_rate, 0.03}},
      {{"rate -3 %", 80, 0, 99, 0, 0, 64, sample_rate, -0.03}},
      {{"all at once", 20, 25, 6, 100, 5, 64, 44100, -0.03}},
      {{"tones swapped", 80, 0, 10}, true},
      {{"96000/s", 80, 0, 10, 0, 0, 64, 96000}},
  };
  for (const Condition& row : conditions) {
    const SignalCondition& c = row.signal;
    for (const Example* e = &examples()[0]; e <= &examples().back(); ++e) {
      // The first example of each family.
      if (e != &examples()[0] && (e - 1)->family == e->family) continue;
      const FrameBits frame = from_hex(e->frame);
      int read = 0;
      for (unsigned seed = 1; seed <= 2; ++seed) {
        const std::vector<uint8_t> samples = fsk_condition_recording(
            c, frame, e->family->rates[0], row.swap, seed, e->family->sure_frames + 3);
        const auto reads = fsk_search(samples, c.rate, fsk_families()).reads;
        read += !reads.empty();
        for (const FskRead& r : reads) {
          ASSERT_EQ(std::string(r.family->name), e->family->name) << c.name << " " << e->frame;
          ASSERT_EQ(hex(r.frame), e->frame) << c.name;
          EXPECT_EQ(r.swapped, row.swap) << c.name;
        }
      }
      EXPECT_GE(read, row.min_read) << c.name << " " << e->frame;
    }
  }
}

TEST(FskDemod, DecidesTheSameWhateverThePiecesAndMeasuresTheSignal) {
  const SignalCondition c{"measured", 30, -10, 10, 0, 0, 64, sample_rate, 0.02};
  const std::vector<uint8_t> samples =
      fsk_condition_recording(c, from_hex(examples()[0].frame), 50, false, 3, 8);
  const std::vector<uint8_t> whole = test::fsk_symbols(samples, c.rate, 50, 1 << 20);
  for (const int32_t piece : {1, 7, 1000})
    EXPECT_EQ(test::fsk_symbols(samples, c.rate, 50, piece), whole) << piece;

  // Measured just after the last frame.
  const auto d = std::make_unique<FskDemod>();
  ASSERT_TRUE(fsk_begin(*d, c.rate, {[](void*, int32_t, const Symbol*, int32_t) {}, nullptr}));
  fsk_take(*d, samples.data(), static_cast<int32_t>(samples.size() - c.rate / 5));
  const SignalMeasure m = fsk_measure(*d, 0);
  EXPECT_NEAR(m.level, 30, 3);
  EXPECT_NEAR(m.offset, -10, 1);
  EXPECT_NEAR(m.snr_db, 10, 2);
  EXPECT_NEAR(m.symbol_samples, 19.2 / 1.02, 0.1);
  EXPECT_GT(fsk_tone_share(*d, 0), 0.8);

  // This build's vector step sums exactly as the plain one, at a rate with a long period.
  const auto plain = std::make_unique<FskDemod>();
  for (FskDemod* demod : {d.get(), plain.get()}) {
    ASSERT_TRUE(fsk_begin(*demod, 44100, {}));
    demod->previous = samples[0];
  }
  const int32_t n = fsk_ring - 1;
  fsk_sum(*d, samples.data(), n);
  fsk_sum_plain(*plain, samples.data(), n);
  EXPECT_EQ(d->table_at, plain->table_at);
  EXPECT_EQ(std::memcmp(d->sums, plain->sums, sizeof d->sums), 0);

  for (const double rate : {8000.0, 32000.0, 44099.0}) {
    EXPECT_FALSE(fsk_begin(*d, rate, {})) << rate;
    EXPECT_EQ(d->lane_count, 0) << rate;
  }
}

TEST(FskDemod, SignalsWithoutAnFskTagGiveNoRead) {
  std::mt19937 random(7);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  const auto interference = [&](const char* name, Interference kind, double level,
                                double frequency) {
    InterferenceOptions o;
    o.kind = kind;
    o.level = level;
    o.frequency = frequency;
    o.offset = 0.01;
    std::vector<uint8_t> out;
    append_interference(o, sample_rate * 3, random, out);
    cases.emplace_back(name, std::move(out));
  };
  interference("white noise", Interference::white_noise, 0.3, 0);
  interference("pink noise", Interference::pink_noise, 0.3, 0);
  interference("clipped noise", Interference::clipped_noise, 0.5, 0);
  interference("telegraph", Interference::telegraph, 0.5, 0);
  for (const double f : {12500.0, 15625.0, 14000.0, 2500.0, 1953.1})
    interference("sine", Interference::sine, 0.5, f);
  for (const double f : {12500.0, 15625.0, 3125.0, 2500.0, 1953.1, 1250.0})
    interference("square", Interference::square_wave, 0.5, f);
  // EM4100 and other Manchester data at the ASK families' rates.
  for (const int clock : {64, 32, 16}) {
    TagSignalOptions o;
    o.bit_samples = clock_bit_samples(sample_rate, clock);
    TagSignal signal{o};
    std::vector<uint8_t> out;
    append_frames(signal, tag_frame(0x19'004F'246F), 60 * 16 / clock, out);
    std::vector<uint8_t> bits(static_cast<size_t>(sample_rate * 2 / o.bit_samples));
    for (auto& b : bits) b = random() & 1;
    append_bits(signal, bits, out);
    cases.emplace_back("manchester", std::move(out));
  }
  // Random FSK symbols at both rates: framing without a family's structure.
  for (const int32_t divider : {50, 64}) {
    FrameBits noise{};
    while (noise.count < max_frame_symbols) frame_append(noise, random() & 1, 1);
    cases.emplace_back("random fsk",
                       fsk_condition_recording({"random"}, noise, divider, false, 1,
                                               static_cast<int>(3 * sample_rate / (256 * 19.2))));
  }
  // Steady tones switched by a square wave at symbol rates.
  for (const int32_t period : {1, 2, 3, 8}) {
    FrameBits steady{};
    for (int32_t i = 0; i < 64; ++i) frame_append(steady, (i / period) & 1, 1);
    cases.emplace_back("tone square",
                       fsk_condition_recording({"square"}, steady, 50, false, 1, 60));
  }
  for (const auto& [name, samples] : cases) {
    const auto reads = fsk_search(samples, sample_rate, fsk_families()).reads;
    EXPECT_TRUE(reads.empty()) << name << ": " << (reads.empty() ? "" : reads[0].family->name);
  }
}

}  // namespace
}  // namespace tavrel
