// The ASK families: the fact sheet's worked examples, one damaged symbol, real captures,
// synthesized signals, and signals of other families, noise and test data that must give
// no read. Frames are found here by a decoder small enough to trust: half-symbol levels,
// paired by the family's code, cut at the sync and read when sure, as the frame search does.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "lf/checks.hpp"
#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"
#include "synth/tag_signal.hpp"

namespace tavrel {
namespace {

// ---- a small decoder: levels -> half-symbols -> symbols -> sure frames ----------------

// Half-symbol levels from samples: a threshold with hysteresis about the middle of the
// extremes of the surrounding 40 symbols, runs rounded to whole half-symbols; -1 marks a
// run of no whole number of them.
std::vector<int8_t> slice(const std::vector<uint8_t>& samples, double half) {
  constexpr int64_t block = 16;
  const auto n = static_cast<int64_t>(samples.size());
  std::vector<uint8_t> lows;
  std::vector<uint8_t> highs;
  for (int64_t i = 0; i < n; i += block) {
    const auto piece = samples.begin() + i;
    const auto [lo, hi] = std::minmax_element(piece, piece + std::min(block, n - i));
    lows.push_back(*lo);
    highs.push_back(*hi);
  }
  const auto reach = static_cast<int64_t>(40 * half) / block;  // blocks on either side
  const auto blocks = static_cast<int64_t>(lows.size());
  std::vector<int8_t> halves;
  int level = -1;
  int64_t run = 0;
  double middle = 128;
  double swing = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (i % block == 0) {
      const int64_t from = std::max<int64_t>(0, i / block - reach);
      const int64_t to = std::min(blocks, i / block + reach + 1);
      const double lo = *std::min_element(lows.begin() + from, lows.begin() + to);
      const double hi = *std::max_element(highs.begin() + from, highs.begin() + to);
      middle = (hi + lo) / 2;
      swing = (hi - lo) / 2;
    }
    int now = level;
    if (samples[i] > middle + swing / 4) now = 1;
    if (samples[i] < middle - swing / 4) now = 0;
    if (now == level || swing < 4) {
      ++run;
      continue;
    }
    const auto k = std::lround(static_cast<double>(run) / half);
    if (level >= 0 && k > 0 && k <= 40)
      halves.insert(halves.end(), static_cast<size_t>(k), static_cast<int8_t>(level));
    else if (level >= 0)
      halves.push_back(-1);
    level = now;
    run = 1;
  }
  return halves;
}

// A family's frames as the frame search reads them: its code and rate, its framing and sure
// frames, and its checks, giving the printed number.
struct Reader {
  std::string name;
  Modulation modulation;
  int32_t rate;
  int32_t frame_symbols;
  int32_t gap_symbols;
  int32_t sure_frames;
  uint64_t sync;
  int32_t sync_symbols;
  bool either_polarity;
  std::function<bool(const FrameBits&, std::string&)> check;
};

Reader reader(const Family& f) {
  return {f.name,
          f.modulation,
          f.rates[0],
          f.frame_symbols,
          f.gap_symbols,
          f.sure_frames,
          f.sync,
          f.sync_symbols,
          f.either_polarity,
          [&f](const FrameBits& frame, std::string& number) {
            Fields fields{};
            if (f.decode(frame, fields) != frame_passed) return false;
            number = field_find(fields, "number")->text;
            return true;
          }};
}

// EM4100 at RF/64 or RF/32, whose tags share those codes and rates, with the check its
// family should make.
Reader em4100_reader(int32_t rate) {
  return {"em4100",
          Modulation::ask_manchester,
          rate,
          64,
          0,
          2,
          0x1FF,
          9,
          true,
          [](const FrameBits& frame, std::string& number) {
            char hex[17];
            frame_hex(frame, hex);
            number = hex;
            return em4100_frame_ok(frame) && !em4100_repetition_shared(frame);
          }};
}

const Family* const families[] = {&family_fdxb,      &family_jablotron, &family_nedap,
                                  &family_gproxii,   &family_viking,    &family_noralsy,
                                  &family_presco,    &family_visa2000,  &family_gallagher,
                                  &family_securakey, &family_pac};

std::vector<Reader> all_readers() {
  std::vector<Reader> readers;
  for (const Family* f : families) readers.push_back(reader(*f));
  readers.push_back(em4100_reader(64));
  readers.push_back(em4100_reader(32));
  return readers;
}

// Symbols from pairs of half-symbols starting at `phase`; -1 where the code is broken.
std::vector<int8_t> symbols(const std::vector<int8_t>& h, Modulation m, int phase) {
  std::vector<int8_t> out;
  for (size_t k = static_cast<size_t>(phase); k + 1 < h.size(); k += 2) {
    const int a = h[k];
    const int b = h[k + 1];
    const bool boundary = k > 0 && h[k - 1] >= 0 && h[k - 1] != a;
    int s = -1;
    if (a >= 0 && b >= 0) {
      if (m == Modulation::ask_manchester && a != b) s = a;
      if (m == Modulation::ask_nrz && a == b) s = a;
      if (m == Modulation::ask_biphase && boundary) s = a != b;
      if (m == Modulation::ask_diphase && boundary) s = a == b;
    }
    out.push_back(static_cast<int8_t>(s));
  }
  return out;
}

// "family:number" of every sure read in half-symbols `h` sent at the reader's rate: the
// sync, then sure_frames identical frames one repetition apart with no broken symbol.
std::set<std::string> read(const std::vector<int8_t>& h, const Reader& r) {
  std::set<std::string> reads;
  const int32_t period = r.frame_symbols + r.gap_symbols;
  for (int phase = 0; phase < 2; ++phase) {
    const std::vector<int8_t> s = symbols(h, r.modulation, phase);
    for (int flip = 0; flip < (r.either_polarity ? 2 : 1); ++flip) {
      const auto last =
          static_cast<int64_t>(s.size()) - (r.sure_frames - 1) * period - r.frame_symbols;
      for (int64_t p = 0; p <= last; ++p) {
        FrameBits first{};
        bool sure = true;
        for (int32_t j = 0; j < r.sure_frames && sure; ++j) {
          FrameBits frame{};
          for (int32_t i = 0; i < r.frame_symbols && sure; ++i) {
            const int v = s[static_cast<size_t>(p + j * period + i)];
            sure =
                v >= 0 && (i >= r.sync_symbols ||
                           (v ^ flip) == static_cast<int>(r.sync >> (r.sync_symbols - 1 - i) & 1));
            frame_append(frame, static_cast<uint64_t>(v ^ flip), 1);
          }
          if (j == 0) first = frame;
          sure = sure && std::equal(std::begin(first.words), std::end(first.words), frame.words);
        }
        std::string number;
        if (sure && r.check(first, number)) reads.insert(r.name + ":" + number);
      }
    }
  }
  return reads;
}

// Half-symbols of `repetitions` repetitions of `frame`, as the synthesizer renders them.
std::vector<int8_t> halves_of(const CodedFrame& frame, int repetitions) {
  TagSignalOptions o;
  o.bit_samples = 2;  // a sample per half-symbol
  TagSignal signal{o};
  std::vector<uint8_t> samples;
  for (int k = 0; k < repetitions; ++k) append_frame(signal, frame, samples);
  std::vector<int8_t> h;
  for (const uint8_t v : samples) h.push_back(v > 128);
  return h;
}

FrameBits hex_frame(const char* hex) {
  FrameBits f;
  EXPECT_TRUE(frame_from_hex(hex, f)) << hex;
  return f;
}

// ---- the fact sheet's worked examples --------------------------------------------------

struct Example {
  const Family& family;
  const char* frame;   ///< hex, as the fact sheet gives it
  const char* form;    ///< the friendly form that encodes to it
  const char* number;  ///< as readers print it
  const char* fields;  ///< the other fields, name=value in order
};

const Example examples[] = {
    {family_fdxb, "0032D6DC0402079F80406253B8040201", "999:112233:animal", "999-000000112233",
     "country=999 national_id=112233 animal=1"},
    {family_fdxb, "0032D6DC0402079FC04023382AB60201", "999:112233:ext=16A", "999-000000112233",
     "country=999 national_id=112233 animal=0 extension=362"},
    {family_fdxb, "0032D6DC0402079FC040613A3AB60201", "999:112233:animal:ext=16A",
     "999-000000112233", "country=999 national_id=112233 animal=1 extension=362"},
    {family_fdxb, "002DBB0C242201F88040747D68040201", "124-000270601654", "124-000270601654",
     "country=124 national_id=270601654 animal=1"},
    {family_fdxb, "00253FABB4D2756F80406A11B8040201", "985121004515220", "985121004515220",
     "country=985 national_id=121004515220 animal=1"},
    {family_fdxb, "0029B12C040203FF8040335DB8040201", "1022:84146", "1022000000084146",
     "country=1022 national_id=84146 animal=0"},
    {family_jablotron, "FFFF00001122335C", "112233", "112233", "card=112233"},
    {family_nedap, "FF82246508209953", "12345:1:291", "12345", "card=12345 subtype=1 customer=291"},
    {family_gproxii, "F98C7038C63356C7AC26398C", "26:123:11223:0x66", "26-bit FC 123 CN 11223",
     "bits=26 facility=123 card=11223"},
    {family_gproxii, "F89E6329E2789E11B1EE3896", "36:30:14489:0xF4", "36-bit FC 30 CN 14489",
     "bits=36 facility=30 card=14489"},
    {family_viking, "F200000001A337CF", "0001A337", "0001A337", "id=0001A337"},
    {family_viking, "F2000099531670F6", "99531670", "99531670", "id=99531670"},
    {family_noralsy, "BB0214FF0110002233070000", "112233:2000", "112233", "card=112233 year=2000"},
    {family_presco, "10D0000000000000000000001E8021D9", "123456789", "123456789",
     "id=1E8021D9 site=30 user=8665"},
    {family_visa2000, "564953320001B66900000183", "112233", "112233", "card=112233"},
    {family_visa2000, "564953320007550600000101", "480518", "480518", "card=480518"},
    {family_gallagher, "7FEAA30D4ED09A35968D6190", "B16640:201:1", "B16640 card 201 issue 1",
     "region=1 facility=16640 card=201 issue=1"},
    {family_securakey, "7FCB400001ADEA5344300000", "26:0x35:64169", "26-bit FC 0x35 Card 64169",
     "bits=26 facility=53 card=64169"},
    {family_pac, "FF2049906D8511C593155B56D5B2649F", "CD4F5552", "CD4F5552", "id=CD4F5552"},
    {family_pac, "FF2049906C39514596141B56C395149F", "8E4C058E", "8E4C058E", "id=8E4C058E"},
};

std::string others(const Fields& f) {
  std::string text;
  for (int32_t i = 0; i < f.count; ++i) {
    const Field& field = f.items[i];
    if (std::string(field.name) == "number") continue;
    if (!text.empty()) text += ' ';
    text.append(field.name)
        .append("=")
        .append(field.kind == FieldKind::integer ? std::to_string(field.integer) : field.text);
  }
  return text;
}

TEST(AskFamilies, WorkedExamplesDecodeAndEncode) {
  for (const Example& e : examples) {
    SCOPED_TRACE(e.frame);
    Fields fields{};
    ASSERT_EQ(e.family.decode(hex_frame(e.frame), fields), frame_passed);
    EXPECT_STREQ(field_find(fields, "number")->text, e.number);
    EXPECT_EQ(others(fields), e.fields);
    for (int32_t i = 0; i < fields.count; ++i) {
      bool listed = false;
      for (const char* const* name = e.family.fields; *name; ++name)
        listed = listed || std::string(*name) == fields.items[i].name;
      EXPECT_TRUE(listed) << fields.items[i].name;
    }
    FrameBits encoded;
    ASSERT_TRUE(e.family.encode(e.form, encoded)) << e.form;
    char hex[max_frame_symbols / 4 + 1];
    frame_hex(encoded, hex);
    EXPECT_STREQ(hex, e.frame);
  }
}

// Symbols whose damage no check of the family sees, and why a read stays right:
//   FDX-B     the 24 extension bits (no check covers them): two identical frames
//   Presco    the 32 code bits (nothing checks them): four identical frames
//   Securakey data bits 0-1, 48-75 (unknown or unchecked), never in the number
//   G-Prox II the two unknown bits of plain[0] (data bits 8-9), never in the number
TEST(AskFamilies, OneDamagedSymbolIsRejectedWhereAChecksSeesIt) {
  const std::vector<std::pair<int32_t, int32_t>> fdxb = {{101, 108}, {110, 117}, {119, 126}};
  const std::vector<std::pair<int32_t, int32_t>> presco = {{96, 127}};
  const std::vector<std::pair<int32_t, int32_t>> securakey = {
      {11, 12}, {65, 72}, {74, 81}, {83, 90}, {92, 95}};
  const std::vector<std::pair<int32_t, int32_t>> gproxii = {{16, 17}};
  for (const Example& e : examples) {
    const auto& blind = &e.family == &family_fdxb        ? fdxb
                        : &e.family == &family_presco    ? presco
                        : &e.family == &family_securakey ? securakey
                        : &e.family == &family_gproxii   ? gproxii
                                                       : std::vector<std::pair<int32_t, int32_t>>{};
    const FrameBits frame = hex_frame(e.frame);
    for (int32_t i = 0; i < frame.count; ++i) {
      FrameBits damaged = frame;
      damaged.words[i / 64] ^= uint64_t{1} << (63 - i % 64);
      Fields fields{};
      bool seen_by_no_check = false;
      for (const auto& [first, last] : blind) seen_by_no_check |= i >= first && i <= last;
      EXPECT_EQ(e.family.decode(damaged, fields) == frame_passed, seen_by_no_check)
          << e.frame << " symbol " << i;
    }
  }
}

TEST(AskFamilies, EncodeRefusesWhatNoTagSends) {
  const std::pair<const Family&, const char*> bad[] = {{family_fdxb, "1024:1"},
                                                       {family_fdxb, "999:274877906944"},
                                                       {family_fdxb, "999:1:ext=1000000"},
                                                       {family_fdxb, "999:1:dog"},
                                                       {family_jablotron, "8000000000"},
                                                       {family_nedap, "100000:1:291"},
                                                       {family_nedap, "1:16:0"},
                                                       {family_gproxii, "34:1:1"},
                                                       {family_gproxii, "26:256:1"},
                                                       {family_viking, "1A337"},
                                                       {family_noralsy, "10000000:2000"},
                                                       {family_noralsy, "1:1960"},
                                                       {family_presco, "12345678A"},
                                                       {family_presco, "#########"},
                                                       {family_visa2000, "4294967296"},
                                                       {family_gallagher, "Q1:1:1"},
                                                       {family_gallagher, "A65536:1:1"},
                                                       {family_securakey, "26:256:1"},
                                                       {family_pac, "CD4F555"},
                                                       {family_pac, ""}};
  for (const auto& [family, text] : bad) {
    FrameBits f;
    EXPECT_FALSE(family.encode(text, f)) << family.name << " " << text;
  }
}

// ---- signals -------------------------------------------------------------------------

std::vector<uint8_t> right_channel(const std::string& name) {
  std::ifstream in(std::string(TAVREL_REAL_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  const std::vector<uint8_t> stereo((std::istreambuf_iterator<char>(in)), {});
  std::vector<uint8_t> right;
  for (size_t i = 1; i < stereo.size(); i += 2) right.push_back(stereo[i]);
  return right;
}

std::set<std::string> read_all(const std::vector<int8_t>& h, int32_t rate) {
  std::set<std::string> reads;
  for (const Reader& r : all_readers())
    if (r.rate == rate) reads.merge(read(h, r));
  return reads;
}

TEST(AskFamilies, RealCapturesGiveTheirNumberAndNothingElse) {
  const std::pair<const char*, const char*> captures[] = {
      {"fdxb_ata5577_animal_48k_u8x2.raw", "fdxb:999-000000112233"},
      {"viking_ata5577_48k_u8x2.raw", "viking:0001A337"},
      {"pac_ata5577_48k_u8x2.raw", "pac:CD4F5552"}};
  for (const auto& [file, read] : captures) {
    const std::set<std::string> reads = read_all(slice(right_channel(file), 6.144), 32);
    EXPECT_EQ(reads, std::set<std::string>{read}) << file;
  }
}

// Every example rendered as a front end delivers it, with noise, an offset and the
// sound card's coupling, upside down too, at its family's rate (FDX-B under a 134.2 kHz
// reader), sliced and read back.
TEST(AskFamilies, SynthesizedSignalsReadBack) {
  for (const Example& e : examples) {
    for (const bool invert : {false, true}) {
      SignalCondition c{e.frame, 60, 10, 20, 20};
      c.clock = e.family.rates[0];
      if (&e.family == &family_fdxb) c.rate_error = 134.2 / 125 - 1;
      const int frames = 2 + 528 / e.family.frame_symbols;
      const std::vector<uint8_t> samples =
          condition_recording(c, coded_frame(e.family, hex_frame(e.frame)), invert, 7, frames);
      const double half = clock_bit_samples(sample_rate, c.clock) / (1 + c.rate_error) / 2;
      EXPECT_EQ(read_all(slice(samples, half), c.clock),
                std::set<std::string>{std::string(e.family.name) + ":" + e.number})
          << e.frame << (invert ? " inverted" : "");
    }
  }
}

// Tags of one family, noise, square waves and a writable tag sending test data (blocks of
// 32 bits over and over, in every code) give no read of any family at the same rate:
// Manchester, biphase and differential biphase at one rate are the same waveforms half a
// symbol apart, so every reader sees every signal.
TEST(AskFamilies, NoFamilyReadsAnothersSignalNoiseOrTestData) {
  struct Source {
    std::string what;
    std::string own;  ///< the read it may give, or empty
    int32_t rate;
    std::vector<int8_t> halves;
  };
  std::vector<Source> sources;
  for (const Example& e : examples)
    sources.push_back({e.frame, std::string(e.family.name) + ":" + e.number, e.family.rates[0],
                       halves_of(coded_frame(e.family, hex_frame(e.frame)), 12)});
  // Repetitions two readings share, which no one reads: a Nedap card and a Viking ID that
  // are EM4100 frames (in Manchester, upside down), Viking IDs that hold F2 00 00 themselves
  // or in the other polarity.
  for (const auto& [family, form] :
       {std::pair<const Family&, const char*>{family_nedap, "4677:7:1755"},
        {family_viking, "000012F7"},
        {family_viking, "F2000012"},
        {family_viking, "0DFFFF12"}}) {
    FrameBits f;
    ASSERT_TRUE(family.encode(form, f));
    sources.push_back({form, "", family.rates[0], halves_of(coded_frame(family, f), 12)});
  }
  std::mt19937 random(5);
  for (const int32_t rate : {32, 40, 64}) {
    for (const uint64_t id : {0x0000000000ull, 0x0102030405ull, 0xF200004A1Eull}) {
      CodedFrame em4100;
      frame_append(em4100.bits, tag_frame(id), 64);
      char hex[17];
      frame_hex(em4100.bits, hex);
      sources.push_back(
          {hex, rate == 40 ? "" : std::string("em4100:") + hex, rate, halves_of(em4100, 24)});
    }
    for (const Modulation m : {Modulation::ask_manchester, Modulation::ask_biphase,
                               Modulation::ask_diphase, Modulation::ask_nrz}) {
      for (const uint64_t block : {0x00000000ull, 0xFFFFFFFFull, 0xAAAAAAAAull, 0x00148040ull,
                                   0xE0150A48ull, static_cast<unsigned long long>(random())}) {
        CodedFrame test_data{{}, m, false};
        frame_append(test_data.bits, block, 32);
        sources.push_back(
            {"test data " + std::to_string(block), "", rate, halves_of(test_data, 48)});
      }
    }
    for (int run = 1; run <= 8; ++run) {
      std::vector<int8_t> square;
      for (int k = 0; k < 3000; ++k) square.push_back(static_cast<int8_t>(k / run % 2));
      sources.push_back({"square wave " + std::to_string(run), "", rate, square});
    }
    std::vector<int8_t> noise;
    for (int k = 0; k < 40000; ++k) noise.push_back(static_cast<int8_t>(random() & 1));
    sources.push_back({"noise", "", rate, noise});
  }
  for (const Source& s : sources) {
    std::set<std::string> reads = read_all(s.halves, s.rate);
    EXPECT_EQ(reads.erase(s.own), s.own.empty() ? 0u : 1u) << s.what << " not read";
    EXPECT_TRUE(reads.empty()) << s.what << " read as " << *reads.begin();
  }
}

}  // namespace
}  // namespace tavrel
