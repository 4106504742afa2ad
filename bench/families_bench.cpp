// Every family at once over a recording of mixed families: tags of every row of the family
// table in turn (at each of its data rates, both ways up, under a few degradations), each
// entering the field at a random point of its frame for about a second, with gaps between.
//   1. Counted, in stream time: the recording fed as a real-time stream in 20 ms pieces
//      (as tavrel-decode - reads a pipe); per family, the tags read, wrong reads, and the
//      time from a tag's first sample to the end of the piece that gave its first read,
//      median and worst, also over the floor the sure-read rules set for that tag:
//      sure_frames repetitions of its frame at its data rate (a tag that enters the field
//      mid-frame waits for part of one more).
//   2. Timed: the tolerant path with every family, fed in blocks as files are, against a
//      plain pass over the same samples, measured in the same run (Google Benchmark), each
//      the least of three runs.
//
//   families_bench [--seconds S] [--write FILE] [benchmark options]
//   (default 600 s; --write stores the recording as 8-bit stereo, the tag on the right,
//   for the live benchmark, and exits)

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio_reporter.hpp"
#include "lf/decoder.hpp"
#include "synth/family_signal.hpp"

namespace tavrel {
namespace {

constexpr int32_t file_block = block_frames;  ///< samples per call, as tavrel-decode reads files
constexpr int32_t stream_piece = sample_rate / 50;  ///< 20 ms: a pipe's piece
constexpr double rate = sample_rate;

/// How the mix degrades its tags, in turn.
const SignalCondition conditions[] = {
    {"clean"},
    {"weak, offset", 12, 20},
    {"10 dB SNR", 80, 0, 10},
    {"AC coupling 100 Hz", 80, 0, 99, 100},
};

/// One tag in the mix.
struct Presentation {
  const Family* family;
  FrameBits frame;
  int32_t rf;     ///< RF/n it is sent at
  int64_t start;  ///< first sample of its signal
  int64_t end;    ///< sample just after it
};

struct Mix {
  std::vector<uint8_t> samples;  ///< the tag's channel at `rate`
  std::vector<Presentation> tags;
};

// The frames of `f` at RF/`rf` last this many samples, gap included.
double period_samples(const Family& f, int32_t rf) {
  return (f.frame_symbols + f.gap_symbols) * rate * rf / field_hz;
}

Mix make_mix(double seconds) {
  Mix mix;
  std::mt19937 random(5);
  std::uniform_real_distribution<double> uniform(0, 1);
  const auto wanted = static_cast<size_t>(seconds * rate);
  const int64_t lead = static_cast<int64_t>(rate / 5);  // family_recording's silence each side
  // Whole tags: the recording ends with the first that reaches `seconds`.
  for (unsigned turn = 0; mix.samples.size() < wanted; ++turn) {
    const Family& row = *family_table[turn % family_count];
    const unsigned round = turn / family_count;
    int32_t rates = 0;
    while (rates < 3 && row.rates[rates] > 0) ++rates;
    Family at_rate = row;
    at_rate.rates[0] = row.rates[round % rates];
    const SignalCondition& c = conditions[round % std::size(conditions)];
    FrameBits frame{};
    if (!example_frame(row, frame)) {
      std::fprintf(stderr, "families_bench: %s's example does not encode\n", row.name);
      std::exit(2);
    }
    // About a second of tag, from a random point of its frame on.
    const double period = period_samples(row, at_rate.rates[0]);
    const auto cut = static_cast<int64_t>(uniform(random) * period);
    const int frames = static_cast<int>(std::ceil((0.8 + 0.6 * uniform(random)) * rate / period));
    const std::vector<uint8_t> piece = family_recording(
        c, at_rate, frame, round / std::size(conditions) % 2 == 1, turn + 1, frames + 1);
    Presentation p{&row, frame, at_rate.rates[0], 0, 0};
    mix.samples.insert(mix.samples.end(), piece.begin(), piece.begin() + lead);
    p.start = static_cast<int64_t>(mix.samples.size());
    mix.samples.insert(mix.samples.end(), piece.begin() + lead + cut, piece.end());
    p.end = static_cast<int64_t>(mix.samples.size()) - lead;
    mix.tags.push_back(p);
  }
  return mix;
}

Mix& the_mix(double seconds = 0) {
  static Mix mix = make_mix(seconds);
  return mix;
}

// ---- 1. counted in stream time ---------------------------------------------------------

struct Heard {
  TagRead read;
  int64_t at;  ///< stream sample when it came out: the end of the piece that gave it
};

struct Listener {
  std::vector<Heard> reads;
  int64_t piece_end = 0;
};

void listen(void* context, const TagRead& read) {
  auto& l = *static_cast<Listener*>(context);
  l.reads.push_back({read, l.piece_end});
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Returns false when any read was wrong.
bool latency_table(const Mix& mix) {
  static TolerantDecoder d;
  Listener l;
  tolerant_begin(d, rate, every_family, listen, &l);
  const auto n = static_cast<int64_t>(mix.samples.size());
  for (int64_t at = 0; at < n; at += stream_piece) {
    const auto m = static_cast<int32_t>(std::min<int64_t>(stream_piece, n - at));
    l.piece_end = at + m;
    tolerant_take(d, mix.samples.data() + at, m);
  }
  struct Row {
    int32_t tags = 0;
    int32_t read = 0;
    int32_t wrong = 0;
    std::vector<double> ms;
    std::vector<double> floors;  ///< the same over the floor
  };
  std::vector<Row> rows(static_cast<size_t>(family_count));
  const auto row_of = [](const Family* f) {
    return static_cast<size_t>(std::find(family_table, family_table + family_count, f) -
                               family_table);
  };
  int32_t stray = 0;  // reads outside every tag
  size_t next = 0;
  for (const Presentation& p : mix.tags) {
    Row& row = rows[row_of(p.family)];
    ++row.tags;
    bool first = true;
    // Reads come in about their order in time; a frame ends within its tag's signal.
    for (; next < l.reads.size() && l.reads[next].read.end <= p.end + stream_piece; ++next) {
      const Heard& h = l.reads[next];
      if (h.read.end < p.start) {
        ++stray;
        continue;
      }
      const bool right = h.read.family == p.family && h.read.frame.count == p.frame.count &&
                         std::memcmp(h.read.frame.words, p.frame.words, sizeof p.frame.words) == 0;
      if (!right) {
        ++row.wrong;
        continue;
      }
      if (!first) continue;
      first = false;
      ++row.read;
      const double latency = static_cast<double>(h.at - p.start);
      row.ms.push_back(1000.0 * latency / rate);
      row.floors.push_back(latency / (p.family->sure_frames * period_samples(*p.family, p.rf)));
    }
  }
  stray += static_cast<int32_t>(l.reads.size() - next);
  std::printf(
      "%.0f s of mixed families, %zu tags, fed in %d ms pieces; a tag's first read after its "
      "first sample, stream time:\n",
      static_cast<double>(n) / rate, mix.tags.size(), 1000 * stream_piece / sample_rate);
  std::printf("  %-24s %5s %5s %5s %9s %9s   %s\n", "family", "tags", "read", "wrong", "median ms",
              "worst ms", "median, worst over the floor");
  int32_t wrong = 0;
  std::vector<double> all;
  for (int32_t i = 0; i < family_count; ++i) {
    const Family& f = *family_table[i];
    const Row& r = rows[static_cast<size_t>(i)];
    const auto worst = [](const std::vector<double>& v) {
      return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
    };
    std::printf("  %-24s %5d %5d %5d %9.1f %9.1f   %.2fx %.2fx\n", f.title, r.tags, r.read, r.wrong,
                median(r.ms), worst(r.ms), median(r.floors), worst(r.floors));
    wrong += r.wrong;
    all.insert(all.end(), r.ms.begin(), r.ms.end());
  }
  const double mid = median(all);
  std::printf("  all: median %.1f ms (goal 100 ms: %s); %d wrong reads, %d outside every tag\n\n",
              mid, mid <= 100 ? "met" : "missed", wrong, stray);
  return wrong + stray == 0;
}

// ---- 2. timed --------------------------------------------------------------------------

void count_read(void* context, const TagRead&) {
  ++*static_cast<int64_t*>(context);
}

void BM_PlainPass(benchmark::State& state) {
  const std::vector<uint8_t>& samples = the_mix().samples;
  for (auto _ : state) plain_pass(samples, file_block);
  set_realtime(state, samples.size(), rate);
}
BENCHMARK(BM_PlainPass)->Repetitions(3);

void BM_AllFamilies(benchmark::State& state) {
  const std::vector<uint8_t>& samples = the_mix().samples;
  static TolerantDecoder d;
  int64_t reads = 0;
  for (auto _ : state) {
    tolerant_begin(d, rate, every_family, count_read, &reads);
    for (size_t at = 0; at < samples.size(); at += file_block) {
      const auto m = static_cast<int32_t>(std::min<size_t>(file_block, samples.size() - at));
      tolerant_take(d, samples.data() + at, m);
    }
  }
  benchmark::DoNotOptimize(reads);
  set_realtime(state, samples.size(), rate);
}
BENCHMARK(BM_AllFamilies)->Repetitions(3);

bool write_stereo(const Mix& mix, const char* path) {
  std::FILE* out = std::fopen(path, "wb");
  if (!out) return false;
  const std::vector<uint8_t> stereo = to_stereo(mix.samples);
  const bool done = std::fwrite(stereo.data(), 1, stereo.size(), out) == stereo.size();
  return std::fclose(out) == 0 && done;
}

}  // namespace
}  // namespace tavrel

int main(int argc, char** argv) {
  double seconds = 600;
  const char* write = nullptr;
  // Our options out of the way of the benchmark library's.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--write") == 0 && i + 1 < argc) {
      write = argv[++i];
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (!(seconds >= 10)) {
    std::fprintf(stderr, "families_bench: --seconds takes 10 or more\n");
    return 2;
  }
  const tavrel::Mix& mix = tavrel::the_mix(seconds);
  if (write) {
    if (tavrel::write_stereo(mix, write)) return 0;
    std::fprintf(stderr, "families_bench: cannot write %s\n", write);
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const bool right = tavrel::latency_table(mix);
  tavrel::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& t = reporter.seconds;
  if (t.count("BM_AllFamilies") && t.count("BM_PlainPass")) {
    const double length = static_cast<double>(mix.samples.size()) / tavrel::rate;
    const double realtime = length / t.at("BM_AllFamilies");
    std::printf(
        "every family at once: %.0fx real time at %d/s on one core (goal 1000x: %s), %.1fx the "
        "time of a plain pass over the same %.0f s\n",
        realtime, tavrel::sample_rate, realtime >= 1000 ? "met" : "missed",
        t.at("BM_AllFamilies") / t.at("BM_PlainPass"), length);
  }
  return right ? 0 : 1;
}
