// Every family of the table: its tags encoded, sent under the ways a user's setup degrades
// a signal, and read back as the same read, by that family and by no other.

#include <gtest/gtest.h>

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
    ASSERT_TRUE(family->encode ? family->encode(tag, frame) : frame_from_hex(tag, frame)) << tag;
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
    for (const auto& [row, tag] : examples()) {
      if (row != &f) continue;
      FrameBits frame{};
      ASSERT_TRUE(f.encode ? f.encode(tag, frame) : frame_from_hex(tag, frame));
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
