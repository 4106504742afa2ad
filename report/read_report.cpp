#include "report/read_report.hpp"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <ctime>
#include <iterator>
#include <nlohmann/json.hpp>

#include "frontend/level_slicer.hpp"

namespace tavrel {

CardForms card_forms(uint64_t id40) {
  CardForms forms{};
  const auto low32 = static_cast<uint32_t>(id40);
  std::snprintf(forms.hex, sizeof forms.hex, "%010" PRIX64, id40 & 0xFF'FFFF'FFFF);
  std::snprintf(forms.dec32, sizeof forms.dec32, "%010" PRIu32, low32);
  std::snprintf(forms.dec24, sizeof forms.dec24, "%08" PRIu32, low32 & 0xFF'FFFF);
  std::snprintf(forms.number, sizeof forms.number, "%d.%d", static_cast<int>(low32 >> 16),
                static_cast<int>(low32 & 0xFFFF));
  forms.facility = static_cast<int32_t>((low32 >> 16) & 0xFF);
  forms.card = static_cast<int32_t>(low32 & 0xFFFF);
  return forms;
}

std::string wall_time_now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis));
  return text;
}

static double tenths(double v) {
  return std::round(v * 10) / 10 + 0.0;  // no "-0.0"
}

std::string read_json(const std::string& file, const Read& read, const std::string& wall) {
  const CardForms f = card_forms(frame_data(read.frame.bits));
  nlohmann::ordered_json j;
  j["file"] = file;
  j["time"] = std::round(read.time * 1e6) / 1e6;  // microseconds are plenty
  if (!wall.empty()) j["wall"] = wall;
  j["id"] = f.hex;
  j["id_high"] = read.frame.number.id_high;
  j["id_low"] = read.frame.number.id_low;
  j["repeat"] = read.repeat;
  j["inverted"] = read.inverted;
  if (const RobustRead* r = read.robust) {
    j["clock"] = r->clock;
    j["level"] = tenths(r->level);
    j["offset"] = tenths(r->offset);
    j["snr_db"] = tenths(r->snr_db);
  }
  j["number"] = f.number;
  j["dec32"] = f.dec32;
  j["dec24"] = f.dec24;
  j["wiegand26"] = {{"facility", f.facility}, {"card", f.card}};
  // A file name that is not UTF-8 gets U+FFFD for its stray bytes instead of an exception.
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// The signed level below which `share` of the samples lie.
static int percentile(const DecodeStats& stats, double share) {
  const auto wanted = static_cast<int64_t>(share * static_cast<double>(stats.samples - 1));
  int64_t seen = 0;
  for (int v = 0; v < 256; ++v) {
    seen += stats.levels[v];
    if (seen > wanted) return v - 128;
  }
  return 127;
}

static double percent(int64_t part, int64_t whole) {
  return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

static void write_levels(std::FILE* out, const DecodeStats& stats) {
  std::fprintf(out, "signal level, signed (128 subtracted), thresholds at %d and %d:\n ",
               low_threshold, high_threshold);
  static constexpr struct {
    const char* name;
    double share;
  } marks[] = {{"min", 0},   {"1%", .01},  {"5%", .05},  {"25%", .25}, {"50%", .5},
               {"75%", .75}, {"95%", .95}, {"99%", .99}, {"max", 1}};
  for (const auto& mark : marks)
    std::fprintf(out, " %s %d", mark.name, percentile(stats, mark.share));
  int64_t low = 0;
  int64_t high = 0;
  for (int v = 0; v < 256; ++v) {
    if (v - 128 <= low_threshold) low += stats.levels[v];
    if (v - 128 >= high_threshold) high += stats.levels[v];
  }
  std::fprintf(out, "\n  at or below %d: %.1f%%, at or above %d: %.1f%%, between: %.1f%%\n",
               low_threshold, percent(low, stats.samples), high_threshold,
               percent(high, stats.samples), percent(stats.samples - low - high, stats.samples));
}

struct RunTotals {
  int64_t all, one, two, short_ones, long_ones;
  int64_t half;  ///< runs half as long as one half-bit: a half-bit of an RF/32 tag
};

static RunTotals run_totals(const DecodeStats& stats) {
  RunTotals t{};
  for (int n = 0; n <= counted_run; ++n) {
    const int64_t count = stats.runs[0][n] + stats.runs[1][n];
    t.all += count;
    if (n < min_run)
      t.short_ones += count;
    else if (n < long_run)
      t.one += count;
    else if (n <= max_run)
      t.two += count;
    else
      t.long_ones += count;
    if (n >= min_run / 2 && n < min_run) t.half += count;
  }
  return t;
}

static RunTotals write_runs(std::FILE* out, const DecodeStats& stats) {
  std::fprintf(out,
               "run lengths in samples (%d..%d: one half-bit, %d..%d: two, others dropped):\n"
               "  length      high       low\n",
               min_run, long_run - 1, long_run, max_run);
  for (int n = 0; n <= counted_run; ++n) {
    const int64_t count = stats.runs[0][n] + stats.runs[1][n];
    if (count == 0) continue;
    const char* use = n < min_run    ? "dropped, short"
                      : n < long_run ? "one half-bit"
                      : n <= max_run ? "two half-bits"
                                     : "dropped, long";
    std::fprintf(out, "  %6d%c%9" PRId64 " %9" PRId64 "   %s\n", n, n == counted_run ? '+' : ' ',
                 stats.runs[1][n], stats.runs[0][n], use);
  }
  const RunTotals t = run_totals(stats);
  std::fprintf(out,
               "  runs: %" PRId64 ", one half-bit: %" PRId64 ", two half-bits: %" PRId64
               ", dropped as shorter than %d: %" PRId64 ", dropped as longer than %d: %" PRId64
               "\n",
               t.all, t.one, t.two, min_run, t.short_ones, max_run, t.long_ones);
  return t;
}

static void write_checks(std::FILE* out, const DecodeStats& stats) {
  static constexpr const char* names[] = {"fewer than %d half-bits since the block began",
                                          "failed the header (nine 1 bits)",
                                          "failed the Manchester test (equal pair)",
                                          "failed a row parity",
                                          "failed a column parity",
                                          "failed the stop bit (not 0)",
                                          "passed: read"};
  static_assert(std::size(names) == frame_check_count);
  std::fprintf(out, "frame tests, one after every stored half-bit:\n");
  for (int c = 0; c < frame_check_count; ++c) {
    char name[64];
    std::snprintf(name, sizeof name, names[c], ring_size);
    std::fprintf(out, "  %-48s %10" PRId64 "\n", name, stats.checks[c]);
  }
}

// A short guess at what to change, from the most telling count.
static std::string hint(const DecodeStats& stats, const RunTotals& runs) {
  const auto check = [&](FrameCheck c) { return stats.checks[static_cast<int>(c)]; };
  if (stats.samples == 0) return "the file holds no samples";
  if (check(FrameCheck::ok) > 0) return "";
  if (runs.all == 0) {
    int64_t low = 0;
    for (int v = 0; v <= 128 + low_threshold; ++v) low += stats.levels[v];
    return (low == 0
                ? "the signal never reaches the low threshold (" + std::to_string(low_threshold)
                : "the signal never reaches the high threshold (" +
                      std::to_string(high_threshold)) +
           "): raise the input level, look for a DC offset, or try --channel";
  }
  if (runs.short_ones * 2 > runs.all)
    return "most runs are shorter than " + std::to_string(min_run) +
           " samples: noise, or a tag sending faster than RF/64 (try --clock 32 or --clock 16)";
  if (runs.long_ones * 2 > runs.all)
    return "most runs are longer than " + std::to_string(max_run) +
           " samples: no tag signal, or one slower than RF/64";
  if (check(FrameCheck::row_parity) + check(FrameCheck::column_parity) > 0)
    return "frames fail the parity tests: try --invert (or --invert=auto)";
  if (check(FrameCheck::manchester) > 0)
    return "headers are found but the rest is no clean Manchester code: check the level "
           "and the noise";
  return "no header of nine 1 bits: try --invert, or check that this is an EM4100-style tag";
}

// Why the tolerant path read nothing, from its candidates.
static std::string robust_hint(const RobustClockStats& s) {
  const auto check = [&](RobustCheck c) { return s.checks[static_cast<int>(c)]; };
  if (check(RobustCheck::ok) > 0) return "";
  if (s.candidates == 0)
    return "no 64 bits came twice in a row at any clock: no EM4100 tag signal, or one "
           "buried in noise";
  if (check(RobustCheck::frame) * 2 > s.candidates)
    return "bits came twice in a row but failed the frame checks: no EM4100 frame, or "
           "a damaged one";
  return "frames came twice in a row but their bits were not clean enough to be sure: "
         "noise or interference";
}

static void write_robust(std::FILE* out, const RobustClockStats& s) {
  std::fprintf(out,
               "tolerant path, all clocks: %" PRId64 " half-bits decided, %" PRId64
               " windows held the same 64 bits twice in a row:\n",
               s.half_bits, s.candidates);
  static constexpr const char* frame_names[] = {"",
                                                "failed the header (nine 1 bits)",
                                                "",
                                                "failed a row parity",
                                                "failed a column parity",
                                                "failed the stop bit (not 0)",
                                                ""};
  static_assert(std::size(frame_names) == frame_check_count);
  for (int c = 0; c < frame_check_count; ++c) {
    if (*frame_names[c])
      std::fprintf(out, "  %-48s %10" PRId64 "\n", frame_names[c], s.frame_checks[c]);
  }
  static constexpr const char* names[] = {"", "a bit far weaker than the others",
                                          "not Manchester code between the bits",
                                          "the same frames again after a slip", "passed: read"};
  static_assert(std::size(names) == robust_check_count);
  for (int c = 1; c < robust_check_count; ++c)
    std::fprintf(out, "  %-48s %10" PRId64 "\n", names[c], s.checks[c]);
}

void write_stats(std::FILE* out, const char* file, const SoundFacts& facts,
                 const DecodeOptions& options, const DecodeStats& stats) {
  if (options.robust) {
    std::fprintf(out, "%s: %.3f s at %d samples/s (%d channel%s), tolerant path\n", file,
                 static_cast<double>(stats.samples) / facts.file_rate, facts.file_rate,
                 facts.channels, facts.channels == 1 ? "" : "s");
    if (stats.samples > 0) write_levels(out, stats);
    write_robust(out, stats.robust);
    if (const std::string text = robust_hint(stats.robust); !text.empty())
      std::fprintf(out, "hint: %s\n", text.c_str());
    return;
  }
  const char* polarity = options.invert == invert_auto ? "both"
                         : options.invert              ? "inverted"
                                                       : "normal";
  std::fprintf(out,
               "%s: %.3f s at %.0f samples/s (file: %d/s, %d channel%s), %" PRId64
               " blocks, polarity %s, parity tests %s\n",
               file, static_cast<double>(stats.samples) / options.rate, options.rate,
               facts.file_rate, facts.channels, facts.channels == 1 ? "" : "s", stats.blocks,
               polarity, options.parity ? "on" : "off");
  std::fprintf(out, "NaN samples, taken as the middle level: %" PRId64 "\n", facts.nan_samples);
  if (stats.samples > 0) write_levels(out, stats);
  const RunTotals runs = write_runs(out, stats);
  write_checks(out, stats);
  if (const std::string text = hint(stats, runs); !text.empty())
    std::fprintf(out, "hint: %s\n", text.c_str());
}

void stats_add(DecodeStats& total, const DecodeStats& s) {
  for (int l = 0; l < 2; ++l)
    for (int n = 0; n <= counted_run; ++n) total.runs[l][n] += s.runs[l][n];
  for (int c = 0; c < frame_check_count; ++c) total.checks[c] += s.checks[c];
  for (int v = 0; v < 256; ++v) total.levels[v] += s.levels[v];
  total.samples += s.samples;
  total.blocks += s.blocks;
  total.robust.half_bits += s.robust.half_bits;
  total.robust.candidates += s.robust.candidates;
  for (int c = 0; c < frame_check_count; ++c)
    total.robust.frame_checks[c] += s.robust.frame_checks[c];
  for (int c = 0; c < robust_check_count; ++c) total.robust.checks[c] += s.robust.checks[c];
}

// The rules behind the hint on a failed decode, most telling first. Each returns "" when
// it does not apply; adding a cause is adding a function to the list.
static std::string channel_hint(const HintFacts& f, const RunTotals&) {
  if (f.peak >= high_threshold || f.other_peak < high_threshold) return "";
  const char* here = f.channel == 0 ? "left" : "right";
  const char* there = f.channel == 0 ? "right" : "left";
  return std::string("the ") + here + " channel stays between the thresholds and the " + there +
         " one carries a signal: try --channel " + there;
}

static std::string level_hint(const HintFacts& f, const RunTotals&) {
  if (f.peak >= high_threshold || f.robust) return "";
  return "the signal never reaches the thresholds (" + std::to_string(low_threshold) + " and " +
         std::to_string(high_threshold) + " of 128): raise the input level, or try --robust";
}

static std::string clock_hint(const HintFacts& f, const RunTotals& runs) {
  if (f.robust || runs.half * 3 <= runs.all || runs.half <= runs.one + runs.two) return "";
  return "most runs are half as long as an RF/64 tag's: try --clock 32";
}

static std::string invert_hint(const HintFacts& f, const RunTotals&) {
  const auto fails = f.stats.checks[static_cast<int>(FrameCheck::row_parity)] +
                     f.stats.checks[static_cast<int>(FrameCheck::column_parity)];
  if (fails == 0 || f.invert == invert_auto || f.robust) return "";
  return f.invert ? "frames fail the parity tests: try without --invert"
                  : "frames fail the parity tests: try --invert";
}

static std::string tolerant_hint(const HintFacts& f, const RunTotals&) {
  return f.robust ? robust_hint(f.stats.robust) : "";
}

static std::string (*const hint_rules[])(const HintFacts&, const RunTotals&) = {
    channel_hint, level_hint, clock_hint, invert_hint, tolerant_hint};

std::string failure_hint(const HintFacts& facts) {
  const RunTotals runs = run_totals(facts.stats);
  for (const auto rule : hint_rules) {
    std::string text = rule(facts, runs);
    if (!text.empty()) return text;
  }
  return "no frame passed the tests; --stats shows where they fail, or try --robust";
}

}  // namespace tavrel
