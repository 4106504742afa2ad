// Reads, wrong IDs, cross-family reads and false reads of the tolerant path for every family
// of the table, counted, not timed:
//   1. per family, one row per signal condition: recordings of random tags read, wrong IDs
//      (its own family, another frame), reads by another family, reads per second of tag;
//   2. signals that carry no tag, hours of each class: every read is a false one, named by
//      family.
// Families whose modulation synth cannot render yet are skipped, and so are the data
// classes of such a modulation; both join when synth renders them.
//
//   family_count [--per-condition N] [--hours H] [--family LIST]
//   (default 20, 10 and every family: the full size; ./dev.sh bench runs it small)
// Exit status 1 on any wrong ID, cross-family read or false read; 2 on a wrong option.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "lf/decoder.hpp"
#include "synth/family_signal.hpp"

using namespace tavrel;

namespace {

using Random = std::mt19937_64;

constexpr size_t max_details = 3;  ///< different faults shown per row; the rest are counted

uint64_t below(Random& r, uint64_t n) {
  return r() % n;
}

template <typename... A>
std::string form(const char* format, A... a) {
  std::string text(static_cast<size_t>(std::snprintf(nullptr, 0, format, a...)), '\0');
  std::snprintf(text.data(), text.size() + 1, format, a...);
  return text;
}

// Keeps the first few different descriptions of faults; the counts say how many there were.
void note(std::vector<std::string>& notes, const std::string& what) {
  if (notes.size() < max_details && std::find(notes.begin(), notes.end(), what) == notes.end())
    notes.push_back(what);
}

// "N:FC:CN" of a Wiegand format of N bits, or "N:HEX", any message of N bits (its
// family reads a length it knows only with the right parity bits: others are drawn again).
std::string wiegand(Random& r, int n, int fc_bits, int cn_bits) {
  return form("%d:%" PRIu64 ":%" PRIu64, n, below(r, uint64_t{1} << fc_bits),
              below(r, uint64_t{1} << cn_bits));
}
std::string wiegand_hex(Random& r, int low, int high) {
  const auto n = static_cast<int>(low + below(r, static_cast<uint64_t>(high - low + 1)));
  std::string text = form("%d:", n);
  const int digits = (n + 3) / 4;
  for (int d = 0; d < digits; ++d)
    text += "0123456789ABCDEF"[below(r, uint64_t{1} << (d == 0 ? n - 4 * (digits - 1) : 4))];
  return text;
}

// Random tags of a family in its friendly form, over the whole range of every field. Rows
// that share a family name share a form; each row's encoder takes the tags that are its.
struct TagForm {
  const char* family;
  std::string (*draw)(Random& r);
};
const TagForm tag_forms[] = {
    {"em4100", [](Random& r) { return form("%010" PRIX64, below(r, uint64_t{1} << 40)); }},
    {"fdxb",
     [](Random& r) {
       return form("%" PRIu64 ":%" PRIu64 "%s", below(r, 1024), below(r, uint64_t{1} << 38),
                   r() & 1 ? ":animal" : "");
     }},
    {"jablotron", [](Random& r) { return form("%" PRIu64, below(r, 8'000'000'000)); }},
    {"nedap",
     [](Random& r) {
       return form("%" PRIu64 ":%" PRIu64 ":%" PRIu64, below(r, 100000), below(r, 16),
                   below(r, 4096));
     }},
    {"gproxii",
     [](Random& r) {
       return (r() & 1 ? wiegand(r, 26, 8, 16) : wiegand(r, 36, 14, 20)) +
              form(":%" PRIu64, below(r, 256));
     }},
    {"viking", [](Random& r) { return form("%08" PRIX64, below(r, uint64_t{1} << 32)); }},
    {"noralsy",
     [](Random& r) {
       return form("%" PRIu64 ":%" PRIu64, below(r, 10'000'000), 1961 + below(r, 100));
     }},
    {"presco",
     [](Random& r) {
       std::string keys(1 + below(r, 9), ' ');
       for (char& k : keys) k = "0123456789*#"[below(r, 12)];
       return keys;
     }},
    {"visa2000", [](Random& r) { return form("%" PRIu64, below(r, uint64_t{1} << 32)); }},
    {"gallagher",
     [](Random& r) {
       return form("%c%" PRIu64 ":%" PRIu64 ":%" PRIu64, static_cast<char>('A' + below(r, 16)),
                   below(r, 1 << 16), below(r, 1 << 24), below(r, 16));
     }},
    {"securakey",
     [](Random& r) { return r() & 1 ? wiegand(r, 26, 8, 16) : wiegand(r, 32, 14, 16); }},
    {"pac", [](Random& r) { return form("%08" PRIX64, below(r, uint64_t{1} << 32)); }},
    {"hid",
     [](Random& r) {
       switch (below(r, 6)) {
         case 0:
           return wiegand(r, 26, 8, 16);
         case 1:
           return wiegand(r, 34, 16, 16);
         case 2:
           return wiegand(r, 35, 12, 20);
         case 3:
           return wiegand(r, 37, 16, 19);
         case 4:
           return wiegand(r, 48, 22, 23);
         default:
           return wiegand_hex(r, 26, 83);
       }
     }},
    {"awid",
     [](Random& r) {
       switch (below(r, 5)) {
         case 0:
           return wiegand(r, 26, 8, 16);
         case 1:
           return wiegand(r, 34, 8, 24);
         case 2:
           return wiegand(r, 37, 16, 19);
         case 3:
           return wiegand(r, 50, 16, 32);
         default:
           return wiegand_hex(r, 26, 58);
       }
     }},
    {"ioprox",
     [](Random& r) {
       return form("XSF(%" PRIu64 ")%02" PRIX64 ":%" PRIu64, below(r, 256), below(r, 256),
                   below(r, 65536));
     }},
    {"paradox",
     [](Random& r) { return form("%" PRIu64 ":%" PRIu64, below(r, 256), below(r, 65536)); }},
    {"pyramid",
     [](Random& r) { return form("%" PRIu64 ":%" PRIu64, below(r, 256), below(r, 65536)); }},
    {"fdxa",
     [](Random& r) {
       std::string id;
       for (int i = 0; i < 5; ++i) id += form("%02" PRIX64, below(r, 128));
       return id;
     }},
};

// For a family with no form above: its worked example with the digits of its last number
// drawn at random.
std::string varied_example(const char* example, Random& r) {
  if (!example) return "";
  std::string text = example;
  size_t end = text.find_last_of("0123456789");
  if (end == std::string::npos) return text;
  for (size_t i = end + 1; i-- > 0 && std::isdigit(static_cast<unsigned char>(text[i]));)
    text[i] = static_cast<char>('0' + below(r, 10));
  return text;
}

// A random tag of `f` that its family reads, with its frame; a tag refused on its own (one
// whose repetition reads as two frames, or as another family's frame) is drawn again.
std::string draw_tag(const Family& f, Random& r, FrameBits& frame) {
  const TagForm* tag_form = nullptr;
  for (const TagForm& t : tag_forms)
    if (std::string(t.family) == f.name) tag_form = &t;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string text = tag_form ? tag_form->draw(r) : varied_example(f.example, r);
    Fields fields{};
    if (form_frame(f, text.c_str(), frame) && f.decode(frame, fields) == frame_passed) return text;
  }
  return "";
}

bool same_frame(const FrameBits& a, const FrameBits& b) {
  if (a.count != b.count) return false;
  for (int32_t i = 0; i < a.count; i += 64)
    if (frame_field(a, i, std::min(64, a.count - i)) !=
        frame_field(b, i, std::min(64, b.count - i)))
      return false;
  return true;
}

std::string read_text(const TagRead& r) {
  char hex[max_frame_symbols / 4 + 1];
  frame_hex(r.frame, hex);
  const Field* number = field_find(r.fields, "number");
  return std::string(r.family->name) + " " + (number ? number->text : "?") + " [" + hex + "]" +
         (r.inverted ? " inverted" : "");
}

// The decoder is large: one for the whole run.
const auto decoder = std::make_unique<TolerantDecoder>();

constexpr double tag_seconds_each = 0.5;  ///< tag signal per recording, between silences

// How one family's tag is sent: at one of its data rates, and for animal tags at the field
// of either kind of reader.
struct Variant {
  int32_t clock;    ///< RF/n
  double field_hz;  ///< the reader's field
};

std::vector<Variant> variants_of(const Family& f) {
  std::vector<Variant> out;
  for (const int32_t clock : f.rates)
    if (clock > 0) {
      out.push_back({clock, 125000});
      if (f.animal_field) out.push_back({clock, 134200});
    }
  return out;
}

// What the reads of one recording were.
struct Tally {
  const Family* family;  ///< the family sent; rows of the same name are one family
  FrameBits frame;       ///< its frame
  int64_t reads;         ///< right reads
  int64_t wrong;         ///< that family, another frame
  int64_t cross;         ///< another family
  std::vector<std::string> faults;
};

void tallied(void* context, const TagRead& r) {
  Tally& t = *static_cast<Tally*>(context);
  if (std::strcmp(r.family->name, t.family->name) != 0) {
    ++t.cross;
  } else if (same_frame(r.frame, t.frame)) {
    ++t.reads;
    return;
  } else {
    ++t.wrong;
  }
  note(t.faults, read_text(r));
}

// The ways a user's setup degrades a tag's signal: gain, offset, coupling, noise, the sound
// card's rate, a tag's own clock and all of them at once.
const SignalCondition conditions[] = {
    {"clean"},
    {"gain x0.1", 8},
    {"gain x0.3", 24},
    {"gain x4, clipped", 320},
    {"offset +40", 80, 40},
    {"offset -40", 80, -40},
    {"AC coupling 100 Hz", 80, 0, 99, 100},
    {"20 dB SNR", 80, 0, 20},
    {"10 dB SNR", 80, 0, 10},
    {"6 dB SNR", 80, 0, 6},
    {"3 dB SNR", 80, 0, 3},
    {"44100/s", 80, 0, 99, 0, 0, 64, 44100},
    {"bit rate +3 %", 80, 0, 99, 0, 0, 64, sample_rate, 0.03},
    {"bit rate -3 %", 80, 0, 99, 0, 0, 64, sample_rate, -0.03},
    {"x0.3 +20 10 dB -3 % 44100/s", 24, 20, 10, 0, 0, 64, 44100, -0.03},
};

bool family_table_of(const Family& f, int per_condition) {
  // Each family's tags from a generator of its own, so that they do not depend on which
  // other families are counted.
  Random random(std::hash<std::string>{}(f.name));
  const std::vector<Variant> variants = variants_of(f);
  std::printf("\n%s (%s): %d random tags per condition, both polarities, RF/", f.name, f.title,
              per_condition);
  for (size_t v = 0; v < variants.size(); ++v)
    std::printf("%s%d%s", v ? ", " : "", variants[v].clock,
                variants[v].field_hz != 125000 ? " at 134.2 kHz" : "");
  std::printf("\n  %-28s %9s %6s %6s %8s\n", "condition", "read", "wrong", "cross", "reads/s");
  bool fault = false;
  unsigned seed = 1;
  for (const SignalCondition& condition : conditions) {
    int read = 0;
    int64_t wrong = 0;
    int64_t cross = 0;
    int64_t reads = 0;
    double tag_seconds = 0;
    std::vector<std::string> details;
    for (int k = 0; k < per_condition; ++k, ++seed) {
      const bool invert = k & 1;
      const Variant& variant = variants[static_cast<size_t>(k / 2) % variants.size()];
      Tally t{&f, {}, 0, 0, 0, {}};
      const std::string tag = draw_tag(f, random, t.frame);
      if (tag.empty()) {
        std::printf(
            "  no random tag passes the family's own checks: its encoder and checks "
            "disagree\n");
        return true;
      }
      // The row sends at its first rate: a copy names the one wanted.
      Family row = f;
      row.rates[0] = variant.clock;
      SignalCondition c = condition;
      c.rate_error = (1 + c.rate_error) * variant.field_hz / 125000 - 1;
      const double frame_seconds = (f.frame_symbols + f.gap_symbols) * variant.clock /
                                   variant.field_hz / (1 + condition.rate_error);
      const int frames = std::max(f.sure_frames + 1,
                                  static_cast<int>(std::lround(tag_seconds_each / frame_seconds)));
      const std::vector<uint8_t> samples = family_recording(c, row, t.frame, invert, seed, frames);
      tolerant_begin(*decoder, c.rate, every_family, tallied, &t);
      tolerant_take(*decoder, samples.data(), static_cast<int32_t>(samples.size()));
      read += t.reads > 0;
      reads += t.reads;
      wrong += t.wrong;
      cross += t.cross;
      tag_seconds += frames * frame_seconds;
      for (const std::string& what : t.faults)
        note(details, form("tag %s, RF/%d%s%s, seed %u: read %s", tag.c_str(), variant.clock,
                           variant.field_hz != 125000 ? " at 134.2 kHz" : "",
                           invert ? ", inverted" : "", seed, what.c_str()));
    }
    fault = fault || wrong > 0 || cross > 0;
    std::printf("  %-28s %4d/%-4d %6" PRId64 " %6" PRId64 " %8.1f\n", condition.name, read,
                per_condition, wrong, cross, static_cast<double>(reads) / tag_seconds);
    for (const std::string& d : details) std::printf("    ! %s\n", d.c_str());
  }
  return fault;
}

// A signal that carries no tag: interference, data in some line code that is no family's
// frame, or a writable tag sending a test pattern.
struct Source {
  std::string name;
  enum Kind { interference, random_data, test_data } kind;
  InterferenceOptions options;  ///< for interference
  Modulation modulation;        ///< for data
  int32_t clock;                ///< RF/n, for data
  bool terminator;              ///< a sequence terminator before each repetition, for test data
};

std::vector<Source> sources() {
  struct Tone {
    const char* name;
    Interference kind;
    double level;      ///< fraction of full scale
    double frequency;  ///< Hz
    double offset;     ///< fraction of full scale
  };
  const Tone tones[] = {
      {"white noise", Interference::white_noise, 0.3, 0, 0},
      {"pink noise", Interference::pink_noise, 0.3, 0, 0},
      {"clipped noise", Interference::clipped_noise, 0.5, 0, 0},
      {"hum 50 Hz", Interference::mains_hum, 0.5, 50, 0.02},
      {"hum 60 Hz", Interference::mains_hum, 0.5, 60, 0.02},
      {"square 500 Hz", Interference::square_wave, 0.5, 500, 0.01},
      {"square 976.5 Hz", Interference::square_wave, 0.5, 976.5, 0.01},
      {"square 1953.1 Hz", Interference::square_wave, 0.5, 1953.1, 0.01},
      {"square 2700 Hz", Interference::square_wave, 0.5, 2700, 0.01},
      {"square 3906.2 Hz", Interference::square_wave, 0.5, 3906.2, 0.01},
      {"square 5000 Hz", Interference::square_wave, 0.5, 5000, 0.01},
      {"square 12500 Hz", Interference::square_wave, 0.5, 12500, 0.01},
      {"square 15625 Hz", Interference::square_wave, 0.5, 15625, 0.01},
      {"sine 1270 Hz, offset", Interference::sine, 0.5, 1270, 0.05},
      {"sine 2700 Hz, offset", Interference::sine, 0.5, 2700, 0.05},
      {"sine 2804 Hz, offset", Interference::sine, 0.5, 2804, 0.05},
      {"sine 12500 Hz", Interference::sine, 0.5, 12500, 0},
      {"sine 15625 Hz", Interference::sine, 0.5, 15625, 0},
      {"random telegraph", Interference::telegraph, 0.5, 0, 0},
  };
  std::vector<Source> out;
  for (const Tone& t : tones) {
    Source s{t.name, Source::interference, {}, Modulation::ask_manchester, 0, false};
    s.options.kind = t.kind;
    s.options.level = t.level;
    s.options.frequency = t.frequency;
    s.options.offset = t.offset;
    out.push_back(s);
  }
  const struct {
    Modulation modulation;
    int32_t clocks[4];
  } data[] = {
      {Modulation::ask_manchester, {16, 32, 40, 64}},
      {Modulation::ask_biphase, {32, 64}},
      {Modulation::ask_diphase, {32, 64}},
      {Modulation::ask_nrz, {32}},
      {Modulation::fsk, {50, 64}},
  };
  for (const auto& d : data)
    for (const int32_t clock : d.clocks)
      if (clock > 0 && family_renderable(d.modulation))
        out.push_back({form("random %s RF/%d", modulation_name(d.modulation), clock),
                       Source::random_data,
                       {},
                       d.modulation,
                       clock,
                       false});
  // A T5577 sends its blocks in any of these codes, with or without its terminator (FSK
  // synth sends without).
  const struct {
    Modulation modulation;
    int32_t clocks[2];
    bool terminator[2];
  } test[] = {
      {Modulation::ask_nrz, {32, 64}, {false, true}},
      {Modulation::ask_manchester, {32, 64}, {false, true}},
      {Modulation::ask_biphase, {32, 64}, {false, true}},
      {Modulation::fsk, {50, 64}, {false, false}},
  };
  for (const auto& t : test)
    for (const int32_t clock : t.clocks)
      for (int k = 0; k < (t.terminator[0] == t.terminator[1] ? 1 : 2); ++k)
        if (family_renderable(t.modulation))
          out.push_back({form("test data %s RF/%d%s", modulation_name(t.modulation), clock,
                              t.terminator[k] ? ", terminator" : ""),
                         Source::test_data,
                         {},
                         t.modulation,
                         clock,
                         t.terminator[k]});
  return out;
}

// Every read of a signal without a tag, by family.
struct FalseReads {
  int64_t by_family[max_families];
  std::vector<std::string> details;
};

void false_read(void* context, const TagRead& r) {
  FalseReads& f = *static_cast<FalseReads*>(context);
  for (int32_t i = 0; i < family_count; ++i)
    if (family_table[i] == r.family) ++f.by_family[i];
  note(f.details, form("%s at %.1f s", read_text(r).c_str(), r.time));
}

// A writable tag's test pattern: four blocks, sent as its raw data.
FrameBits test_pattern() {
  FrameBits f{};
  for (const uint64_t block : {0x00000000u, 0xFFFFFFFFu, 0xAAAAAAAAu, 0x12345678u})
    frame_append(f, block, 32);
  return f;
}

// Renders `source` for at least `samples` samples after `out`'s end, carrying on from where
// `signal` stands.
void render_source(const Source& s, TagSignal& signal, std::mt19937& random, int64_t samples,
                   std::vector<uint8_t>& out) {
  if (s.kind == Source::interference) {
    append_interference(s.options, samples, random, out);
    return;
  }
  const auto sink = [&out](const uint8_t* p, int32_t n) {
    out.insert(out.end(), p, p + n);
    return true;
  };
  Family row{};
  row.name = "no tag";
  row.title = s.name.c_str();
  row.modulation = s.modulation;
  row.rates[0] = s.clock;
  row.gap_symbols = s.terminator ? 4 : 0;
  if (s.kind == Source::test_data) {
    const FrameBits pattern = test_pattern();
    row.frame_symbols = pattern.count;
    render_family(signal, row, pattern, samples, sink);
    return;
  }
  // Fresh random symbols for every piece, so that nothing repeats as a tag's frame does.
  FrameBits data{};
  data.count = row.frame_symbols = max_frame_symbols;
  const auto piece = std::llround(data.count * signal.options.bit_samples);
  for (int64_t done = 0; done < samples; done += piece) {
    for (uint64_t& w : data.words) w = random() | uint64_t{random()} << 32;
    render_family(signal, row, data, piece, sink);
  }
}

// Whether `s` is the same signal every `periodic_samples`: tones and square waves (a whole
// number of their periods, each given to a tenth of a hertz) and a test pattern (its tag
// starts it again, as one that leaves the field and comes back). Rendered once, sent over
// and over.
constexpr int64_t periodic_samples = 10 * sample_rate;
bool periodic(const Source& s) {
  return s.kind == Source::test_data ||
         (s.kind == Source::interference && s.options.kind != Interference::white_noise &&
          s.options.kind != Interference::pink_noise &&
          s.options.kind != Interference::clipped_noise &&
          s.options.kind != Interference::telegraph);
}

bool false_read_table(FamilySet chosen, double hours) {
  std::string families;
  for (int32_t i = 0; i < family_count; ++i)
    if (chosen >> i & 1)
      families += std::string(families.empty() ? "" : ", ") + family_table[i]->name;
  std::printf("\nsignals without a tag, %.3g h each, decoded for %s: every read is a false one\n",
              hours, chosen == every_family ? "every family" : families.c_str());
  std::printf("  %-44s %6s  %s\n", "class", "reads", "by family");
  // Random signals are rendered a second at a time, so that the decoder finds them in cache.
  constexpr int64_t random_samples = sample_rate;
  const auto total = static_cast<int64_t>(hours * 3600 * sample_rate);
  std::vector<uint8_t> samples;
  samples.reserve(periodic_samples + random_samples);
  bool fault = false;
  unsigned seed = 9;
  for (const Source& s : sources()) {
    std::mt19937 random(seed);
    TagSignalOptions options;
    options.bit_samples = clock_bit_samples(sample_rate, s.clock);
    TagSignal signal{options};
    signal.random.seed(seed);
    FalseReads reads{};
    tolerant_begin(*decoder, sample_rate, chosen, false_read, &reads);
    samples.clear();
    for (int64_t done = 0; done < total;) {
      if (!periodic(s) || samples.empty()) {
        samples.clear();
        render_source(s, signal, random, periodic(s) ? periodic_samples : random_samples, samples);
      }
      const auto n = static_cast<int32_t>(std::min<int64_t>(std::ssize(samples), total - done));
      tolerant_take(*decoder, samples.data(), n);
      done += n;
    }
    int64_t all = 0;
    std::string by;
    for (int32_t i = 0; i < family_count; ++i) {
      const char* name = family_table[i]->name;
      if (family_named(name) != family_table[i]) continue;  // counted with its first row
      int64_t n = 0;
      for (int32_t j = i; j < family_count; ++j)
        if (std::strcmp(family_table[j]->name, name) == 0) n += reads.by_family[j];
      all += n;
      if (n > 0) by += form("%s%s %" PRId64, by.empty() ? "" : ", ", name, n);
    }
    fault = fault || all > 0;
    std::printf("  %-44s %6" PRId64 "  %s\n", s.name.c_str(), all, by.c_str());
    for (const std::string& d : reads.details) std::printf("    ! seed %u: %s\n", seed, d.c_str());
    ++seed;
  }
  return fault;
}

}  // namespace

int main(int argc, char** argv) {
  int per_condition = 20;
  double hours = 10;
  std::string family_list = "all";
  CLI::App app{
      "Reads, wrong IDs, cross-family reads and false reads of the tolerant path for every "
      "tag family. Exit status 1 on any wrong ID, cross-family read or false read."};
  app.add_option("--per-condition", per_condition, "recordings of random tags per condition")
      ->check(CLI::Range(1, 1'000'000))
      ->capture_default_str();
  app.add_option("--hours", hours, "hours of each signal without a tag")
      ->check(CLI::Range(0.0, 1000.0))
      ->capture_default_str();
  app.add_option("--family", family_list,
                 "the families whose tags are sent and which the signals without a tag are "
                 "decoded for, comma-separated: " +
                     family_names())
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  FamilySet chosen = 0;
  if (const std::string message = family_set_of(family_list, chosen); !message.empty()) {
    std::fprintf(stderr, "family_count: %s\n", message.c_str());
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as it is done: a full run takes long
  const auto start = std::chrono::steady_clock::now();
  bool fault = false;
  for (int32_t i = 0; i < family_count; ++i) {
    const Family& f = *family_table[i];
    if (!(chosen >> i & 1)) continue;
    if (!family_renderable(f.modulation)) {
      std::printf("\n%s (%s): not counted, synth does not render %s yet\n", f.name, f.title,
                  modulation_name(f.modulation));
      continue;
    }
    fault = family_table_of(f, per_condition) || fault;
  }
  fault = false_read_table(chosen, hours) || fault;
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("\n%s (%.0f s)\n",
              fault ? "WRONG IDs, CROSS-FAMILY OR FALSE READS"
                    : "no wrong ID, no cross-family read, no false read",
              took.count());
  return fault ? 1 : 0;
}
