// The plot's layout against what the decoder counted and read, and its files' sizes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/decode_run.hpp"
#include "frontend/level_slicer.hpp"
#include "plot/plot_cairo.hpp"
#include "plot/plot_draw.hpp"
#include "report/reasons.hpp"
#include "synth/family_signal.hpp"
#include "synth/tag_signal.hpp"
#include "tests/support/console_capture.hpp"

namespace tavrel {
namespace {

struct Decoded {
  PlotStretch plot;
  PlotStretch rolling;  ///< the same, gathered as --plot-every gathers it
  DecodeStats stats;
  std::vector<TagRead> reads;
  Layout layout;
};

// Decodes `samples` as tavrel-decode does with --plot, keeping the decoder's own counts.
std::unique_ptr<Decoded> decode(const std::vector<uint8_t>& samples, int32_t invert,
                                double from_seconds, double seconds) {
  auto out = std::make_unique<Decoded>();
  const auto d = std::make_unique<Decoding>();
  DecodeOptions options;
  options.invert = invert;
  options.watch = true;
  options.levels = true;
  test::ConsoleCapture console;
  test::console_capture_start(console);
  decoding_begin(*d, options);
  const PlotSetting setting{"decoded as a test", options.rate, invert, 64};
  plot_begin(out->plot, "test", setting, from_seconds, seconds);
  plot_begin_rolling(out->rolling, "test", setting, seconds);
  d->on_event = [&](const WatchEvent& e) {
    plot_event(out->plot, e);
    plot_event(out->rolling, e);
  };
  d->on_read = [&](const TagRead& r) {
    plot_read(out->plot, r);
    plot_read(out->rolling, r);
    out->reads.push_back(r);
  };
  // Odd pieces, so that blocks and pieces never line up.
  for (size_t at = 0; at < samples.size(); at += 3001) {
    const auto n = static_cast<int32_t>(std::min<size_t>(3001, samples.size() - at));
    plot_take(out->plot, samples.data() + at, n);
    plot_take(out->rolling, samples.data() + at, n);
    decoding_take(*d, samples.data() + at, n);
  }
  decoding_end(*d);
  test::console_capture_stop(console);
  out->stats = d->stats;
  out->layout = plot_layout(out->plot);
  return out;
}

// `frames` frames of one tag after 0.1 s of silence; `flip` bits of its frame inverted.
std::vector<uint8_t> tag(double amplitude, bool invert, int frames, double noise = 0,
                         uint64_t flip = 0) {
  TagSignal signal;
  signal.options.amplitude = amplitude;
  signal.options.invert = invert;
  signal.options.noise = noise;
  std::vector<uint8_t> samples;
  append_silence(signal, sample_rate / 10, samples);
  append_frames(signal, tag_frame(0x84'0004'3916) ^ flip, frames, samples);
  append_silence(signal, sample_rate / 20, samples);
  return samples;
}

int64_t count(const Layout& layout, MarkKind kind, int32_t lane = -2, double low = NAN) {
  return std::count_if(layout.marks.begin(), layout.marks.end(), [&](const Mark& m) {
    return m.kind == kind && (lane == -2 || m.lane == lane) && (std::isnan(low) || m.low == low);
  });
}

int32_t lane_of(const Layout& layout, LaneKind kind, bool inverted = false) {
  for (size_t i = 0; i < layout.lanes.size(); ++i) {
    if (layout.lanes[i].kind == kind && layout.lanes[i].inverted == inverted)
      return static_cast<int32_t>(i);
  }
  return -1;
}

TEST(PlotLayout, WholeRecordingShowsEveryRunTestAndReadTheDecoderCounted) {
  struct Case {
    const char* name;
    double amplitude;
    bool send_inverted;
    int32_t invert;
    double noise;
    uint64_t flip;  ///< frame bits sent inverted
    bool reads;
  };
  for (const Case c : {Case{"good", 0.4, false, 0, 0, 0, true},
                       {"weak", 0.12, false, 0, 0, 0, false},
                       {"inverted", 0.4, true, 0, 0, 0, false},
                       {"inverted, read inverted", 0.4, true, 1, 0, 0, true},
                       {"noisy, both polarities", 0.3, false, invert_auto, 0.12, 0, true},
                       {"stop bit 1", 0.4, false, 0, 0, 1, false}}) {
    SCOPED_TRACE(c.name);
    const auto samples = tag(c.amplitude, c.send_inverted, 12, c.noise, c.flip);
    const auto d = decode(samples, c.invert, 0, static_cast<double>(samples.size()) / sample_rate);
    const Layout& l = d->layout;
    EXPECT_EQ(!d->reads.empty(), c.reads);
    EXPECT_EQ(l.outcome.empty(), !c.reads) << l.outcome;

    // Lanes: both polarities get their own half-bits, windows and tests.
    const size_t passes = c.invert == invert_auto ? 2 : 1;
    ASSERT_EQ(l.lanes.size(), 3 + 3 * passes);
    EXPECT_EQ(l.lanes.front().kind, LaneKind::signal);
    EXPECT_EQ(l.lanes[1].kind, LaneKind::runs);
    EXPECT_EQ(l.lanes.back().kind, LaneKind::reads);
    EXPECT_EQ(l.trace.size(), samples.size());

    // Runs and dropped runs as the decoder counted them (only the first pass is counted).
    int64_t runs = 0;
    int64_t dropped = 0;
    for (int n = 0; n <= counted_run; ++n) {
      const int64_t both = d->stats.program.runs[0][n] + d->stats.program.runs[1][n];
      runs += both;
      if (n < min_run || n > max_run) dropped += both;
    }
    EXPECT_EQ(count(l, MarkKind::high_run) + count(l, MarkKind::low_run), runs);
    EXPECT_EQ(count(l, MarkKind::dropped), dropped);
    EXPECT_EQ(runs == 0, c.amplitude < 0.17);
    EXPECT_EQ(dropped > 0, c.noise > 0);

    // One test mark per frame test, in the row of its result, over all passes.
    for (int r = 0; r <= static_cast<int>(FrameCheck::ok); ++r) {
      int64_t marks = 0;
      for (const bool inverted : {false, true}) {
        const int32_t lane = lane_of(l, LaneKind::tests, inverted);
        if (lane >= 0) marks += count(l, MarkKind::test, lane, r);
      }
      EXPECT_EQ(marks, d->stats.program.checks[r]) << frame_check_reasons[r].label;
    }

    // Each read bracketed up to its frame's end, with its number and its 64 bits.
    const int32_t reads_lane = lane_of(l, LaneKind::reads);
    ASSERT_EQ(count(l, MarkKind::read, reads_lane), static_cast<int64_t>(d->reads.size()));
    const int32_t windows = lane_of(l, LaneKind::windows, c.invert == 1);
    size_t k = 0;
    for (const Mark& m : l.marks) {
      if (m.kind != MarkKind::read) continue;
      const TagRead& read = d->reads[k++];
      EXPECT_NEAR(m.end, read.time * 1000, 1e-9);
      EXPECT_NEAR(m.end - m.start, 64 * default_bit_samples * 1000 / sample_rate, 0.5)
          << "a frame, in ms";
      EXPECT_STREQ(m.text.c_str(), field_find(read.fields, "number")->text);
      // The window read, in its row of the windows lane.
      const auto window = std::find_if(l.marks.begin(), l.marks.end(), [&](const Mark& w) {
        return w.kind == MarkKind::window && w.lane == windows && w.end == m.end;
      });
      ASSERT_NE(window, l.marks.end());
      EXPECT_EQ(window->high, static_cast<double>(FrameCheck::ok));
      uint64_t bits = 0;
      int got = 0;
      for (const Mark& b : l.marks) {
        const bool bit = b.kind == MarkKind::bit_one || b.kind == MarkKind::bit_zero;
        if (b.lane != windows || !bit || b.low != window->low || b.start < m.start - 1e-9 ||
            b.end > m.end + 1e-9)
          continue;
        bits = bits << 1 | (b.kind == MarkKind::bit_one);
        ++got;
      }
      EXPECT_EQ(got, 64);
      EXPECT_EQ(bits, read.frame.words[0]);
    }
    if (c.flip == 1) {
      EXPECT_GT(d->stats.program.checks[static_cast<int>(FrameCheck::stop_bit)], 0);
      EXPECT_TRUE(std::any_of(l.marks.begin(), l.marks.end(), [&](const Mark& m) {
        return m.kind == MarkKind::window && m.high == static_cast<double>(FrameCheck::stop_bit);
      })) << "a window that failed at its stop bit";
    }
    if (c.send_inverted && c.invert == 0) {
      EXPECT_GT(d->stats.program.checks[static_cast<int>(FrameCheck::row_parity)], 0);
      EXPECT_GT(count(l, MarkKind::window, windows), 0) << "windows whose header passed";
    }
    EXPECT_EQ(count(l, MarkKind::threshold, 0, low_threshold), 1);
    EXPECT_EQ(count(l, MarkKind::threshold, 0, high_threshold), 1);
  }
}

TEST(PlotLayout, DefaultStretchStartsAtTheSignalAndHoldsOnlyItsMarks) {
  // Noise in the silence before the tag must not count as its start.
  for (const auto& [from, noise] : {std::pair{-1.0, 0.0}, {-1.0, 0.03}, {0.2, 0.0}}) {
    const auto d = decode(tag(0.4, false, 12, noise), 0, from, default_plot_seconds);
    const Layout& l = d->layout;
    // The signal starts after 0.1 s of silence; the stretch a little before it.
    const double want = from < 0 ? 98.0 : 200.0;
    EXPECT_NEAR(l.from, want, 0.01) << from;
    EXPECT_NEAR(l.to - l.from, 100.0, 0.01);
    EXPECT_EQ(l.trace.size(), static_cast<size_t>(sample_rate * default_plot_seconds));
    // Reads ending in the stretch are counted, all that overlap it bracketed.
    size_t reads = 0;
    size_t overlapping = 0;
    for (const TagRead& r : d->reads) {
      const double end = r.time * 1000;
      reads += end > l.from && end <= l.to;
      overlapping += end > l.from && end - 33 < l.to;
    }
    EXPECT_GT(reads, 0u);
    EXPECT_EQ(count(l, MarkKind::read), static_cast<int64_t>(overlapping));
    EXPECT_NE(l.title.find(std::to_string(reads) + " read"), std::string::npos) << l.title;
    for (const Mark& m : l.marks) {
      if (m.kind == MarkKind::window || m.kind == MarkKind::read) continue;  // may start before
      EXPECT_TRUE(m.end > l.from - 1e-9 && m.start < l.to + 1e-9) << static_cast<int>(m.kind);
    }
  }
}

TEST(PlotLayout, RobustStretchHoldsTheLevelsOfAWeakOffsetSignal) {
  // Too weak for the thresholds, and off the middle by more than its swing.
  for (const auto& [amplitude, offset] : {std::pair{0.06, 0.15}, {0.05, -0.2}, {0.1, 0.0}}) {
    SCOPED_TRACE(offset);
    TagSignal signal;
    signal.options.amplitude = amplitude;
    signal.options.dc_offset = offset;
    std::vector<uint8_t> samples;
    append_frames(signal, tag_frame(0x84'0004'3916), 12, samples);
    DecodeOptions options;
    options.tolerant = true;
    options.rate = 0;
    const auto d = std::make_unique<Decoding>();
    PlotStretch p;
    test::ConsoleCapture console;
    test::console_capture_start(console);
    decoding_begin(*d, options);
    plot_begin(p, "test", {"tolerant", 0, 0, 64}, 0.2, default_plot_seconds);
    d->on_read = [&](const TagRead& r) { plot_read(p, r); };
    d->on_levels = [&](const LevelSpan& l) { plot_levels(p, l); };
    plot_take(p, samples.data(), static_cast<int32_t>(samples.size()));
    decoding_take(*d, samples.data(), static_cast<int32_t>(samples.size()));
    decoding_end(*d);
    test::console_capture_stop(console);
    const Layout l = plot_layout(p);

    // Only the samples and the reads: this path has no runs or windows.
    ASSERT_EQ(l.lanes.size(), 2u);
    EXPECT_EQ(l.lanes.back().kind, LaneKind::reads);
    EXPECT_GT(count(l, MarkKind::read, 1), 0);
    EXPECT_NE(l.title.find("tolerant"), std::string::npos);
    // Steps over the whole stretch, each at the signal's true middle and swing.
    const int64_t levels = count(l, MarkKind::levels, 0);
    EXPECT_GT(levels, 50);
    double covered = 0;
    for (const Mark& m : l.marks) {
      if (m.kind != MarkKind::levels) continue;
      covered += m.end - m.start;
      EXPECT_NEAR(m.low, offset * 128, 1.0) << m.start;
      EXPECT_NEAR(m.high, amplitude * 128, amplitude * 128 * 0.15) << m.start;
    }
    EXPECT_NEAR(covered, l.to - l.from, 2.0);
  }
}

TEST(PlotLayout, RobustStretchShowsEachReadsSymbolsAndWindowOnItsLane) {
  // A family of each modulation, at its own data rate.
  for (const char* name : {"em4100", "gproxii", "fdxb", "pac", "hid"}) {
    const Family& family = *family_named(name);
    SCOPED_TRACE(name);
    FrameBits sent{};
    ASSERT_TRUE(example_frame(family, sent));
    const std::vector<uint8_t> samples =
        family_recording({"clean"}, family, sent, false, 1, 2 * family.sure_frames + 1);
    DecodeOptions options;
    options.tolerant = true;
    options.rate = 0;
    const auto d = std::make_unique<Decoding>();
    PlotStretch p;
    std::vector<TagRead> reads;
    test::ConsoleCapture console;
    test::console_capture_start(console);
    decoding_begin(*d, options);
    plot_begin(p, "test", {"tolerant", 0, 0, 64}, 0,
               static_cast<double>(samples.size()) / sample_rate);
    d->on_read = [&](const TagRead& r) {
      plot_read(p, r);
      reads.push_back(r);
    };
    d->on_symbol = [&](const WatchedSymbol& s) { plot_symbol(p, s); };
    d->on_frame = [&](const WatchedFrame& f) { plot_frame(p, f); };
    plot_take(p, samples.data(), static_cast<int32_t>(samples.size()));
    decoding_take(*d, samples.data(), static_cast<int32_t>(samples.size()));
    decoding_end(*d);
    test::console_capture_stop(console);
    const Layout l = plot_layout(p);

    ASSERT_EQ(l.lanes.size(), 4u);
    const int32_t symbols = lane_of(l, LaneKind::symbols);
    const int32_t frames = lane_of(l, LaneKind::frames);
    ASSERT_TRUE(symbols == 1 && frames == 2);
    // Differential biphase is read as the complement of a biphase lane.
    const bool diphase = family.modulation == Modulation::ask_diphase;
    // (A family read at either field may be read first on the other's lane.)
    EXPECT_EQ(l.lanes[1].note.substr(0, l.lanes[1].note.find(" of ")),
              std::string(modulation_name(diphase ? Modulation::ask_biphase : family.modulation)) +
                  ", RF/" + std::to_string(family.rates[0]));
    // Each read bracketed where its window is, in the frames lane as read, and its window
    // holding the frame's symbols as sent. The lane shown is the first read's: a family read
    // at either field may make later reads on the other field's lane.
    ASSERT_FALSE(reads.empty());
    ASSERT_EQ(count(l, MarkKind::read, 3), static_cast<int64_t>(reads.size()));
    size_t k = 0;
    for (const Mark& read : l.marks) {
      if (read.kind != MarkKind::read) continue;
      const auto window = std::find_if(l.marks.begin(), l.marks.end(), [&](const Mark& m) {
        return m.kind == MarkKind::frame && m.lane == frames && m.start == read.start &&
               m.end == read.end;
      });
      if (k > 0 && family.animal_field) {
        ++k;
        continue;
      }
      ASSERT_NE(window, l.marks.end());
      EXPECT_EQ(window->high, static_cast<double>(SureCheck::read));
      EXPECT_EQ(window->text, std::string(family.title) + ": read");
      // The lane's symbols as decided: the frame's, or their complement for a read inverted.
      const uint64_t inverted = reads[k++].inverted != diphase;
      FrameBits got{};
      for (const Mark& m : l.marks) {
        if (m.start < read.start - 1e-9 || m.end > read.end + 1e-9) continue;
        EXPECT_NE(m.kind, MarkKind::line_fault) << "a clean line code";
        if (m.kind != MarkKind::symbol) continue;
        frame_append(got, static_cast<uint64_t>(m.low) ^ inverted, 1);
        EXPECT_GT(m.high, 0.4) << "a clean symbol";
      }
      ASSERT_EQ(got.count, sent.count);
      EXPECT_EQ(std::memcmp(got.words, sent.words, sizeof sent.words), 0);
    }
  }
}

TEST(PlotLayout, RollingStretchIsTheFixedOneOverTheLastSamples) {
  // Long enough that the rolling one has dropped what lies far behind.
  const auto samples = tag(0.4, false, 90, 0.05);
  const int64_t end = static_cast<int64_t>(samples.size()) - sample_rate / 5;
  const double from = static_cast<double>(end) / sample_rate - default_plot_seconds;
  const auto d = decode(samples, 0, from, default_plot_seconds);
  EXPECT_LT(d->rolling.samples.size(), samples.size() / 2);
  const Layout want = d->layout;
  const Layout got = plot_last(d->rolling, end);
  EXPECT_EQ(got.trace, want.trace);
  ASSERT_EQ(got.marks.size(), want.marks.size());
  EXPECT_GT(count(got, MarkKind::read), 1);
  for (size_t i = 0; i < got.marks.size(); ++i) {
    const Mark& g = got.marks[i];
    const Mark& w = want.marks[i];
    EXPECT_TRUE(g.kind == w.kind && g.lane == w.lane && g.start == w.start && g.end == w.end &&
                g.low == w.low && g.high == w.high && g.text == w.text)
        << i;
  }
  EXPECT_EQ(got.title, want.title);
}

// Width and height from a PNG's header, or from an SVG's root element.
std::pair<int, int> picture_size(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  if (text.rfind("\x89PNG", 0) == 0 && text.size() > 24) {
    const auto be32 = [&](size_t at) {
      return (static_cast<uint8_t>(text[at]) << 24) | (static_cast<uint8_t>(text[at + 1]) << 16) |
             (static_cast<uint8_t>(text[at + 2]) << 8) | static_cast<uint8_t>(text[at + 3]);
    };
    return {be32(16), be32(20)};
  }
  const size_t svg = text.find("<svg");
  const auto attribute = [&](const std::string& name) {
    const size_t at = text.find(name + "=\"", svg);
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + name.size() + 2);
  };
  return svg == std::string::npos ? std::pair{-1, -1}
                                  : std::pair{attribute("width"), attribute("height")};
}

TEST(PlotDraw, WritesPngAndSvgOfTheAskedSize) {
  const auto d = decode(tag(0.4, false, 6), invert_auto, -1, default_plot_seconds);
  const std::string dir = ::testing::TempDir();
  for (const auto& [name, width, height] : {std::tuple{"plot.png", plot_width, plot_height},
                                            {"small.png", 640, 360},
                                            {"plot.svg", plot_width, plot_height},
                                            {"small.svg", 800, 450}}) {
    const std::string path = dir + name;
    std::filesystem::remove(path);
    ASSERT_EQ(plot_draw_cairo(d->layout, path, width, height), "") << name;
    EXPECT_EQ(picture_size(path), std::pair(width, height)) << name;
  }
  EXPECT_NE(plot_draw_cairo(d->layout, dir + "missing/dir/plot.png", 100, 100), "");
  EXPECT_NE(plot_draw_cairo(d->layout, dir + "missing/dir/plot.svg", 100, 100), "");
  EXPECT_TRUE(plot_format_known("a.svg") && plot_format_known("a.png"));
  EXPECT_FALSE(plot_format_known("a.jpg") || plot_format_known("png"));
}

}  // namespace
}  // namespace tavrel
