#pragma once
// What the timing benchmarks share: the real-time counter, the plain pass over the samples
// that the decoders are measured against, and a reporter that keeps each benchmark's
// processor time for the ratios printed after the table.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tavrel {

/// Sets "x_realtime": the seconds of signal at `rate` taken per second.
inline void set_realtime(benchmark::State& state, size_t samples, double rate) {
  const double total = static_cast<double>(samples) * static_cast<double>(state.iterations());
  state.counters["x_realtime"] = benchmark::Counter(total / rate, benchmark::Counter::kIsRate);
}

/// The least any decoder does: each sample read once, in blocks of `block`.
inline void plain_pass(const std::vector<uint8_t>& samples, size_t block) {
  for (size_t at = 0; at < samples.size(); at += block) {
    const size_t end = std::min(samples.size(), at + block);
    uint32_t sum = 0;
    for (size_t i = at; i < end; ++i) sum += samples[i];
    benchmark::DoNotOptimize(sum);
  }
}

/// The console table as usual, and each benchmark's processor time kept for the ratios:
/// the machine may be shared, and each benchmark runs on one thread. Of repetitions, the
/// least: a shared machine only ever slows a run down.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate) continue;
      const double s = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      const auto [kept, fresh] = seconds.try_emplace(run.run_name.function_name, s);
      if (!fresh) kept->second = std::min(kept->second, s);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;  ///< processor seconds per iteration
};

}  // namespace tavrel
