#include "lf/decoder.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

namespace tavrel {

static uint64_t low_bits(int32_t n) {
  return n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
}

// `n` (1 to 64) symbols of the lane ending with symbol `last`, the first the highest bit.
static uint64_t lane_bits(const SearchLane& lane, int64_t last, int32_t n) {
  return lane.recents[static_cast<uint64_t>(last) % lane_history] & low_bits(n);
}

// The last `n` symbols of the lane as a frame, first sent first.
static void lane_frame(const SearchLane& lane, int32_t n, bool inverted, FrameBits& f) {
  const int64_t first = lane.count - n;
  for (int32_t c = 0; c * 64 < n; ++c) {
    const int32_t m = std::min(64, n - 64 * c);
    const uint64_t v = lane_bits(lane, first + 64 * c + m - 1, m) << (64 - m);
    f.words[c] = inverted ? ~v & ~low_bits(64 - m) : v;
  }
  for (int32_t c = (n + 63) / 64; c < max_frame_symbols / 64; ++c) f.words[c] = 0;
  f.count = n;
}

static void add_family_to_lane(SearchLane& lane, int32_t family, const Family& f) {
  int32_t l = 0;
  while (l < lane.length_count && lane.lengths[l] != f.frame_symbols) ++l;
  if (lane.family_count == max_lane_families || l == max_lane_lengths) return;
  if (l == lane.length_count) lane.lengths[lane.length_count++] = f.frame_symbols;
  const int32_t slot = lane.family_count++;
  // A differential biphase family reads the complement of the biphase lane.
  const bool complement =
      f.modulation == Modulation::ask_diphase && lane.info.modulation == Modulation::ask_biphase;
  const uint64_t all = low_bits(f.sync_symbols);
  const uint64_t sync = f.sync ^ (complement ? all : 0);
  lane.families[slot] =
      LaneFamily{family, FrameRun{}, complement, f.sync_symbols, {sync, ~sync & all}};
  // The sync's first symbols (up to eight) against a window's first eight, the first
  // highest in both, as the lane holds them.
  const int32_t head = std::min(f.sync_symbols, 8);
  const uint64_t first = (f.sync >> (f.sync_symbols - head)) ^ (complement ? low_bits(head) : 0);
  const uint64_t complement_head = ~first & low_bits(head);
  // And its next eight (as many as it has) against a window's next eight.
  const int32_t second = std::clamp(f.sync_symbols - 8, 0, 8);
  const uint64_t own_next = second > 0 ? f.sync >> (f.sync_symbols - 8 - second) : 0;
  const uint64_t next = (own_next ^ (complement ? ~uint64_t{0} : 0)) & low_bits(second);
  const uint64_t complement_next = ~next & low_bits(second);
  for (uint32_t v = 0; v < 256; ++v) {
    const uint64_t start = v >> (8 - head);
    if (start == first) lane.sync_starts[l][v] |= 1u << (2 * slot);
    if (f.either_polarity && start == complement_head)
      lane.sync_starts[l][v] |= 1u << (2 * slot + 1);
    const uint64_t then = v >> (8 - second);
    if (then == next) lane.sync_seconds[l][v] |= 1u << (2 * slot);
    if (f.either_polarity && then == complement_next)
      lane.sync_seconds[l][v] |= 1u << (2 * slot + 1);
  }
}

// The search lane for `info`, made on first use.
static SearchLane* lane_for(TolerantDecoder& d, int32_t demod_lane, const LaneInfo& info) {
  for (int32_t l = 0; l < d.lane_count; ++l)
    if (d.lanes[l].demod_lane == demod_lane) return &d.lanes[l];
  if (d.lane_count == max_lanes) return nullptr;
  SearchLane& lane = d.lanes[d.lane_count++];
  std::memset(&lane, 0, sizeof lane);
  lane.info = info;
  lane.demod_lane = demod_lane;
  return &lane;
}

static void take_ask_symbols(void* context, int32_t demod_lane, const Symbol* symbols, int32_t n);
static void take_fsk_symbols(void* context, int32_t demod_lane, const Symbol* symbols, int32_t n);
static void take_ask_symbols_watched(void* context, int32_t demod_lane, const Symbol* symbols,
                                     int32_t n);
static void take_fsk_symbols_watched(void* context, int32_t demod_lane, const Symbol* symbols,
                                     int32_t n);

// A demodulator's lane as the search lanes tell them apart: FSK lanes after the ASK ones.
constexpr int32_t fsk_lane_key = ask_max_lanes;

void tolerant_begin(TolerantDecoder& d, double rate, FamilySet chosen,
                    void (*on_read)(void*, const TagRead&), void* context) {
  d.rate = rate;
  d.family_count = 0;
  d.unreadable = 0;
  d.lane_count = 0;
  d.symbols = 0;
  d.on_read = on_read;
  d.context = context;
  d.watch = nullptr;
  ask_begin(d.ask, rate, {take_ask_symbols, &d});
  // A demodulator's lane that no family chosen searches (the FSK demodulator makes every
  // data rate's) has no search lane: its symbols go nowhere.
  std::fill(std::begin(d.ask_lanes), std::end(d.ask_lanes), -1);
  std::fill(std::begin(d.fsk_lanes), std::end(d.fsk_lanes), -1);
  d.fsk_on = false;
  bool fsk_tried = false;
  for (int32_t t = 0; t < family_count && d.family_count < max_families; ++t) {
    if (!(chosen >> t & 1)) continue;
    const Family& f = *family_table[t];
    const int32_t index = d.family_count++;
    d.families[index] = &f;
    d.stats[index] = FamilyStats{};
    d.last_reads[index] = LastReads{};
    bool carried = false;
    if (f.modulation == Modulation::fsk) {
      // One demodulator for every FSK family: its lanes carry both data rates.
      if (!fsk_tried) d.fsk_on = fsk_begin(d.fsk, rate, {take_fsk_symbols, &d});
      fsk_tried = true;
      for (int32_t l = 0; d.fsk_on && l < d.fsk.lane_count; ++l) {
        const LaneInfo info = fsk_lane(d.fsk, l);
        if (std::find(std::begin(f.rates), std::end(f.rates), info.rate) == std::end(f.rates))
          continue;
        SearchLane* lane = lane_for(d, fsk_lane_key + l, info);
        if (!lane) continue;
        d.fsk_lanes[l] = static_cast<int32_t>(lane - d.lanes);
        add_family_to_lane(*lane, index, f);
        carried = true;
      }
    }
    for (const double field : {field_hz, animal_field_hz}) {
      if (f.modulation == Modulation::fsk) break;
      if (field != field_hz && !f.animal_field) continue;
      for (const int32_t rf : f.rates) {
        if (rf == 0) continue;
        const int32_t first = ask_add(d.ask, f.modulation, rf, field);
        if (first < 0) continue;
        for (int32_t l = first; l < first + 2; ++l) {
          SearchLane* lane = lane_for(d, l, d.ask.lanes[l]);
          if (!lane) continue;
          d.ask_lanes[l] = static_cast<int32_t>(lane - d.lanes);
          add_family_to_lane(*lane, index, f);
          carried = true;
        }
      }
    }
    if (!carried) d.unreadable |= FamilySet{1} << t;
  }
}

void tolerant_watch_levels(TolerantDecoder& d, void (*on_levels)(void*, const LevelSpan&)) {
  d.ask.on_levels = on_levels;
  d.ask.levels_context = d.context;
}

void tolerant_watch_decisions(TolerantDecoder& d, const TolerantWatch* watch) {
  d.watch = watch;
  if (watch) std::memset(d.lane_watch, 0, sizeof d.lane_watch);
  d.ask.sink.take = watch ? take_ask_symbols_watched : take_ask_symbols;
  d.fsk.sink.take = watch ? take_fsk_symbols_watched : take_fsk_symbols;
}

LaneStats tolerant_lane_stats(const TolerantDecoder& d, int32_t index) {
  const SearchLane& lane = d.lanes[index];
  LaneStats out{lane.info, lane.count, 0, 0, 0};
  if (lane.demod_lane >= fsk_lane_key) {
    const FskLane& fsk = d.fsk.lanes[lane.demod_lane - fsk_lane_key];
    out.tone_energy = fsk.tone_energy;
    out.input_energy = d.fsk.energy;
    out.field_energy = fsk.field_energy;
  }
  return out;
}

int32_t tolerant_family(const TolerantDecoder& d, const Family& family) {
  for (int32_t i = 0; i < d.family_count; ++i)
    if (d.families[i] == &family) return i;
  return -1;
}

constexpr float watch_margin_gain = 1.0f / 64;  ///< a symbol's weight in the watched mean margin

// The watch's view of a symbol the lane is about to take.
static void watch_symbol(TolerantDecoder& d, const SearchLane& lane, const Symbol& symbol) {
  const auto index = static_cast<int32_t>(&lane - d.lanes);
  LaneWatch& w = d.lane_watch[index];
  const bool first = lane.count == 0;
  const auto at = static_cast<size_t>(lane.count % lane_history);
  const int64_t start = first ? symbol.end : w.ends[(at + lane_history - 1) % lane_history];
  w.ends[at] = symbol.end;
  w.mean_margin =
      first ? symbol.margin : w.mean_margin + (symbol.margin - w.mean_margin) * watch_margin_gain;
  // Where no symbol has had a margin (a silent input), no change of level is wanted either.
  const bool fault = w.mean_margin > 0 && sure_line_fault(symbol.quiet, symbol.change,
                                                          sure_change_share * w.mean_margin);
  d.watch->symbol(d.watch->context, {index, lane.info, symbol, start, fault});
}

// The watch's view of a window of `f` that ends when the lane has decided `count` symbols.
static void watch_frame(const TolerantDecoder& d, const SearchLane& lane, const Family& f,
                        Verdict verdict, SureCheck sure, bool inverted, int64_t count) {
  const auto index = static_cast<int32_t>(&lane - d.lanes);
  const int64_t* ends = d.lane_watch[index].ends;
  const auto end_of = [ends](int64_t k) { return ends[static_cast<size_t>(k % lane_history)]; };
  const int64_t first = count - f.frame_symbols;  // the frame's first symbol
  const int64_t end = end_of(count - 1);
  // Its start is the end of the symbol before; a frame that opens the lane starts a mean
  // symbol before its first symbol's end.
  const int64_t start =
      first > 0 ? end_of(first - 1)
                : end_of(first) - (end - end_of(first)) / std::max(f.frame_symbols - 1, 1);
  d.watch->frame(d.watch->context, {&f, index, start, end, verdict, sure, inverted});
}

static SymbolHistory history_of(const SearchLane& lane) {
  return {lane.recents, lane.margins, lane.changes, lane.quiet, lane_history, lane.count};
}

// The soonest symbol count at which a family of the lane waits for its symbols to repeat.
static void lane_due(SearchLane& lane) {
  lane.due = 0;
  for (int32_t s = 0; s < lane.family_count; ++s) {
    const int64_t due = lane.families[s].run.due;
    if (due > 0 && (lane.due == 0 || due < lane.due)) lane.due = due;
  }
}

// What the sure-read rules said of the frame in `read` of the family in `slot`, which passed
// its checks and ended when the lane had decided `count` symbols, at stream sample `end`:
// counted, watched and, when it is a read, handed on.
static void conclude(TolerantDecoder& d, SearchLane& lane, const LaneFamily& lf, TagRead& read,
                     SureCheck check, bool inverted, int64_t count, int64_t end) {
  const Family& f = *d.families[lf.family];
  const double symbol = d.rate * lane.info.rate / lane.info.field_hz;
  if (check == SureCheck::read && !sure_new_read(d.last_reads[lf.family], read.frame, end,
                                                 symbol * (f.frame_symbols + f.gap_symbols)))
    check = SureCheck::repeated;
  ++d.stats[lf.family].sure[static_cast<int>(check)];
  if (d.watch) watch_frame(d, lane, f, frame_passed, check, inverted != lf.complement, count);
  if (check != SureCheck::read || !d.on_read) return;
  read.family = &f;
  read.end = end;
  read.time = static_cast<double>(read.end) / d.rate;
  read.clock = lane.info.rate;
  read.inverted = inverted;
  read.measured = true;
  if (lane.demod_lane >= fsk_lane_key) {
    read.measure = fsk_measure(d.fsk, lane.demod_lane - fsk_lane_key, lane.later);
  } else {
    ask_measure(d.ask, lane.demod_lane, f.frame_symbols, lane.later, read.measure);
  }
  read.reader = 0;
  read.repeat = 0;
  read.wall[0] = 0;
  d.on_read(d.context, read);
}

// The lane has decided the symbols at which some of its families' runs are due: those
// whose symbols have repeated over their sure frames are read.
[[gnu::noinline]] static void repeats_due(TolerantDecoder& d, SearchLane& lane, int32_t later) {
  lane.later = later;
  for (int32_t slot = 0; slot < lane.family_count; ++slot) {
    LaneFamily& lf = lane.families[slot];
    if (lf.run.due != lane.count) continue;
    const Family& f = *d.families[lf.family];
    if (sure_repeat(lf.run, f, history_of(lane)) != SureCheck::read) continue;
    // The read is of the run's frame, as it ended.
    TagRead read;
    read.frame = lf.run.last;
    read.fields.count = 0;
    f.decode(read.frame, read.fields);
    FamilyStats& stats = d.stats[lf.family];
    ++stats.frames;
    ++stats.verdicts[frame_passed];
    conclude(d, lane, lf, read, SureCheck::read, lf.run.inverted, lf.run.last_end,
             lf.run.last_sample);
  }
  lane_due(lane);
}

// A window starting with the sync of the family in `slot` ends with the lane's newest symbol.
// Kept out of the search, so that the search holds few registers.
[[gnu::noinline]] static void frame_due(TolerantDecoder& d, SearchLane& lane, int32_t slot,
                                        bool inverted) {
  LaneFamily& lf = lane.families[slot];
  const Family& f = *d.families[lf.family];
  FamilyStats& stats = d.stats[lf.family];
  TagRead read;
  lane_frame(lane, f.frame_symbols, inverted != lf.complement, read.frame);
  read.fields.count = 0;
  const Verdict verdict = f.decode(read.frame, read.fields);
  ++stats.frames;
  ++stats.verdicts[verdict < max_reasons ? verdict : max_reasons - 1];
  if (verdict != frame_passed) {
    if (d.watch)
      watch_frame(d, lane, f, verdict, SureCheck::alone, inverted != lf.complement, lane.count);
    return;
  }
  const SureCheck check =
      sure_take(lf.run, f, read.frame, inverted, lane.newest_end, history_of(lane));
  conclude(d, lane, lf, read, check, inverted, lane.count, lane.newest_end);
  lane_due(lane);
  if (lane.due == lane.count) repeats_due(d, lane, lane.later);
}

// The windows that end with the lane's newest symbol, start at symbol `first` and whose
// first eight symbols can start the syncs of `hits` (bits as in sync_starts): each that
// starts with a whole sync is a frame. Rare, so kept apart from the work of every symbol.
[[gnu::noinline]] static void search_syncs(TolerantDecoder& d, SearchLane& lane, int64_t first,
                                           uint32_t hits, int32_t later) {
  lane.later = later;
  for (; hits != 0; hits &= hits - 1) {
    const int bit_index = std::countr_zero(hits);
    const int32_t slot = bit_index / 2;
    const bool inverted = bit_index & 1;
    const LaneFamily& lf = lane.families[slot];
    if (lane_bits(lane, first + lf.sync_symbols - 1, lf.sync_symbols) != lf.syncs[inverted])
      continue;
    frame_due(d, lane, slot, inverted);
  }
}

// A symbol of one search lane: kept, and every window of a frame length that ends with it
// searched for a sync.
// `k` is the lane's count of symbols before it, `recent` the 64 symbols ending with it,
// `same` how many of the newest symbols, it among them, are equal.
static void take_lane_symbol(TolerantDecoder& d, SearchLane& lane, const Symbol& symbol, uint64_t k,
                             uint64_t recent, int64_t same, int32_t later) {
  const auto count = static_cast<int64_t>(k + 1);
  const auto at = static_cast<size_t>(k % lane_history);
  lane.count = count;
  lane.recents[at] = recent;
  lane.margins[at] = symbol.margin;
  lane.changes[at] = symbol.change;
  lane.quiet[at] = symbol.quiet;
  lane.newest_end = symbol.end;
  if (count == lane.due) [[unlikely]]
    repeats_due(d, lane, later);

  // The windows of each frame length that end here, by their first symbols: the eight
  // that end seven symbols after a window's start. A window of equal symbols (silence, a
  // level held) is no frame of any family: not searched.
  for (int32_t l = 0; l < lane.length_count; ++l) {
    const int64_t first = count - lane.lengths[l];
    if (first < 0 || lane.lengths[l] <= same) continue;
    uint32_t hits =
        lane.sync_starts[l][lane.recents[static_cast<uint64_t>(first + 7) % lane_history] & 0xFF];
    if (hits == 0) [[likely]]
      continue;
    // Frames are 64 symbols or more: the window's next eight are in.
    hits &=
        lane.sync_seconds[l][lane.recents[static_cast<uint64_t>(first + 15) % lane_history] & 0xFF];
    if (hits != 0) search_syncs(d, lane, first, hits, later);
  }
}

// `n` symbols of one search lane, oldest first, each shown to the watch first when
// `watched`. The lane's count and newest symbols are carried from symbol to symbol, not
// loaded back from the rings just stored: so no symbol waits for the one before.
template <bool watched>
static void take_lane_symbols(TolerantDecoder& d, SearchLane& lane, const Symbol* symbols,
                              int32_t n) {
  auto k = static_cast<uint64_t>(lane.count);
  uint64_t recent = lane.recents[(k - 1) % lane_history];
  int64_t same = lane.same;
  for (int32_t i = 0; i < n; ++i, ++k) {
    if constexpr (watched) watch_symbol(d, lane, symbols[i]);
    recent = recent << 1 | symbols[i].value;
    same = (recent ^ recent >> 1) & 1 ? 1 : same + 1;
    take_lane_symbol(d, lane, symbols[i], k, recent, same, n - 1 - i);
  }
  lane.same = same;
  d.symbols += n;
}

static void take_ask_symbols(void* context, int32_t demod_lane, const Symbol* symbols, int32_t n) {
  TolerantDecoder& d = *static_cast<TolerantDecoder*>(context);
  const int32_t lane = d.ask_lanes[demod_lane];
  if (lane >= 0) take_lane_symbols<false>(d, d.lanes[lane], symbols, n);
}

static void take_fsk_symbols(void* context, int32_t demod_lane, const Symbol* symbols, int32_t n) {
  TolerantDecoder& d = *static_cast<TolerantDecoder*>(context);
  const int32_t lane = d.fsk_lanes[demod_lane];
  if (lane >= 0) take_lane_symbols<false>(d, d.lanes[lane], symbols, n);
}

// The same, watched: the demodulators' sinks while a watch is set, so that an unwatched
// decoder tests nothing per symbol.
static void take_ask_symbols_watched(void* context, int32_t demod_lane, const Symbol* symbols,
                                     int32_t n) {
  TolerantDecoder& d = *static_cast<TolerantDecoder*>(context);
  const int32_t lane = d.ask_lanes[demod_lane];
  if (lane >= 0) take_lane_symbols<true>(d, d.lanes[lane], symbols, n);
}

static void take_fsk_symbols_watched(void* context, int32_t demod_lane, const Symbol* symbols,
                                     int32_t n) {
  TolerantDecoder& d = *static_cast<TolerantDecoder*>(context);
  const int32_t lane = d.fsk_lanes[demod_lane];
  if (lane >= 0) take_lane_symbols<true>(d, d.lanes[lane], symbols, n);
}

void tolerant_take(TolerantDecoder& d, const uint8_t* samples, int32_t n) {
  // The demodulators take the samples in turn, in pieces short enough that reads of all
  // lanes come out in about their order in time.
  constexpr int32_t piece = 1024;
  for (int32_t at = 0; at < n; at += piece) {
    const int32_t m = std::min(piece, n - at);
    ask_take(d.ask, samples + at, m);
    if (d.fsk_on) fsk_take(d.fsk, samples + at, m);
  }
}

}  // namespace tavrel
