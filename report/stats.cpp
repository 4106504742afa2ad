#include "report/stats.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <iterator>

#include "frontend/level_slicer.hpp"
#include "report/reasons.hpp"

namespace tavrel {

void stats_take(TolerantStats& out, const TolerantDecoder& d) {
  out.symbols = d.symbols;
  out.family_count = d.family_count;
  out.unreadable = d.unreadable;
  for (int32_t i = 0; i < d.family_count; ++i) {
    out.families[i] = d.families[i];
    out.counts[i] = d.stats[i];
  }
  out.lane_count = d.lane_count;
  for (int32_t l = 0; l < d.lane_count; ++l) out.lanes[l] = tolerant_lane_stats(d, l);
}

static bool same_lane(const LaneInfo& a, const LaneInfo& b) {
  return a.modulation == b.modulation && a.rate == b.rate && a.field_hz == b.field_hz;
}

// The lanes of `s` added to those of `total`, matched by what they carry and, among lanes
// that carry the same (the two pairings of an ASK code), by their order.
static void lanes_add(TolerantStats& total, const TolerantStats& s) {
  for (int32_t l = 0; l < s.lane_count; ++l) {
    const LaneInfo& info = s.lanes[l].info;
    int32_t before = 0;  // lanes of s before this one that carry the same
    for (int32_t k = 0; k < l; ++k) before += same_lane(s.lanes[k].info, info);
    int32_t t = 0;
    for (; t < total.lane_count; ++t)
      if (same_lane(total.lanes[t].info, info) && before-- == 0) break;
    if (t == max_lanes) continue;
    if (t == total.lane_count) total.lanes[total.lane_count++] = LaneStats{info, 0, 0, 0, 0};
    LaneStats& sum = total.lanes[t];
    sum.symbols += s.lanes[l].symbols;
    sum.tone_energy += s.lanes[l].tone_energy;
    sum.input_energy += s.lanes[l].input_energy;
    sum.field_energy += s.lanes[l].field_energy;
  }
}

static void family_add(TolerantStats& total, const Family* f, const FamilyStats& s) {
  int32_t i = 0;
  while (i < total.family_count && total.families[i] != f) ++i;
  if (i == max_families) return;
  if (i == total.family_count) {
    total.families[total.family_count++] = f;
    total.counts[i] = FamilyStats{};
  }
  FamilyStats& t = total.counts[i];
  t.frames += s.frames;
  for (int32_t v = 0; v < max_reasons; ++v) t.verdicts[v] += s.verdicts[v];
  for (int32_t c = 0; c < sure_check_count; ++c) t.sure[c] += s.sure[c];
}

void stats_add(DecodeStats& total, const DecodeStats& s) {
  for (int v = 0; v < 256; ++v) total.levels[v] += s.levels[v];
  total.samples += s.samples;
  ProgramStats& p = total.program;
  for (int l = 0; l < 2; ++l)
    for (int n = 0; n <= counted_run; ++n) p.runs[l][n] += s.program.runs[l][n];
  for (int c = 0; c < frame_check_count; ++c) p.checks[c] += s.program.checks[c];
  p.blocks += s.program.blocks;
  TolerantStats& t = total.tolerant;
  t.symbols += s.tolerant.symbols;
  t.unreadable |= s.tolerant.unreadable;
  for (int32_t i = 0; i < s.tolerant.family_count; ++i)
    family_add(t, s.tolerant.families[i], s.tolerant.counts[i]);
  lanes_add(t, s.tolerant);
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

static RunTotals run_totals(const ProgramStats& stats) {
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

static void write_program(std::FILE* out, const ProgramStats& stats) {
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
  std::fprintf(out, "frame tests, one after every stored half-bit:\n");
  for (int c = 0; c < frame_check_count; ++c) {
    char name[64];
    std::snprintf(name, sizeof name, frame_check_reasons[c].stats, ring_size);
    std::fprintf(out, "  %-48s %10" PRId64 "\n", name, stats.checks[c]);
  }
}

// The tones' share of the input's power: white noise gives 3 / (a symbol's samples), 0.16
// at 48000/s, an FSK tag near 1, an ASK tag or an input whose band stops below them near 0.
constexpr double tones_missing = 0.03;  ///< below this share, the input holds almost none
constexpr double tones_measured = 0.3;  ///< from this share, what the tones measure is shown
constexpr double tones_present = 0.5;   ///< from this share, the input is mostly tones

// The share of the input's power that an FSK lane's tones held, or -1 for a lane that
// measures none.
static double tone_share(const LaneStats& lane) {
  return lane.input_energy > 0 ? std::min(1.0, lane.tone_energy / lane.input_energy) : -1;
}

static void write_lanes(std::FILE* out, const TolerantStats& s) {
  for (int32_t l = 0; l < s.lane_count; ++l) {
    const LaneStats& lane = s.lanes[l];
    int32_t pairing = 1;
    for (int32_t k = 0; k < l; ++k) pairing += same_lane(s.lanes[k].info, lane.info);
    char name[96];
    std::snprintf(name, sizeof name, "%s, RF/%d%s%s", modulation_name(lane.info.modulation),
                  lane.info.rate, lane.info.field_hz != field_hz ? " of 134.2 kHz" : "",
                  pairing > 1 ? ", other pairing" : "");
    std::fprintf(out, "  lane %-60s %10" PRId64 " symbols\n", name, lane.symbols);
    const double share = tone_share(lane);
    if (share < 0) continue;
    // The symbols' period and the tones follow the field, the tag's clock; measured on noise
    // they say nothing.
    const double field = lane.tone_energy > 0 ? lane.field_energy / lane.tone_energy : 0;
    std::fprintf(out, "    the tones held %.1f%% of the input's power", 100 * share);
    if (share >= tones_measured && field > 0)
      std::fprintf(out, "; symbols of %.1f µs (a field of %.1f kHz: tones of %.2f and %.2f kHz)",
                   1e6 * lane.info.rate / field, field / 1e3, field / 10e3, field / 8e3);
    std::fprintf(out, "\n");
  }
}

static void write_tolerant(std::FILE* out, const TolerantStats& s) {
  std::fprintf(out, "tolerant path: %" PRId64 " symbols decided on all lanes\n", s.symbols);
  write_lanes(out, s);
  for (int32_t i = 0; i < s.family_count; ++i) {
    const Family& f = *s.families[i];
    const FamilyStats& c = s.counts[i];
    std::fprintf(out, "  %s: %" PRId64 " windows began with its sync\n", f.title, c.frames);
    for (int32_t v = 1; v < f.reason_count && v < max_reasons; ++v)
      if (c.verdicts[v] > 0)
        std::fprintf(out, "    failed: %-40s %10" PRId64 "\n", f.reasons[v], c.verdicts[v]);
    for (int k = 0; k < sure_check_count; ++k)
      if (c.sure[k] > 0 || k == static_cast<int>(SureCheck::read))
        std::fprintf(out, "    %-48s %10" PRId64 "\n", sure_check_reasons[k].stats, c.sure[k]);
  }
}

void write_stats(std::FILE* out, const std::string& title, const SoundFacts& facts,
                 const HintFacts& hint) {
  const DecodeStats& stats = hint.stats;
  std::fprintf(out, "%s\n", title.c_str());
  std::fprintf(out, "NaN samples, taken as the middle level: %" PRId64 "\n", facts.nan_samples);
  if (stats.samples > 0) write_levels(out, stats);
  if (stats.program.blocks > 0) write_program(out, stats.program);
  if (stats.tolerant.family_count > 0) write_tolerant(out, stats.tolerant);
  const bool read = stats.program.checks[static_cast<int>(FrameCheck::ok)] > 0 || [&] {
    for (int32_t i = 0; i < stats.tolerant.family_count; ++i)
      if (stats.tolerant.counts[i].sure[static_cast<int>(SureCheck::read)] > 0) return true;
    return false;
  }();
  if (!read) std::fprintf(out, "hint: %s\n", failure_hint(hint).c_str());
}

std::string unreadable_families(FamilySet unreadable, int32_t rate) {
  if (unreadable == 0) return "";
  std::string names;
  for (int32_t i = 0; i < family_count; ++i)
    if ((unreadable >> i & 1) && family_named(family_table[i]->name) == family_table[i])
      names += (names.empty() ? "" : ", ") + std::string(family_table[i]->title);
  return names +
         (rate > 0 ? " cannot be read at " + std::to_string(rate) + " samples/s"
                   : " cannot be read at this rate") +
         ": record at a higher rate (44100/s or more)";
}

// The rules behind the hint, most telling first. Each returns "" when it does not apply;
// adding a cause is adding a function to the list.
namespace {

struct Context {
  const HintFacts& f;
  const ProgramStats& p;
  const TolerantStats& t;
  RunTotals runs;
  bool program;   ///< the program's path decoded something
  bool tolerant;  ///< the tolerant path did
};

int64_t check(const Context& c, FrameCheck k) {
  return c.p.checks[static_cast<int>(k)];
}

std::string empty_hint(const Context& c) {
  return c.f.stats.samples == 0 ? "the input holds no samples" : "";
}

std::string channel_hint(const Context& c) {
  if (c.f.peak >= high_threshold || c.f.other_peak < high_threshold) return "";
  const char* here = c.f.channel == 0 ? "left" : "right";
  const char* there = c.f.channel == 0 ? "right" : "left";
  return std::string("the ") + here + " channel stays between the thresholds and the " + there +
         " one carries a signal: try --channel " + there;
}

std::string level_hint(const Context& c) {
  if (!c.program) return "";
  // Which way the signal falls short: from the levels where they were counted.
  bool low = c.f.peak >= high_threshold;
  bool high = low;
  if (c.f.stats.samples > 0 && std::any_of(std::begin(c.f.stats.levels), std::end(c.f.stats.levels),
                                           [](int64_t n) { return n > 0; })) {
    low = high = false;
    for (int v = 0; v < 256; ++v) {
      if (c.f.stats.levels[v] == 0) continue;
      low = low || v - 128 <= low_threshold;
      high = high || v - 128 >= high_threshold;
    }
  }
  if (low && high) return "";
  const std::string which = !low && !high
                                ? "the thresholds (" + std::to_string(low_threshold) + " and " +
                                      std::to_string(high_threshold) + " of 128)"
                            : !low ? "the low threshold (" + std::to_string(low_threshold) + ")"
                                   : "the high threshold (" + std::to_string(high_threshold) + ")";
  return "the signal never reaches " + which +
         ": raise the input level, look for a DC offset, or try --robust";
}

std::string clock_hint(const Context& c) {
  const RunTotals& r = c.runs;
  if (!c.program || r.half * 3 <= r.all || r.half <= r.one + r.two) return "";
  return "most runs are half as long as an RF/64 tag's: try --clock 32";
}

std::string run_length_hint(const Context& c) {
  const RunTotals& r = c.runs;
  if (!c.program || r.all == 0) return "";
  if (r.short_ones * 2 > r.all)
    return "most runs are shorter than " + std::to_string(min_run) +
           " samples: noise, or a tag sending faster than RF/64 (try --clock 32 or --clock 16, "
           "or --robust)";
  if (r.long_ones * 2 > r.all)
    return "most runs are longer than " + std::to_string(max_run) +
           " samples: no tag signal, or one slower than RF/64 (try --robust)";
  return "";
}

std::string invert_hint(const Context& c) {
  const int64_t fails = check(c, FrameCheck::row_parity) + check(c, FrameCheck::column_parity);
  if (!c.program || fails == 0 || c.f.invert < 0) return "";
  return c.f.invert ? "frames fail the parity tests: try without --invert"
                    : "frames fail the parity tests: try --invert";
}

std::string manchester_hint(const Context& c) {
  if (!c.program || check(c, FrameCheck::manchester) == 0) return "";
  return "headers are found but the rest is no clean Manchester code: check the level and the "
         "noise, or try --robust";
}

std::string header_hint(const Context& c) {
  if (!c.program || check(c, FrameCheck::header) == 0 || c.f.invert < 0) return "";
  return c.f.invert ? "no header of nine 1 bits: try without --invert, or --robust for "
                      "other tag families"
                    : "no header of nine 1 bits: try --invert, or --robust for other tag "
                      "families";
}

std::string rate_hint(const Context& c) {
  if (!c.tolerant) return "";
  return unreadable_families(c.t.unreadable, c.f.rate);
}

// What the FSK lanes tell of the tones: the largest share of the input's power they held
// on a lane (-1 without FSK lanes), the FSK families searched, and how far their frames got.
struct FskFacts {
  double share = -1;
  std::string names;   ///< "hid, awid, ..."
  int32_t most = -1;   ///< the FSK family with the most frames
  int64_t frames = 0;  ///< of all FSK families
  int64_t passed = 0;  ///< of those, frames that passed their family's checks
};

FskFacts fsk_facts(const TolerantStats& t) {
  FskFacts f;
  for (int32_t l = 0; l < t.lane_count; ++l)
    if (t.lanes[l].info.modulation == Modulation::fsk)
      f.share = std::max(f.share, tone_share(t.lanes[l]));
  for (int32_t i = 0; i < t.family_count; ++i) {
    const Family& family = *t.families[i];
    if (family.modulation != Modulation::fsk) continue;
    if (f.names.find(family.name) == std::string::npos)
      f.names += (f.names.empty() ? "" : ", ") + std::string(family.name);
    f.frames += t.counts[i].frames;
    f.passed += t.counts[i].verdicts[frame_passed];
    if (f.most < 0 || t.counts[i].frames > t.counts[f.most].frames) f.most = i;
  }
  return f;
}

constexpr double tones_missing = 0.02;  ///< tones below this share of the input's power
constexpr double tones_present = 0.5;   ///< and from this share: white noise gives about 0.15

// The tones of the FSK families missing, and no other family's frame passed either: a front
// end or sound input whose band stops below them.
std::string fsk_band_hint(const Context& c) {
  const FskFacts f = fsk_facts(c.t);
  if (!c.tolerant || f.share < 0 || f.share >= tones_missing) return "";
  for (int32_t i = 0; i < c.t.family_count; ++i)
    if (c.t.counts[i].verdicts[frame_passed] > 0) return "";
  char share[32];
  std::snprintf(share, sizeof share, "%.1f%%", 100 * f.share);
  return std::string("the input holds almost no power at 12.5 and 15.6 kHz (") + share +
         "), where FSK tags (" + f.names +
         ") send: use a front end and a sound input that pass 16 kHz (44100 samples/s or more)";
}

// The input is mostly FSK tones, but no frame of an FSK family passed its checks.
std::string fsk_tones_hint(const Context& c) {
  const FskFacts f = fsk_facts(c.t);
  if (!c.tolerant || f.share < tones_present || f.passed > 0) return "";
  char share[32];
  std::snprintf(share, sizeof share, "%.0f%%", 100 * f.share);
  const std::string head =
      std::string("the input is mostly FSK tones (") + share + " of its power), ";
  if (f.frames == 0)
    return head + "but no frame of " + f.names +
           " began in them: a tag of a family not searched (see --family), or one Tavrel does "
           "not read";
  const Family& most = *c.t.families[f.most];
  int32_t worst = 1;
  for (int32_t v = 1; v < most.reason_count && v < max_reasons; ++v)
    if (c.t.counts[f.most].verdicts[v] > c.t.counts[f.most].verdicts[worst]) worst = v;
  return head + "and frames began like " + most.title +
         "'s but failed its checks (most: " + most.reasons[worst] +
         "): a damaged signal, or a family Tavrel does not read";
}

// The tolerant path: the family whose frames got furthest.
std::string tolerant_hint(const Context& c) {
  if (!c.tolerant) return "";
  int64_t frames = 0;
  int64_t passed = 0;
  int32_t most = -1;  ///< the family with the most frames
  int64_t sure[sure_check_count] = {};
  for (int32_t i = 0; i < c.t.family_count; ++i) {
    const FamilyStats& s = c.t.counts[i];
    frames += s.frames;
    passed += s.verdicts[frame_passed];
    for (int k = 0; k < sure_check_count; ++k) sure[k] += s.sure[k];
    if (most < 0 || s.frames > c.t.counts[most].frames) most = i;
  }
  if (frames == 0)
    return "no sync of the families searched was found: no tag signal of those families (see "
           "--family), or one buried in noise";
  const Family& f = *c.t.families[most];
  if (passed == 0) {
    int32_t worst = 1;
    for (int32_t v = 1; v < f.reason_count && v < max_reasons; ++v)
      if (c.t.counts[most].verdicts[v] > c.t.counts[most].verdicts[worst]) worst = v;
    return std::string("frames began like ") + f.title +
           "'s but failed its checks (most: " + f.reasons[worst] +
           "): no such tag, or a damaged signal";
  }
  if (sure[static_cast<int>(SureCheck::weak_symbol)] +
          sure[static_cast<int>(SureCheck::line_code)] >
      0)
    return "frames passed their checks but their symbols were not clean enough to be sure: "
           "noise or interference";
  return "frames passed their checks, but never as often in a row as a sure read needs: noise "
         "or interference";
}

std::string (*const hint_rules[])(const Context&) = {
    empty_hint,      channel_hint, level_hint, clock_hint,    run_length_hint, invert_hint,
    manchester_hint, header_hint,  rate_hint,  fsk_band_hint, fsk_tones_hint,  tolerant_hint,
};

}  // namespace

std::string failure_hint(const HintFacts& facts) {
  const DecodeStats& s = facts.stats;
  const Context c{facts,
                  s.program,
                  s.tolerant,
                  run_totals(s.program),
                  s.program.blocks > 0,
                  s.tolerant.family_count > 0};
  for (const auto rule : hint_rules) {
    std::string text = rule(c);
    if (!text.empty()) return text;
  }
  return c.tolerant ? "no frame passed the tests; --stats shows where they fail"
                    : "no frame passed the tests; --stats shows where they fail, or try --robust";
}

}  // namespace tavrel
