// Slicing and frame matching over 10 s of tag signal, against the plain slicer and frame
// test of the tests (the oracle) and against copying the same samples (the floor any
// decoder pays to see them), measured in the same run; the ratios are printed at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio_reporter.hpp"
#include "decode/half_bit_ring.hpp"
#include "frontend/level_slicer.hpp"
#include "lf/decoder.hpp"
#include "platform/console.hpp"
#include "synth/tag_signal.hpp"
#include "tests/support/plain_decoder.hpp"

namespace tavrel {
namespace {

constexpr int32_t block = block_frames;

const std::vector<uint8_t>& ten_seconds() {
  static const std::vector<uint8_t> samples = [] {
    TagSignal signal;
    signal.options.noise = 0.02;
    signal.options.jitter = 1.0;
    return tag_seconds(signal, tag_frame(0x84'0004'3916), 10.0);
  }();
  return samples;
}

void set_counters(benchmark::State& state, size_t samples) {
  const double total = static_cast<double>(samples) * static_cast<double>(state.iterations());
  state.counters["samples/s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
  set_realtime(state, samples, sample_rate);
}

void BM_CopyOnly(benchmark::State& state) {
  const auto& samples = ten_seconds();
  std::vector<uint8_t> work(block);
  for (auto _ : state) {
    for (size_t at = 0; at + block <= samples.size(); at += block) {
      std::memcpy(work.data(), samples.data() + at, block);
      benchmark::DoNotOptimize(work.data());
      benchmark::ClobberMemory();
    }
  }
  set_counters(state, samples.size());
}
BENCHMARK(BM_CopyOnly);

void BM_SliceAndMatch(benchmark::State& state) {
  const auto& samples = ten_seconds();
  std::vector<uint8_t> work(block);
  std::FILE* sink = std::tmpfile();
  console_stream = sink;
  for (auto _ : state) {
    for (size_t at = 0; at + block <= samples.size(); at += block) {
      std::memcpy(work.data(), samples.data() + at, block);
      slice_block(work.data(), block, 0);
    }
    std::rewind(sink);
  }
  console_stream = stdout;
  std::fclose(sink);
  set_counters(state, samples.size());
}
BENCHMARK(BM_SliceAndMatch);

struct PlainDecoding {
  HalfBitRing ring{};
};

void plain_take(void* context, int32_t level, int32_t run_length) {
  test::plain_push_run(static_cast<PlainDecoding*>(context)->ring, true, level, run_length);
}

void BM_SliceAndMatchPlain(benchmark::State& state) {
  const auto& samples = ten_seconds();
  std::vector<uint8_t> work(block);
  std::FILE* sink = std::tmpfile();
  console_stream = sink;
  PlainDecoding plain;
  for (auto _ : state) {
    for (size_t at = 0; at + block <= samples.size(); at += block) {
      std::memcpy(work.data(), samples.data() + at, block);
      plain.ring.write_index = 0;
      plain.ring.count = 0;
      test::plain_slice(work.data(), block, 0, plain_take, &plain);
    }
    std::rewind(sink);
  }
  console_stream = stdout;
  std::fclose(sink);
  set_counters(state, samples.size());
}
BENCHMARK(BM_SliceAndMatchPlain);

void BM_SliceNoise(benchmark::State& state) {
  // Fast random edges: the matcher runs far more often than on a tag.
  std::vector<uint8_t> samples(10 * sample_rate);
  uint32_t x = 1;
  for (auto& s : samples) {
    x = x * 1664525u + 1013904223u;
    s = static_cast<uint8_t>(x >> 24);
  }
  std::vector<uint8_t> work(block);
  for (auto _ : state) {
    for (size_t at = 0; at + block <= samples.size(); at += block) {
      std::memcpy(work.data(), samples.data() + at, block);
      slice_block(work.data(), block, 0);
    }
  }
  set_counters(state, samples.size());
}
BENCHMARK(BM_SliceNoise);

// The tolerant path over the same 10 s, fed in the same blocks, looking for the program's
// family, EM4100 (every family at once is families_bench's); its reads are counted.
void count_read(void* context, const TagRead&) {
  ++*static_cast<int64_t*>(context);
}

void BM_RobustDecode(benchmark::State& state) {
  const auto& samples = ten_seconds();
  static TolerantDecoder decoder;
  static FamilySet em4100 = 0;
  if (em4100 == 0 && !family_set_of("em4100", em4100).empty()) state.SkipWithError("no em4100");
  int64_t reads = 0;
  for (auto _ : state) {
    tolerant_begin(decoder, sample_rate, em4100, count_read, &reads);
    for (size_t at = 0; at + block <= samples.size(); at += block)
      tolerant_take(decoder, samples.data() + at, block);
  }
  benchmark::DoNotOptimize(reads);
  set_counters(state, samples.size());
}
BENCHMARK(BM_RobustDecode);

}  // namespace
}  // namespace tavrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  tavrel::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& t = reporter.seconds;
  if (t.count("BM_SliceAndMatch") && t.count("BM_SliceAndMatchPlain")) {
    const double ratio = t.at("BM_SliceAndMatchPlain") / t.at("BM_SliceAndMatch");
    std::printf(
        "slice+match, fast path over the plain oracle, same 10 s signal: %.2fx (goal 3x: %s)\n",
        ratio, ratio >= 3 ? "met" : "missed");
  }
  if (t.count("BM_RobustDecode") && t.count("BM_SliceAndMatch")) {
    // Seconds of processor time per second of signal at the sound input's rate, the goal
    // 2000x real time.
    const double realtime = 10.0 / t.at("BM_RobustDecode");
    std::printf(
        "tolerant path, EM4100: %.0fx real time at %d/s (goal 2000x: %s), %.2fx the time of "
        "the program's slice+match on the same 10 s\n",
        realtime, tavrel::sample_rate, realtime >= 2000 ? "met" : "missed",
        t.at("BM_RobustDecode") / t.at("BM_SliceAndMatch"));
  }
  if (t.count("BM_SliceAndMatch") && t.count("BM_CopyOnly")) {
    std::printf("slice+match over copying the samples: %.2fx\n",
                t.at("BM_SliceAndMatch") / t.at("BM_CopyOnly"));
  }
  return 0;
}
