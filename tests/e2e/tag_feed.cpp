// Feeds a sound server's pipe source in real time, as a reader front end would feed the
// line input: interleaved 8-bit stereo at sample_rate frames/s, the tag signal on the right.
//
//   tag_feed --facts           the sound input's format as shell assignments, for scripts
//   tag_feed [--stop] FIFO STEP...
//     silence:SECONDS            middle level on both channels
//     tag:HEX10:SECONDS[:FLAGS]  a tag repeating; FLAGS, comma-separated: invert (upside
//                                down), badrow (row 0's parity bit flipped in every frame),
//                                swing=STEPS, offset=STEPS (of 128), clock=64|32|16
//     pattern:SECONDS            left = frame number & 255, right = its complement
//     file:PATH                  a recording as captured: headerless 8-bit stereo, at sample_rate
//
// After the last step it keeps writing silence until killed, so that capture never
// starves; with --stop it stops writing instead. Each step's start time goes to stderr,
// as seconds of sound fed and, on a line "wall SECONDS STEP", as Unix time; "SECONDS end"
// once the last step is written.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "synth/tag_signal.hpp"

using namespace tavrel;

namespace {

// 20 ms: Wine's wave input loses sound that reaches it in 100 ms bursts.
constexpr int64_t chunk_frames = 960;

struct Feed {
  std::FILE* out;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  int64_t frames = 0;  ///< stereo frames written so far
  int64_t pattern = 0;
};

// Writes whole stereo frames, never faster than real time.
void write_paced(Feed& feed, const std::vector<uint8_t>& stereo) {
  for (size_t at = 0; at < stereo.size(); at += 2 * chunk_frames) {
    const size_t bytes = std::min<size_t>(2 * chunk_frames, stereo.size() - at);
    std::this_thread::sleep_until(feed.start +
                                  std::chrono::microseconds(feed.frames * 1000000 / sample_rate));
    // A pipe whose reader went away (a sound server stopped) fails the flush, not the write.
    if (std::fwrite(stereo.data() + at, 1, bytes, feed.out) != bytes || std::fflush(feed.out) != 0)
      std::exit(1);
    feed.frames += static_cast<int64_t>(bytes / 2);
  }
}

std::vector<std::string> split(const std::string& s, char by = ':') {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t colon; (colon = s.find(by, from)) != std::string::npos; from = colon + 1) {
    parts.push_back(s.substr(from, colon - from));
  }
  parts.push_back(s.substr(from));
  return parts;
}

// When the step that starts now begins on the wire: its first samples are written at the
// time the feed is paced to.
void log_step(const Feed& feed, const char* step) {
  const auto due = feed.start + std::chrono::microseconds(feed.frames * 1000000 / sample_rate);
  const auto wall = std::chrono::system_clock::now() + (due - std::chrono::steady_clock::now());
  const double unix_seconds = std::chrono::duration<double>(wall.time_since_epoch()).count();
  std::fprintf(stderr, "%.3f %s\nwall %.6f %s\n", static_cast<double>(feed.frames) / sample_rate,
               step, unix_seconds, step);
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: tag_feed [--stop] FIFO silence:S | tag:HEX10:S[:FLAG,...] | pattern:S "
               "| file:PATH ...\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  if (argc == 2 && std::strcmp(argv[1], "--facts") == 0) {
    std::printf("sample_rate=%d\nblock_frames=%d\n", sample_rate, block_frames);
    return 0;
  }
  int arg = 1;
  bool stop = false;
  if (arg < argc && std::strcmp(argv[arg], "--stop") == 0) stop = true, ++arg;
  if (arg >= argc) usage();
  Feed feed{std::fopen(argv[arg++], "wb")};
  if (!feed.out) {
    std::perror("tag_feed: open");
    return 1;
  }
  TagSignal signal;
  for (; arg < argc; ++arg) {
    const auto p = split(argv[arg]);
    std::vector<uint8_t> right;
    const double seconds = std::atof(p.back().c_str());
    const std::string& kind = p[0];
    int64_t samples = 0;
    if (kind == "silence" && p.size() == 2) {
      samples = seconds_to_samples(seconds);
      right.assign(static_cast<size_t>(samples), 128);
    } else if (kind == "tag" && (p.size() == 3 || p.size() == 4)) {
      const double secs = std::atof(p[2].c_str());
      signal.options = TagSignalOptions{};
      uint64_t bits = tag_frame(std::strtoull(p[1].c_str(), nullptr, 16));
      for (const std::string& flag : split(p.size() == 4 ? p[3] : "", ',')) {
        const std::string value = flag.substr(flag.find('=') + 1);
        if (flag == "invert") signal.options.invert = true;
        if (flag == "badrow") bits ^= frame_bit(13);
        if (flag.rfind("swing=", 0) == 0) signal.options.amplitude = std::atof(value.c_str()) / 128;
        if (flag.rfind("offset=", 0) == 0)
          signal.options.dc_offset = std::atof(value.c_str()) / 128;
        if (flag.rfind("clock=", 0) == 0)
          signal.options.bit_samples = clock_bit_samples(sample_rate, std::atoi(value.c_str()));
      }
      signal.written = 0;
      signal.time = 0;
      right = tag_seconds(signal, bits, secs);
    } else if (kind == "file" && p.size() == 2) {
      std::FILE* in = std::fopen(p[1].c_str(), "rb");
      if (!in) {
        std::perror(p[1].c_str());
        return 1;
      }
      std::vector<uint8_t> stereo;
      uint8_t chunk[65536];
      for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        stereo.insert(stereo.end(), chunk, chunk + got);
      }
      std::fclose(in);
      stereo.resize(stereo.size() & ~size_t{1});
      log_step(feed, argv[arg]);
      write_paced(feed, stereo);
      continue;
    } else if (kind == "pattern" && p.size() == 2) {
      samples = seconds_to_samples(seconds);
      std::vector<uint8_t> stereo(static_cast<size_t>(2 * samples));
      for (int64_t i = 0; i < samples; ++i, ++feed.pattern) {
        stereo[2 * i] = static_cast<uint8_t>(feed.pattern & 0xFF);
        stereo[2 * i + 1] = static_cast<uint8_t>(~feed.pattern & 0xFF);
      }
      log_step(feed, argv[arg]);
      write_paced(feed, stereo);
      continue;
    } else {
      usage();
    }
    log_step(feed, argv[arg]);
    write_paced(feed, to_stereo(right));
  }
  std::fprintf(stderr, "%.3f end\n", static_cast<double>(feed.frames) / sample_rate);
  if (stop) return 0;
  const std::vector<uint8_t> silence(2 * chunk_frames, 128);
  for (;;) write_paced(feed, silence);
}
