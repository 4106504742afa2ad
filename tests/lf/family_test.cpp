// Every family of the table: its tags encoded, sent under the ways a user's setup degrades
// a signal, and read back as the same read, by that family and by no other.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "lf/decoder.hpp"
#include "synth/family_signal.hpp"

namespace tavrel {
namespace {

// Tags of each family in its own form (or RAW): the example of its row, and those below.
struct Example {
  const char* family;
  const char* tag;
};
constexpr Example extra_examples[] = {
    {"em4100", "0000000000"},  // every parity bit 0
    {"fdxb", "1022:84146"},    // a country code beyond 999
};

// Each with its row: a family's rows share its name, one row per frame length.
std::vector<std::pair<const Family*, const char*>> examples() {
  std::vector<std::pair<const Family*, const char*>> out;
  for (int32_t i = 0; i < family_count; ++i)
    out.push_back({family_table[i], family_table[i]->example});
  for (const Example& e : extra_examples) out.push_back({family_named(e.family), e.tag});
  return out;
}

// The front ends and sound cards a read must survive, at each family's own data rate.
const SignalCondition conditions[] = {
    {"clean"},
    {"gain x0.1", 8},
    {"gain x4, clipped", 320},
    {"offset +40", 80, 40},
    {"offset -40, gain x0.3", 24, -40},
    {"AC coupling 100 Hz", 80, 0, 99, 100},
    {"10 dB SNR", 80, 0, 10},
    {"44100/s", 80, 0, 99, 0, 0, 64, 44100},
    {"bit rate +3 %", 80, 0, 99, 0, 0, 64, sample_rate, 0.03},
    {"bit rate -3 %, 10 dB", 80, 0, 10, 0, 0, 64, sample_rate, -0.03},
};

struct Reads {
  std::vector<TagRead> all;
};

void collect(void* context, const TagRead& read) {
  static_cast<Reads*>(context)->all.push_back(read);
}

TEST(Families, EachReadsItsOwnTagsUnderEveryConditionAndNoOtherFamilyDoes) {
  static TolerantDecoder d;
  for (const auto& [family, tag] : examples()) {
    ASSERT_NE(family, nullptr) << tag;
    FrameBits frame{};
    ASSERT_TRUE(form_frame(*family, tag, frame)) << tag;
    Fields fields{};
    ASSERT_EQ(family->decode(frame, fields), frame_passed) << tag;
    for (const SignalCondition& c : conditions) {
      SCOPED_TRACE(std::string(family->title) + " " + tag + ", " + c.name);
      unsigned seed = 1;
      for (const bool invert : {false, true}) {
        const std::vector<uint8_t> samples =
            family_recording(c, *family, frame, invert, seed++, 3 * family->sure_frames + 2);
        Reads reads;
        tolerant_begin(d, c.rate, every_family, collect, &reads);
        tolerant_take(d, samples.data(), static_cast<int32_t>(samples.size()));
        EXPECT_FALSE(reads.all.empty()) << (invert ? "inverted" : "");
        for (const TagRead& r : reads.all) {
          ASSERT_EQ(r.family, family) << r.family->name;
          ASSERT_EQ(r.frame.count, frame.count);
          ASSERT_EQ(std::memcmp(r.frame.words, frame.words, sizeof frame.words), 0);
        }
      }
    }
  }
}

// A tag enters the field mid-frame: the tail of its frame comes before its first sync. It
// is read once its symbols have repeated over the family's sure frames, counted from its
// first sample, not from that sync; a read on a stream comes out as soon as it is made.
// Alike with every family searched and with the family chosen alone (--family), where the
// lanes of a demodulator that no family chosen searches take nothing.
TEST(Families, EachReadsATagEnteringMidFrameItsSureFramesAfterItsFirstSample) {
  static TolerantDecoder d;
  constexpr int32_t piece = sample_rate / 1000;  // fed a millisecond at a time
  for (int32_t t = 0; t < family_count; ++t) {
    const Family& family = *family_table[t];
    SCOPED_TRACE(family.title);
    FrameBits frame{};
    ASSERT_TRUE(example_frame(family, frame));
    const std::vector<uint8_t> sent =
        family_recording({"clean"}, family, frame, false, 1, family.sure_frames + 3);
    // Half a frame cut from the front of the tag, after the recording's fifth of silence.
    const double period =
        (family.frame_symbols + family.gap_symbols) * sample_rate * family.rates[0] / field_hz;
    const auto enters = static_cast<int64_t>(sample_rate / 5);
    std::vector<uint8_t> samples(sent.begin(), sent.begin() + enters);
    samples.insert(samples.end(), sent.begin() + enters + static_cast<int64_t>(period / 2),
                   sent.end());
    for (const FamilySet chosen : {every_family, FamilySet{1} << t}) {
      SCOPED_TRACE(chosen == every_family ? "every family" : "alone");
      struct First {
        const Family* family;
        int64_t fed = 0;
        int64_t at = -1;  ///< samples fed when the first read came
      } first{&family};
      tolerant_begin(
          d, sample_rate, chosen,
          [](void* c, const TagRead& r) {
            auto& f = *static_cast<First*>(c);
            EXPECT_EQ(r.family, f.family) << r.family->name;
            if (f.at < 0) f.at = f.fed;
          },
          &first);
      for (size_t at = 0; at < samples.size() && first.at < 0; at += piece) {
        const auto n = static_cast<int32_t>(std::min<size_t>(piece, samples.size() - at));
        first.fed += n;
        tolerant_take(d, samples.data() + at, n);
      }
      ASSERT_GE(first.at, 0);
      // Sure frames of the tag, and a little for the last symbol's decision and the piece.
      EXPECT_LE(static_cast<double>(first.at - enters), (family.sure_frames + 0.2) * period);
    }
  }
}

// A weak tag right after a strong one (another tag, or the same one moved away, which
// shifts the front end's level too) is read: nothing the decoder learnt of the strong
// signal holds the weak one back.
TEST(Families, EachReadsAWeakTagRightAfterAStrongOne) {
  static TolerantDecoder d;
  for (int32_t t = 0; t < family_count; ++t) {
    const Family& family = *family_table[t];
    SCOPED_TRACE(family.title);
    FrameBits frame{};
    ASSERT_TRUE(example_frame(family, frame));
    std::vector<uint8_t> samples =
        family_recording({"strong", 100}, family, frame, false, 1, 3 * family.sure_frames);
    const auto weak_from = static_cast<int64_t>(samples.size());
    const std::vector<uint8_t> weak =
        family_recording({"weak, offset", 12, 20}, family, frame, false, 2, 4 * family.sure_frames);
    samples.insert(samples.end(), weak.begin(), weak.end());
    Reads reads;
    tolerant_begin(d, sample_rate, every_family, collect, &reads);
    tolerant_take(d, samples.data(), static_cast<int32_t>(samples.size()));
    EXPECT_TRUE(std::any_of(reads.all.begin(), reads.all.end(),
                            [&](const TagRead& r) { return r.end > weak_from; }));
  }
}

// What a watch on the decoder saw.
struct Watched {
  std::vector<WatchedSymbol> symbols;
  std::vector<WatchedFrame> frames;
  std::vector<TagRead> reads;
  int64_t reads_at_frame = 0;  ///< reads already made when the latest frame was seen
};

TEST(Families, TheWatchSeesEveryWindowCountedAndTheSymbolsOfEachReadAsSent) {
  static TolerantDecoder d;
  Watched w;
  const TolerantWatch watch{
      [](void* c, const WatchedSymbol& s) { static_cast<Watched*>(c)->symbols.push_back(s); },
      [](void* c, const WatchedFrame& f) {
        auto& seen = *static_cast<Watched*>(c);
        seen.frames.push_back(f);
        seen.reads_at_frame = static_cast<int64_t>(seen.reads.size());
      },
      &w};
  for (int32_t t = 0; t < family_count; ++t) {
    const Family& family = *family_table[t];
    SCOPED_TRACE(family.title);
    FrameBits sent{};
    ASSERT_TRUE(example_frame(family, sent));
    const bool invert = t % 2 == 1;
    const std::vector<uint8_t> samples = family_recording({"10 dB SNR", 80, 0, 10}, family, sent,
                                                          invert, 3, 2 * family.sure_frames + 2);
    w = Watched{};
    tolerant_begin(
        d, sample_rate, every_family,
        [](void* c, const TagRead& r) {
          auto& seen = *static_cast<Watched*>(c);
          // A read follows the window that made it.
          EXPECT_EQ(seen.reads_at_frame, static_cast<int64_t>(seen.reads.size()));
          seen.reads.push_back(r);
        },
        &w);
    tolerant_watch_decisions(d, &watch);
    for (size_t at = 0; at < samples.size(); at += 4096)
      tolerant_take(d, samples.data() + at,
                    static_cast<int32_t>(std::min<size_t>(4096, samples.size() - at)));

    // Every window counted is seen, with its verdict and sure-read result.
    EXPECT_EQ(static_cast<int64_t>(w.symbols.size()), d.symbols);
    for (int32_t i = 0; i < d.family_count; ++i) {
      FamilyStats seen{};
      for (const WatchedFrame& f : w.frames) {
        if (f.family != d.families[i]) continue;
        ++seen.frames;
        ++seen.verdicts[f.verdict];
        if (f.verdict == frame_passed) ++seen.sure[static_cast<int>(f.sure)];
      }
      ASSERT_EQ(std::memcmp(&seen, &d.stats[i], sizeof seen), 0) << d.families[i]->title;
    }
    // Each read's window holds, on its lane, the frame's symbols as sent; no lane reads
    // again what another read already.
    ASSERT_FALSE(w.reads.empty());
    int64_t last_end = 0;
    for (const TagRead& r : w.reads) {
      EXPECT_GT(r.end, last_end) << "a read in time order";
      last_end = r.end;
      const auto f = std::find_if(w.frames.begin(), w.frames.end(), [&r](const WatchedFrame& x) {
        return x.end == r.end && x.family == r.family && x.sure == SureCheck::read;
      });
      ASSERT_NE(f, w.frames.end());
      // Differential biphase is read as the complement of a biphase lane.
      EXPECT_EQ(f->inverted, r.inverted != (family.modulation == Modulation::ask_diphase));
      FrameBits symbols{};
      int64_t first = -1;
      for (const WatchedSymbol& s : w.symbols) {
        if (s.lane != f->lane || s.start < f->start || s.symbol.end > f->end) continue;
        if (first < 0) first = s.start;
        frame_append(symbols, s.symbol.value ^ static_cast<uint64_t>(f->inverted), 1);
      }
      EXPECT_EQ(first, f->start);
      ASSERT_EQ(symbols.count, sent.count);
      EXPECT_EQ(std::memcmp(symbols.words, sent.words, sizeof sent.words), 0);
    }
  }
}

// Each family's sync and checks agree with its encoder, and a frame that fails is told apart.
TEST(Families, EveryRowIsWholeAndItsExamplesPassItsChecks) {
  for (int32_t i = 0; i < family_count; ++i) {
    const Family& f = *family_table[i];
    SCOPED_TRACE(f.name);
    EXPECT_STREQ(family_named(f.name)->name, f.name);
    EXPECT_GE(f.sure_frames, 2);
    EXPECT_TRUE(f.rates[0] > 0);
    EXPECT_TRUE(f.frame_symbols % 4 == 0 && f.frame_symbols <= max_frame_symbols);
    EXPECT_TRUE(f.sync_symbols >= 1 && f.sync_symbols <= 64 && f.sync_symbols <= f.frame_symbols);
    EXPECT_TRUE(f.reason_count >= 2 && f.reason_count <= max_reasons);
    EXPECT_STREQ(f.reasons[0], "passed");
    // A run of one symbol (silence, a level held) is no frame of any family: the search
    // does not decode one.
    for (const uint64_t word : {uint64_t{0}, ~uint64_t{0}}) {
      FrameBits constant{};
      for (int32_t n = 0; n < f.frame_symbols; n += 64)
        frame_append(constant, word, std::min(64, f.frame_symbols - n));
      Fields ignored{};
      EXPECT_NE(f.decode(constant, ignored), frame_passed) << (word ? "ones" : "zeros");
    }
    for (const auto& [row, tag] : examples()) {
      if (row != &f) continue;
      FrameBits frame{};
      ASSERT_TRUE(form_frame(f, tag, frame));
      EXPECT_EQ(frame.count, f.frame_symbols);
      EXPECT_EQ(frame_field(frame, 0, f.sync_symbols), f.sync) << tag;
      Fields fields{};
      EXPECT_EQ(f.decode(frame, fields), frame_passed) << tag;
      ASSERT_NE(field_find(fields, "number"), nullptr) << tag;
      for (int32_t k = 0; k < fields.count; ++k) {
        bool listed = false;
        for (const char* const* name = f.fields; *name; ++name)
          listed = listed || std::strncmp(fields.items[k].name, *name, std::strlen(*name)) == 0;
        EXPECT_TRUE(listed) << fields.items[k].name;
      }
    }
  }
}

}  // namespace
}  // namespace tavrel
