// Reads and wrong reads of the FSK demodulator and the tests' small frame search, counted,
// not timed:
//   1. per condition and family, recordings of random tags: recordings read, the share of
//      the frames that could complete a read which did, and wrong reads (another number or
//      another family);
//   2. per condition and family, the median time from the tag's first sample to its first
//      right read, beside the least it can be (the frames a read needs);
//   3. signals that carry no FSK tag, minutes of each: reads (every read is a false one).
//
//   fsk_count [--recordings N] [--minutes M]
//   (default 50 and 10)
// Exit status 1 on any wrong or false read.

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lf/family_table.hpp"
#include "synth/fsk_signal.hpp"
#include "synth/tag_signal.hpp"
#include "tests/support/fsk_search.hpp"

using namespace tavrel;

namespace {

constexpr int extra_frames = 4;  ///< frames beyond a family's sure_frames in each recording

// A random tag of `family` in its encoder's form.
std::string random_form(const Family& family, std::mt19937_64& random) {
  char text[64];
  const auto below = [&](uint64_t n) { return random() % n; };
  const std::string name = family.name;
  if (&family == &family_hid_long) {
    std::snprintf(text, sizeof text, "48:%" PRIu64 ":%" PRIu64, below(1 << 22), below(1 << 23));
  } else if (name == "hid") {
    static const int lengths[] = {26, 32, 34, 35, 37};
    const int n = lengths[below(5)];
    const int facility_bits = n == 26 || n == 32 ? 8 : n == 35 ? 12 : 16;
    const int card_bits = n == 35 ? 20 : n == 37 ? 19 : 16;
    std::snprintf(text, sizeof text, "%d:%" PRIu64 ":%" PRIu64, n, below(1ull << facility_bits),
                  below(1ull << card_bits));
  } else if (name == "awid") {
    if (below(2)) {
      std::snprintf(text, sizeof text, "26:%" PRIu64 ":%" PRIu64, below(256), below(65536));
    } else {
      std::snprintf(text, sizeof text, "50:%" PRIu64 ":%" PRIu64, below(65536), below(1ull << 32));
    }
  } else if (name == "ioprox") {
    std::snprintf(text, sizeof text, "XSF(%02" PRIu64 ")%02" PRIx64 ":%05" PRIu64, below(100),
                  below(256), below(65536));
  } else if (name == "fdxa") {
    int n = 0;
    for (int i = 0; i < 5; ++i) n += std::snprintf(text + n, 3, "%02" PRIX64, below(128));
  } else {  // paradox, pyramid
    std::snprintf(text, sizeof text, "%" PRIu64 ":%" PRIu64, below(256), below(65536));
  }
  return text;
}

struct Cell {
  int64_t recordings = 0;
  int64_t read = 0;              ///< recordings with a right read
  int64_t frames = 0;            ///< frames that could complete a read
  int64_t reads = 0;             ///< right reads
  int64_t wrong = 0;             ///< reads of another number or family
  std::vector<double> first_ms;  ///< per recording read, its first right read after the tag began
};

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + static_cast<ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

std::string hex(const FrameBits& f) {
  char text[max_frame_symbols / 4 + 1];
  frame_hex(f, text);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  int recordings = 50;
  double minutes = 10;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--recordings") == 0 && i + 1 < argc) {
      recordings = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc) {
      minutes = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: fsk_count [--recordings N] [--minutes M]\n");
      return 2;
    }
  }
  const SignalCondition conditions[] = {
      {"clean"},
      {"gain x0.1 (+-8)", 8},
      {"gain x4, clipped", 320},
      {"DC +40", 80, 40},
      {"DC -40", 80, -40},
      {"AC coupling 5 Hz", 80, 0, 99, 5},
      {"AC coupling 300 Hz", 80, 0, 99, 300},
      {"20 dB", 80, 0, 20},
      {"10 dB", 80, 0, 10},
      {"6 dB", 80, 0, 6},
      {"3 dB", 80, 0, 3},
      {"0 dB", 80, 0, 0},
      {"44100/s", 80, 0, 99, 0, 0, 64, 44100},
      {"rate +3 %", 80, 0, 99, 0, 0, 64, sample_rate, 0.03},
      {"rate -3 %", 80, 0, 99, 0, 0, 64, sample_rate, -0.03},
      {"combined", 20, 25, 6, 100, 5, 64, 44100, -0.03},
  };
  const std::vector<const Family*> families = test::fsk_families();
  std::mt19937_64 random(2027);
  bool clean = true;
  std::vector<std::vector<Cell>> cells;

  std::printf(
      "%d recordings per cell, each %d frames beyond the frames a read needs; cells: "
      "recordings read, share of frames read, wrong reads\n",
      recordings, extra_frames);
  std::printf("%-20s", "condition");
  for (const Family* f : families) std::printf(" | %-17s", f->name);
  std::printf("\n");
  for (const SignalCondition& c : conditions) {
    std::printf("%-20s", c.name);
    cells.emplace_back();
    for (const Family* family : families) {
      Cell& cell = cells.back().emplace_back();
      for (int r = 0; r < recordings; ++r) {
        FrameBits frame{};
        std::string form;
        do form = random_form(*family, random);
        while (!family->encode(form.c_str(), frame));
        const int frames = family->sure_frames + extra_frames;
        // The tag begins anywhere in the demodulator's symbol.
        const auto lead = static_cast<int64_t>(random() % 64);
        const std::vector<uint8_t> samples = fsk_condition_recording(
            c, frame, family->rates[0], r & 1, static_cast<unsigned>(random()), frames, lead);
        const auto reads = test::fsk_search(samples, c.rate, families).reads;
        int64_t right = 0;
        for (const test::FskRead& read : reads) {
          const bool ok = read.family == family && hex(read.frame) == hex(frame);
          if (ok && right == 0)
            cell.first_ms.push_back((read.end - c.rate / 5 - lead) * 1000 / c.rate);
          right += ok;
          if (!ok) {
            ++cell.wrong;
            std::fprintf(stderr, "wrong: %s %s sent, %s %s read (%s)\n", family->name, form.c_str(),
                         read.family->name, hex(read.frame).c_str(), c.name);
          }
        }
        ++cell.recordings;
        cell.read += right > 0;
        cell.reads += right;
        cell.frames += extra_frames + 1;
      }
      clean &= cell.wrong == 0;
      char text[80];
      std::snprintf(text, sizeof text, "%" PRId64 " %3.0f%% %" PRId64, cell.read,
                    100.0 * static_cast<double>(cell.reads) / static_cast<double>(cell.frames),
                    cell.wrong);
      std::printf(" | %-17s", text);
    }
    std::printf("\n");
  }

  std::printf("\nmedian ms from the tag's first sample to its first right read\n%-20s",
              "condition");
  for (const Family* f : families) std::printf(" | %-10s", f->name);
  std::printf("\n%-20s", "least possible");
  for (const Family* f : families) {
    std::printf(" | %-10.1f", f->sure_frames * f->frame_symbols * f->rates[0] / 125.0);
  }
  std::printf("\n");
  for (size_t i = 0; i < cells.size(); ++i) {
    std::printf("%-20s", conditions[i].name);
    for (const Cell& cell : cells[i]) {
      if (cell.first_ms.empty()) {
        std::printf(" | %-10s", "-");
      } else {
        std::printf(" | %-10.1f", median(cell.first_ms));
      }
    }
    std::printf("\n");
  }

  // Signals without an FSK tag.
  std::printf("\nsignals without an FSK tag, %.0f minutes each: false reads\n", minutes);
  struct Kind {
    const char* name;
    Interference kind;
    double level;
    double frequency;
  };
  const Kind kinds[] = {{"white noise 0.05", Interference::white_noise, 0.05, 0},
                        {"white noise 0.3", Interference::white_noise, 0.3, 0},
                        {"pink noise 0.3", Interference::pink_noise, 0.3, 0},
                        {"clipped noise", Interference::clipped_noise, 0.5, 0},
                        {"telegraph", Interference::telegraph, 0.5, 0},
                        {"sine 12.5 kHz", Interference::sine, 0.5, 12500},
                        {"square 15.625 kHz", Interference::square_wave, 0.5, 15625}};
  const auto chunk = static_cast<int64_t>(60 * sample_rate);
  for (const Kind& k : kinds) {
    int64_t reads = 0;
    for (double m = 0; m < minutes; ++m) {
      InterferenceOptions o;
      o.kind = k.kind;
      o.level = k.level;
      o.frequency = k.frequency;
      std::vector<uint8_t> samples;
      std::mt19937 noise(static_cast<unsigned>(random()));
      append_interference(o, chunk, noise, samples);
      reads += static_cast<int64_t>(test::fsk_search(samples, sample_rate, families).reads.size());
    }
    clean &= reads == 0;
    std::printf("%-20s %" PRId64 "\n", k.name, reads);
  }
  // EM4100 tags: random IDs, a minute each.
  {
    int64_t reads = 0;
    for (double m = 0; m < minutes; ++m) {
      TagSignal signal;
      signal.options.noise = 0.02;
      const std::vector<uint8_t> samples =
          tag_seconds(signal, tag_frame(random() & 0xFF'FFFF'FFFF), 60);
      reads += static_cast<int64_t>(test::fsk_search(samples, sample_rate, families).reads.size());
    }
    clean &= reads == 0;
    std::printf("%-20s %" PRId64 "\n", "EM4100 tags", reads);
  }
  return clean ? 0 : 1;
}
