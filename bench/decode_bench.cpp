// Slicing and frame matching over 10 s of tag signal, against copying the same samples
// (the floor any decoder pays to see them), measured in the same run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "decode/half_bit_ring.hpp"
#include "frontend/level_slicer.hpp"
#include "platform/console.hpp"
#include "tools/tag_signal.hpp"

namespace tavrel {
namespace {

constexpr int32_t block = 12000;

const std::vector<uint8_t>& ten_seconds() {
  static const std::vector<uint8_t> samples = [] {
    TagSignal signal;
    signal.options.noise = 0.02;
    signal.options.jitter = 1.0;
    std::vector<uint8_t> out;
    append_frames(signal, tag_frame(0x84'0004'3916), 310, out);
    out.resize(48000 * 10, 128);
    return out;
  }();
  return samples;
}

void set_counters(benchmark::State& state, size_t samples) {
  const double total = static_cast<double>(samples) * static_cast<double>(state.iterations());
  state.counters["samples/s"] = benchmark::Counter(total, benchmark::Counter::kIsRate);
  state.counters["x_realtime"] =
      benchmark::Counter(total / sample_rate, benchmark::Counter::kIsRate);
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

void BM_SliceNoise(benchmark::State& state) {
  // Fast random edges: the matcher runs far more often than on a tag.
  std::vector<uint8_t> samples(48000 * 10);
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

}  // namespace
}  // namespace tavrel

BENCHMARK_MAIN();
