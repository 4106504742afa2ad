#include "tests/support/fsk_search.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "lf/family_table.hpp"

namespace tavrel::test {

constexpr float weak_share = 0.2f;  ///< a symbol's margin below this share of the mean is weak

std::vector<const Family*> fsk_families() {
  return {&family_hid,     &family_hid_long, &family_awid, &family_ioprox,
          &family_paradox, &family_pyramid,  &family_fdxa};
}

static void search(FskSearch& s, int32_t lane, int swapped, const Family& family) {
  const std::vector<uint8_t>& symbols = s.symbols[lane];
  const auto n = static_cast<int32_t>(symbols.size());
  const int32_t length = family.frame_symbols;
  const int32_t start = n - family.sure_frames * length;
  if (start < 0) return;
  for (int32_t f = 0; f < family.sure_frames; ++f) {
    for (int32_t i = 0; i < family.sync_symbols; ++i) {
      const int want = static_cast<int>(family.sync >> (family.sync_symbols - 1 - i) & 1);
      if ((symbols[static_cast<size_t>(start + f * length + i)] ^ swapped) != want) return;
    }
  }
  if (!std::equal(symbols.begin() + start, symbols.end() - length,
                  symbols.begin() + start + length))
    return;
  const auto first = s.margins[lane].begin() + start;
  double mean = 0;
  for (auto m = first; m != s.margins[lane].end(); ++m) mean += *m;
  mean /= n - start;
  if (*std::min_element(first, s.margins[lane].end()) < weak_share * mean) return;
  FskRead read{&family, lane, 0, swapped != 0, {}, {}};
  for (int32_t i = n - length; i < n; ++i)
    frame_append(read.frame, static_cast<uint64_t>(symbols[static_cast<size_t>(i)] ^ swapped), 1);
  if (family.decode(read.frame, read.fields) == frame_passed) s.reads.push_back(read);
}

static void take_one(FskSearch& s, int32_t lane, const Symbol& symbol) {
  s.symbols[lane].push_back(symbol.value);
  s.margins[lane].push_back(symbol.margin);
  const size_t before = s.reads.size();
  for (const Family* family : s.families) {
    if (family->rates[0] != s.rates[lane]) continue;
    search(s, lane, 0, *family);
    if (family->either_polarity) search(s, lane, 1, *family);
  }
  for (size_t i = before; i < s.reads.size(); ++i) s.reads[i].end = symbol.end;
}

static void take(void* context, int32_t lane, const Symbol* symbols, int32_t n) {
  for (int32_t i = 0; i < n; ++i) take_one(*static_cast<FskSearch*>(context), lane, symbols[i]);
}

FskSearch fsk_search(const std::vector<uint8_t>& samples, double rate,
                     const std::vector<const Family*>& families, int32_t piece) {
  FskSearch s;
  s.families = families;
  const auto d = std::make_unique<FskDemod>();
  if (!fsk_begin(*d, rate, {take, &s})) return s;
  for (int32_t i = 0; i < d->lane_count; ++i) s.rates[i] = fsk_lane(*d, i).rate;
  for (size_t at = 0; at < samples.size(); at += static_cast<size_t>(piece)) {
    const auto n = static_cast<int32_t>(std::min<size_t>(piece, samples.size() - at));
    fsk_take(*d, samples.data() + at, n);
  }
  return s;
}

std::vector<uint8_t> fsk_symbols(const std::vector<uint8_t>& samples, double rate, int32_t divider,
                                 int32_t piece) {
  const FskSearch s = fsk_search(samples, rate, {}, piece);
  for (int32_t i = 0; i < fsk_lane_count; ++i) {
    if (s.rates[i] == divider) return s.symbols[i];
  }
  return {};
}

std::vector<uint8_t> right_channel(const char* folder, const char* file) {
  std::ifstream in(std::string(folder) + "/" + file, std::ios::binary);
  const std::vector<uint8_t> stereo((std::istreambuf_iterator<char>(in)), {});
  std::vector<uint8_t> right;
  for (size_t i = 1; i < stereo.size(); i += 2) right.push_back(stereo[i]);
  return right;
}

}  // namespace tavrel::test
