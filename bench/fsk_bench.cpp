// The FSK demodulator (both lanes) over 10 s of FSK tags, one family after another with
// some noise, against a plain pass over the same samples (summing them: the floor any
// decoder pays to see them), measured in the same run; the ratio is printed at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/ratio_reporter.hpp"
#include "lf/demod/fsk.hpp"
#include "lf/family_table.hpp"
#include "synth/fsk_signal.hpp"

namespace tavrel {
namespace {

constexpr int32_t block = block_frames;
constexpr double seconds = 10;

const std::vector<uint8_t>& ten_seconds() {
  static const std::vector<uint8_t> samples = [] {
    struct Tag {
      const Family* family;
      const char* form;
    };
    const Tag tags[] = {{&family_hid, "26:118:1603"},        {&family_awid, "26:224:1337"},
                        {&family_ioprox, "XSF(01)3b:44725"}, {&family_paradox, "96:40426"},
                        {&family_pyramid, "123:11223"},      {&family_fdxa, "0000013531"}};
    std::vector<uint8_t> out;
    const SignalCondition c{"bench", 60, 0, 20};
    for (unsigned seed = 1; out.size() < seconds * sample_rate; ++seed) {
      const Tag& tag = tags[seed % std::size(tags)];
      FrameBits frame{};
      tag.family->encode(tag.form, frame);
      const std::vector<uint8_t> piece =
          fsk_condition_recording(c, frame, tag.family->rates[0], false, seed, 20);
      out.insert(out.end(), piece.begin(), piece.end());
    }
    out.resize(static_cast<size_t>(seconds * sample_rate));
    return out;
  }();
  return samples;
}

void BM_PlainPass(benchmark::State& state) {
  const auto& samples = ten_seconds();
  for (auto _ : state) plain_pass(samples, static_cast<size_t>(block));
  set_realtime(state, samples.size(), sample_rate);
}
BENCHMARK(BM_PlainPass);

void count_symbol(void* context, int32_t, const Symbol* symbols, int32_t n) {
  for (int32_t i = 0; i < n; ++i) *static_cast<int64_t*>(context) += symbols[i].value;
}

void BM_FskDemod(benchmark::State& state) {
  const auto& samples = ten_seconds();
  const auto demod = std::make_unique<FskDemod>();
  int64_t ones = 0;
  for (auto _ : state) {
    fsk_begin(*demod, sample_rate, {count_symbol, &ones});
    for (size_t at = 0; at + block <= samples.size(); at += block)
      fsk_take(*demod, samples.data() + at, block);
  }
  benchmark::DoNotOptimize(ones);
  set_realtime(state, samples.size(), sample_rate);
}
BENCHMARK(BM_FskDemod);

}  // namespace
}  // namespace tavrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  tavrel::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto& t = reporter.seconds;
  if (t.count("BM_FskDemod") && t.count("BM_PlainPass")) {
    const double realtime = tavrel::seconds / t.at("BM_FskDemod");
    std::printf(
        "FSK demodulator, both lanes: %.0fx real time at %d/s (goal well over 3000x: %s), "
        "%.1fx the time of a plain pass over the same 10 s\n",
        realtime, tavrel::sample_rate, realtime >= 3000 ? "met" : "missed",
        t.at("BM_FskDemod") / t.at("BM_PlainPass"));
  }
  return 0;
}
