// tavrel-decode: recordings through the program's own decoding path, block by block as
// the capture worker feeds it, so a recording gives the reads the live program would;
// or through the tolerant path; from files, standard input or the live sound input.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "capture/wave_capture.hpp"
#include "cli/cli.hpp"
#include "cli/ordered_jobs.hpp"
#include "cli/unattended.hpp"
#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "frontend/slice_pass.hpp"
#include "io/sound_in.hpp"
#include "platform/console.hpp"
#include "plot/plot_draw.hpp"
#include "report/decode_run.hpp"
#include "report/read_report.hpp"
#include "ui/status_dialog.hpp"

using namespace tavrel;

namespace {

// The decoding path's numbers, for the help texts.
std::string facts(const char* text) {
  const auto n = [](int64_t v) { return std::to_string(v); };
  return cli_fill(text, {{"rate", n(sample_rate)},
                         {"rate_x2", n(2 * sample_rate)},
                         {"rate_x4", n(4 * sample_rate)},
                         {"block", n(block_frames)},
                         {"carry", n(carry_samples)},
                         {"one_half_bit", n(min_run) + ".." + n(long_run - 1)},
                         {"two_half_bits", n(long_run) + ".." + n(max_run)}});
}

const std::string description =
    facts(R"(Decodes each FILE (WAV, FLAC, AIFF and whatever else libsndfile reads; any sample
rate; 8, 16 or 24 bits or float) the way Tavrel decodes its sound input: the chosen
channel is converted to {rate} samples/s and 8-bit unsigned samples, cut into blocks
of {block} samples with the last {carry} of each block carried into the next, and every
block is sliced and searched for 64-bit EM4100 frames on its own. A recording
therefore gives the same reads as the live program would.

By default the output is Tavrel's console log, byte for byte: each new tag starts a
line "id_high.id_low", repeated reads rewrite it with "\r" and a running count, and
the log ends with a line end. Each FILE is decoded as one run of the program.

A FILE named - is standard input. Standard input and other pipes are read front to back
as the samples arrive, in any of the formats above (headers that need a look ahead are
kept in memory while they are read) in pieces of 20 ms, and the output is written after
each piece read unless it goes to a file, so that tavrel-decode --raw - can follow a live
capture (arecord -t raw, parec, sox -t wav -).

With --live there is no FILE: the sound input (--device) is read until Ctrl-C or SIGTERM,
and decoded as a stream is; everything read is written then, and the exit status is as for
a file. A lost input is said on standard error and waited for.

As a service: the package installs the systemd unit tavrel-reader@.service. Its instance
tavrel-reader@NAME runs tavrel-decode --live --robust --json --first with the options in
TAVREL_OPTIONS of /etc/tavrel/NAME.conf (an example is in
/usr/share/doc/tavrel/examples/reader.conf), as an unprivileged user in the audio group;
it is restarted when it fails and logs to the journal. Such a service has no desktop
sound server: give it a sound card with --device.

The program's decoder reads "0.0" (tag 0000000000) from a steady tone near 1.27, 2.7 or
2.8 kHz with a small DC offset, in either polarity: that frame has every parity bit 0, and
a real tag can carry it, so the program's path keeps reading it. --robust does not read
such tones.)");

const ToolText tool_text = {
    "tavrel-decode",
    "read proximity tag IDs from sound recordings",
    "FILE... | --live",
    description.c_str(),
    R"(  0   at least one tag was read
  1   no tag was read; a line on standard error gives the
      most likely cause and the option to try (not with -q)
  2   a FILE could not be read, or was cut short, or the
      command line is wrong, or --mqtt could not send
      every scan

A FILE that cannot be read is named on standard error; the other files are still
decoded, and a cut file's samples are decoded up to the cut.)",
    R"(tavrel-decode recording.wav
tavrel-decode --json --invert=auto *.flac | jq -r .id
tavrel-decode --stats --channel left quiet.wav
tavrel-decode --live --robust --first --mqtt mqtt://homeassistant.local
sudo systemctl enable --now tavrel-reader@door)",
};

struct Options {
  DecodeOptions decode;
  bool json = false;
  bool stats = false;
  std::string channel = "right";
  std::string clock = "64";
  std::string invert;  ///< "" off, "on" or "auto"
  bool raw = false;
  bool live = false;
  bool first = false;
  int jobs = 1;
  std::string plot;  ///< picture to draw, or empty
  double from = -1;  ///< seconds; negative: where the signal starts
  double length = default_plot_seconds;
  std::string plot_size = std::to_string(plot_width) + "x" + std::to_string(plot_height);
  int width = plot_width;  ///< pixels
  int height = plot_height;
  std::vector<std::string> plot_every;  ///< N and DIR, or empty
  int64_t every = 0;                    ///< seconds between pictures of --plot-every
  std::string plot_dir;                 ///< where they go
  std::vector<std::string> files;
  UnattendedOptions unattended;  ///< --device, --list-devices, --mqtt
};

// The options, in the order of the help text.
void declare(Cli& cli, Options& o) {
  CLI::App& app = cli.app;
  app.add_flag("--json", o.json,
               R"(Instead of the log, write one JSON object per read, one per line:
  file        the FILE as given
  time        seconds from the start of the recording
              to the end of the frame's last half-bit
  id          the full tag ID, 10 hex digits (rows 0 to 9)
  id_high, id_low
              the two 16-bit numbers Tavrel shows
              (rows 2-5 and 6-9)
  repeat      the repeat count after this read (0: new tag)
  inverted    whether the read came from the inverted signal
  number      "id_high.id_low", as Tavrel shows it
  dec32       the low 32 bits of the ID in decimal, 10 digits
  dec24       the low 24 bits in decimal, 8 digits
  wiegand26   {"facility": bits 23..16, "card": bits 15..0}
With --robust also, after inverted:
  clock       the data rate found: 64, 32 or 16 (RF/n)
  level       the signal's peak swing around its middle,
              in steps of 128 (8-bit)
  offset      its middle level minus the nominal middle
  snr_db      signal power over noise power, in dB
With --live, or a FILE that is a stream, also, after time:
  wall        the wall-clock time of the read, ISO 8601 UTC)");
  app.add_flag("--stats", o.stats,
               facts(R"(Write diagnostics for each FILE to standard error: how many samples were
NaN (taken as the middle level), signal level percentiles, a histogram of run lengths in
samples ({one_half_bit} are one half-bit, {two_half_bits} two, others are dropped), how many
frame tests failed at the header, the Manchester test, a row parity, a column parity and the
stop bit, and a hint when nothing was read.)"));
  cli_choice(cli, "--channel", o.channel, {"left", "right"},
             R"(The channel that carries the tag signal (default: right, as in Tavrel). A
one-channel file is decoded whatever this says.)");
  app.add_flag("--invert{on}", o.invert,
               R"(Without a value: take the signal upside down, as the "Invert Signal" box does.

With =auto: slice every block in both polarities. An upside-down frame fails every row
parity, so a tag is not read with a wrong number; but a steady tone near 1.27, 2.7 or
2.8 kHz with a small DC offset is read as "0.0" (tag 0000000000) in either polarity, with
or without =auto, and a real tag can carry that ID: use --robust, which does not read
tones. Reads of the inverted pass of a block come after those of the normal pass. "--invert auto" means the same unless a file named auto exists;
then the command line is refused as unclear (write --invert=auto, or ./auto for the
file).)")
      ->type_name("[=auto]");
  app.add_flag(
      "--no-parity", [&o](int64_t) { o.decode.parity = false; },
      R"(Skip the row and column parity tests, as clearing "CRC Check" does. Then any
window of nine 1 bits, clean Manchester code and a stop bit 0 is read: a frame with a wrong
data bit gives a wrong number, and --invert=auto may read numbers from the upside-down
signal. The stop bit is tested either way, so a window that starts late in the frame is
never read.)");
  cli_choice(cli, "--clock", o.clock, {"64", "32", "16"},
             facts(R"(The tag's data rate as a divider of the 125 kHz field (default 64). For 32
and 16 the recording is converted to {rate_x2} or {rate_x4} samples/s, so that its runs fall
into the same windows as those of an RF/64 tag at {rate}/s. The recording must be made at a
rate high enough to keep the edges of the faster signal: at least {rate_x2}/s for RF/32 and
{rate_x4}/s for RF/16 is safe.)"));
  app.add_flag("--raw", o.raw,
               facts(R"(The FILEs have no header and hold 8-bit unsigned stereo samples at {rate}/s,
left then right, as Tavrel records (and as tavrel-gen -o NAME.raw writes).)"));
  cli_number(cli, "-j,--jobs", o.jobs, 1, 1024, "N",
             R"(Decode up to N FILEs at once, each in a process of its own (default 1). The
output still comes in the order of the FILEs: all of one FILE's standard output, then its
standard error, then the next FILE's.)");
  app.add_flag("--robust", o.decode.robust,
               R"(Decode with the tolerant path instead of the program's: it finds the polarity,
the data rate (RF/64, RF/32, RF/16), the middle level and the swing by itself, decides each
half-bit over its whole length, and reads swings from 4 steps of 128 up to clipping, DC
offsets, AC coupling, noise down to 0 dB SNR and any sample rate from 8000/s, at the
file's own rate. A read is made only when it is sure: the same 64 bits twice in a row,
both passing the frame checks with parity and stop bit, no bit much weaker than the
others, and clean Manchester steps between the bits. Not with --invert, --no-parity or
--clock, which it does not need. The log is the program's log of those reads.)");
  app.add_flag("--live", o.live,
               R"(Read the default sound input, as Tavrel does, instead of FILEs, until Ctrl-C
or SIGTERM. Each read is written as soon as its block is decoded.)");
  app.add_flag("--first", o.first,
               R"(Write only the first read of each presentation of a tag: a new number, or
the same number after a pause of )" +
                   std::to_string(refresh_ms) +
                   R"( ms or more without reads (when Tavrel's window falls back to dashes).
The log then has one line per presentation.)");
  unattended_declare(cli, o.unattended);
  cli_file(cli, "--plot", o.plot,
           R"(Draw what the decoder saw of a stretch of each FILE into a picture: PNG or SVG,
chosen by the name's ending. From the top: the analysed channel's samples with the two
thresholds and the dead band between them; the runs the slicer reported, by length, high
and low apart, dropped runs crossed out; the half-bits stored; every window whose header
passed, with its bits up to where it failed and the test that failed; a row per frame test
result with a mark for every window tested; the frames read, with their number. The title
names the file, rate, polarity, clock and the reads in the stretch; when nothing was read,
the line under it says why, as --stats does. With several FILEs, each picture's name gets
the recording's name before its ending: plot.png gives plot-card.png for card.wav. With
--robust, the samples also carry the middle level and the swing the tolerant path measured,
block by block, as steps, and only its reads below them: that path has no runs, half-bits
or windows of the program's.)")
      ->type_name("FILE.png|FILE.svg");
  cli_number(cli, "--from", o.from, 0, 1e9, "S",
             R"(Where the stretch starts, in seconds from the start of the recording (default:
2 ms before the first millisecond whose samples lie )" +
                 std::to_string(signal_steps) +
                 R"( or more steps from the middle level on
average, so that noise alone does not count; the last stretch of a recording without one).)");
  cli_number(cli, "--length", o.length, 0.001, 3600, "S",
             "How long the stretch is, in seconds (default " + number_text(default_plot_seconds) +
                 ": about three frames).");
  app.add_option(
         "--plot-every", o.plot_every,
         R"(Every N (whole) seconds of input, draw the last stretch (--length) as --plot does into
DIR/plot-SECONDS.png, SECONDS counting from the start in six digits: with --live, a user
adjusting a reader's gain sees what each setting gives. Each picture is written under
another name first and then renamed, so a viewer never shows half of one. One input only.)")
      ->expected(2)
      ->type_name("N DIR");
  app.add_option("--plot-size", o.plot_size,
                 "The picture's width and height in pixels (default " + o.plot_size + ").")
      ->type_name("WxH");
  app.add_option("FILE", o.files, "Sound files; - is standard input.");
}

// "--invert auto" as one option, unless "auto" could as well be a file.
void join_invert_auto(const Cli& cli, std::vector<std::string>& args) {
  for (size_t i = 0; i + 1 < args.size() && args[i] != "--"; ++i) {
    if (args[i] != "--invert" || args[i + 1] != "auto") continue;
    if (std::filesystem::exists("auto")) {
      cli_usage_error(cli,
                      "--invert auto: a file named auto exists; write --invert=auto for both "
                      "polarities or ./auto for the file");
    }
    args[i] = "--invert=auto";
    args.erase(args.begin() + static_cast<ptrdiff_t>(i) + 1);
  }
}

Options parse(Cli& cli, int argc, char** argv) {
  Options o;
  cli_begin(cli, tool_text);
  declare(cli, o);
  std::vector<std::string> args(argv + 1, argv + argc);
  join_invert_auto(cli, args);
  cli_parse(cli, args);
  unattended_check(cli, o.unattended, o.live, o.jobs);
  const bool mqtt = !o.unattended.mqtt.empty();
  if (o.invert != "" && o.invert != "on" && o.invert != "auto")
    cli_usage_error(cli, "--invert takes no value or =auto, not =" + o.invert);
  if (o.live && !o.files.empty()) cli_usage_error(cli, "--live reads no FILE");
  if (o.live && (o.raw || o.jobs > 1)) cli_usage_error(cli, "--live takes no --raw or --jobs");
  if (!o.live && o.files.empty()) cli_usage_error(cli, "no FILE given");
  if (o.decode.robust && (o.invert != "" || !o.decode.parity || cli.app.count("--clock") > 0))
    cli_usage_error(cli,
                    "--robust finds the polarity and the clock itself and always tests parity: "
                    "leave out --invert, --no-parity and --clock");
  // The pictures of --plot-every are drawn from the program's own decoding path.
  if (!o.plot_every.empty()) {
    char* end = nullptr;
    o.every = std::strtoll(o.plot_every[0].c_str(), &end, 10);
    if (*end != 0 || o.plot_every[0].empty() || o.every < 1 || o.every > 86400)
      cli_usage_error(cli,
                      "--plot-every takes whole seconds from 1 to 86400, not " + o.plot_every[0]);
    o.plot_dir = o.plot_every[1];
    if (!std::filesystem::is_directory(o.plot_dir))
      cli_usage_error(cli, "--plot-every: " + o.plot_dir + " is no directory");
    if (!o.plot.empty()) cli_usage_error(cli, "--plot-every and --plot: choose one");
    if (o.files.size() > 1) cli_usage_error(cli, "--plot-every takes one input");
  }
  if (!o.plot_dir.empty() && o.decode.robust)
    cli_usage_error(cli, "--plot-every shows the program's decoding path: not with --robust");
  if (!o.plot.empty() && !plot_format_known(o.plot))
    cli_usage_error(cli, "--plot takes a file name ending in .png or .svg, not " + o.plot);
  char x = 0;
  char rest = 0;
  if (std::sscanf(o.plot_size.c_str(), "%d%c%d%c", &o.width, &x, &o.height, &rest) != 3 ||
      x != 'x' || o.width < 200 || o.height < 150 || o.width > 20000 || o.height > 20000)
    cli_usage_error(
        cli, "--plot-size takes WIDTHxHEIGHT from 200x150 to 20000x20000, not " + o.plot_size);
  o.decode.invert = o.invert == "auto" ? invert_auto : o.invert == "on" ? 1 : 0;
  // The tolerant path decodes at the file's own rate.
  o.decode.rate = o.decode.robust ? 0 : sample_rate * 64.0 / std::stoi(o.clock);
  // The counts behind the hint on a failed decode come from the watch.
  const bool plotting = !o.plot.empty() || !o.plot_dir.empty();
  o.decode.watch = o.json || o.stats || o.first || !cli.quiet || plotting || mqtt;
  // The picture shows the whole stretch, reads or not.
  o.decode.watch_until_read = !o.json && !o.stats && !o.first && !plotting && !mqtt;
  o.decode.levels = o.stats || plotting;
  return o;
}

// What decoding one file leaves for the summary of the whole command. Plain data, so
// that a child process can hand it back as bytes.
struct FileOutcome {
  bool read;           ///< at least one tag was read
  bool failed;         ///< the file could not be read to its end
  DecodeStats stats;   ///< the file's runs and frame tests, for the hint
  int32_t peak;        ///< SoundFacts::peak
  int32_t other_peak;  ///< SoundFacts::other_peak
};

// Set by SIGINT and SIGTERM while a stream or the live input is read.
std::atomic<bool> stop_requested{false};

// The broker link of --mqtt, or null.
MqttSink* mqtt_sink = nullptr;

void on_stop_signal(int) {
  stop_requested.store(true);
}

// Ctrl-C and SIGTERM end the reading, not the process; a second one ends the process.
// No SA_RESTART: a read waiting for a stream returns at once.
void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Whether the files go to processes of their own (-j with more than one file).
bool in_jobs(const Options& o) {
  return o.jobs > 1 && o.files.size() > 1;
}

// A pipe, a terminal or standard input: read as it arrives.
bool is_stream(const std::string& path) {
  struct stat st {};
  return path == "-" ||
         (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode));
}

// Whether a read starts a presentation of a tag: a new number, or the same after a pause
// as long as the window's display holds a number without reads.
struct Presentation {
  bool any = false;
  uint64_t bits = 0;
  double last = 0;  ///< seconds, stream time of the last read
};

bool first_of_presentation(Presentation& p, const Read& read) {
  const bool first = !p.any || read.frame.bits != p.bits || read.time - p.last >= refresh_ms / 1e3;
  p = {true, read.frame.bits, read.time};
  return first;
}

// The picture for `file`: the name given, or with several recordings that name with the
// recording's own name before its ending.
std::string picture_name(const std::string& plot, const std::string& file, size_t files) {
  if (files <= 1) return plot;
  const std::string stem = std::filesystem::path(file).stem().string();
  const size_t dot = plot.size() - 4;  // ".png" or ".svg"
  return plot.substr(0, dot) + "-" + stem + plot.substr(dot);
}

// The title's rate and, while nothing was read, the line that says why.
void plot_facts(const Options& o, PlotStretch& plot, const SoundFacts& facts,
                const DecodeStats& stats) {
  plot.file_rate = facts.file_rate;
  plot.hint.clear();
  const int64_t reads = o.decode.robust ? stats.robust.checks[static_cast<int>(RobustCheck::ok)]
                                        : stats.checks[static_cast<int>(FrameCheck::ok)];
  if (reads == 0) {
    plot.hint = failure_hint({stats, facts.peak, facts.other_peak, o.channel == "left" ? 0 : 1,
                              o.decode.invert, o.decode.robust});
  }
}

// Draws what `plot` gathered of `file`; false when the picture could not be written.
bool draw_plot(const Options& o, PlotStretch& plot, const std::string& file,
               const SoundFacts& facts, const DecodeStats& stats) {
  plot_facts(o, plot, facts, stats);
  const std::string picture = picture_name(o.plot, file, o.files.size());
  const std::string problem = plot_draw(plot_layout(plot), picture, o.width, o.height);
  if (problem.empty()) return true;
  std::fflush(stdout);
  std::fprintf(stderr, "tavrel-decode: %s: %s\n", picture.c_str(), problem.c_str());
  return false;
}

// The --plot-every picture of the stretch that ends with the samples decoded so far, at
// `seconds` of input; false when it could not be written.
bool draw_rolling(const Options& o, PlotStretch& plot, const Decoding& d, const SoundFacts& facts,
                  int64_t seconds) {
  plot_facts(o, plot, facts, d.stats);
  char name[32];
  std::snprintf(name, sizeof name, "plot-%06lld.png", static_cast<long long>(seconds));
  const std::string picture = (std::filesystem::path(o.plot_dir) / name).string();
  const std::string partial = (std::filesystem::path(o.plot_dir) / ".partial.png").string();
  std::string problem = plot_draw(plot_last(plot, d.fed), partial, o.width, o.height);
  if (problem.empty() && std::rename(partial.c_str(), picture.c_str()) != 0)
    problem = std::strerror(errno);
  if (problem.empty()) return true;
  std::fflush(stdout);
  std::fprintf(stderr, "tavrel-decode: %s: %s\n", picture.c_str(), problem.c_str());
  return false;
}

// Decodes file `index` of the command line (or the live input, for -1) as one run of
// the program.
FileOutcome decode_file(const Options& o, Decoding& d, int index, bool flush_each) {
  const std::string name = index < 0 ? "live" : o.files[static_cast<size_t>(index)];
  const char* file = name.c_str();
  const bool timed = index < 0 || is_stream(file);  // reads get their wall-clock time
  const bool rolling = !o.plot_dir.empty();
  const bool plotting = !o.plot.empty() || rolling;
  const auto plot = std::make_unique<PlotStretch>();
  decoding_begin(d, o.decode);
  if (rolling) {
    plot_begin_rolling(*plot, name, o.decode, std::stoi(o.clock), o.length);
  } else if (plotting) {
    plot_begin(*plot, name, o.decode, std::stoi(o.clock), o.from, o.length);
  }
  if (plotting) d.on_event = [&plot](const WatchEvent& event) { plot_event(*plot, event); };
  if (plotting && o.decode.robust)
    d.on_levels = [&plot](const RobustLevels& levels) { plot_levels(*plot, levels); };
  Presentation presentation;
  if (o.json || o.first || plotting || mqtt_sink) {
    d.on_read = [&o, file, timed, plotting, &presentation, &plot](const Read& read) {
      if (plotting) plot_read(*plot, read);
      // --mqtt sends each presentation, whatever is written.
      const bool first = first_of_presentation(presentation, read);
      const bool send = mqtt_sink && first;
      const bool write = (o.json || o.first) && (first || !o.first);
      if (!send && !write) return;
      const std::string json =
          o.json || send ? read_json(file, read, timed ? wall_time_now() : "") : "";
      if (send) unattended_publish(*mqtt_sink, o.channel, json, read);
      if (!write) return;
      if (o.json) {
        std::fputs((json + "\n").c_str(), stdout);
      } else {
        std::printf("%d.%d\n", read.frame.number.id_high, read.frame.number.id_low);
      }
    };
  }
  SoundFacts facts;
  // --plot-every: the next picture when the decoded samples reach it, by seconds of input.
  int64_t next_picture = 1;
  bool pictures_fail = false;
  const auto after_samples = [&] {
    if (rolling && !pictures_fail) {
      const auto every = std::llround(static_cast<double>(o.every) * o.decode.rate);
      while (!pictures_fail && d.fed >= next_picture * every) {
        pictures_fail = !draw_rolling(o, *plot, d, facts, next_picture * o.every);
        ++next_picture;
      }
    }
    if (flush_each) std::fflush(stdout);
  };
  SampleSink sink = decoding_sink(d);
  if (plotting && o.decode.robust) {
    // The tolerant path decodes at the file's own rate: the stretch is placed at it.
    sink.start = [&d, &plot](int rate) {
      plot_rate(*plot, rate);
      decoding_start(d, rate);
    };
  }
  sink.stopped = [] { return stop_requested.load(std::memory_order_relaxed); };
  if (flush_each || plotting) {
    // Reads reach a pipe or a terminal as they happen; the plot sees every sample before
    // the decoder does.
    sink.take = [&](const uint8_t* samples, int32_t n) {
      if (plotting) plot_take(*plot, samples, n);
      decoding_take(d, samples, n);
      after_samples();
    };
    sink.filled = [&](int32_t n) {
      int32_t room = 0;
      if (plotting) plot_take(*plot, decoding_room(d, room), n);
      decoding_filled(d, n);
      after_samples();
    };
  }
  const int channel = o.channel == "left" ? 0 : 1;
  // Under -j the files keep the cores busy already: a reading thread would cost time.
  const bool read_ahead = !in_jobs(o);
  const std::string error = index < 0 ? unattended_read_live(o.unattended, channel, o.decode.robust,
                                                             sink, stop_requested, facts)
                                      : read_sound(file, channel, static_cast<int>(o.decode.rate),
                                                   o.raw, sink, facts, read_ahead);
  decoding_end(d);
  d.on_event = nullptr;
  d.on_levels = nullptr;
  d.on_read = nullptr;
  // The program ends its last log line when it stops, also when nothing was read.
  if (facts.opened) console_print("\n");
  FileOutcome outcome{read_register.last_high.load() != -1, !error.empty(), d.stats, facts.peak,
                      facts.other_peak};
  if (!error.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavrel-decode: %s: %s\n", file, error.c_str());
  }
  if (o.stats && facts.opened) {
    std::fflush(stdout);
    write_stats(stderr, file, facts, o.decode, d.stats);
  }
  if (!o.plot.empty() && facts.opened && !draw_plot(o, *plot, name, facts, d.stats))
    outcome.failed = true;
  if (pictures_fail) outcome.failed = true;
  return outcome;
}

// The files in up to o.jobs processes; a process that did not end by itself counts as a
// failed file.
std::vector<FileOutcome> decode_in_jobs(const Options& o, Decoding& d, bool flush_each) {
  const auto count = static_cast<int>(o.files.size());
  const std::vector<std::string> results = run_ordered_jobs(count, o.jobs, [&](int i) {
    const FileOutcome outcome = decode_file(o, d, i, flush_each);
    return std::string(reinterpret_cast<const char*>(&outcome), sizeof outcome);
  });
  std::vector<FileOutcome> outcomes;
  for (int i = 0; i < count; ++i) {
    const std::string& bytes = results[static_cast<size_t>(i)];
    FileOutcome outcome{false, true, {}, 0, -1};
    if (bytes.size() == sizeof outcome) {
      std::memcpy(&outcome, bytes.data(), sizeof outcome);
    } else {
      std::fprintf(stderr, "tavrel-decode: %s: the decoding process ended abnormally\n",
                   o.files[static_cast<size_t>(i)].c_str());
    }
    outcomes.push_back(outcome);
  }
  return outcomes;
}

}  // namespace

int main(int argc, char** argv) {
  Cli cli;
  const Options o = parse(cli, argc, argv);
  console_setup();
  std::FILE* null_sink = nullptr;
  if (o.json || o.first) {
    // The log is not wanted, but the decoding path writes it all the same.
    null_sink = std::fopen("/dev/null", "w");
    if (null_sink) console_stream = null_sink;
  }

  // Reads reach a pipe or a terminal as they happen, and any output as they happen when
  // the input is live or a stream; otherwise a file is written in big pieces.
  struct stat out_stat {};
  const bool streams = o.live || std::any_of(o.files.begin(), o.files.end(), is_stream);
  const bool flush_each =
      streams || fstat(STDOUT_FILENO, &out_stat) != 0 || !S_ISREG(out_stat.st_mode);

  // Each file is decoded as one run of the program, whichever process decodes it.
  const auto decoding = std::make_unique<Decoding>();
  std::vector<FileOutcome> outcomes;
  if (streams) catch_stop_signals();
  const auto mqtt = unattended_mqtt(cli, o.unattended, o.channel);
  mqtt_sink = mqtt.get();
  if (o.live) {
    outcomes.push_back(decode_file(o, *decoding, -1, flush_each));
  } else if (in_jobs(o)) {
    outcomes = decode_in_jobs(o, *decoding, flush_each);
  } else {
    for (size_t i = 0; i < o.files.size(); ++i) {
      outcomes.push_back(decode_file(o, *decoding, static_cast<int>(i), flush_each));
    }
  }
  if (null_sink) std::fclose(null_sink);

  bool failed = mqtt && !unattended_mqtt_end(*mqtt, stop_requested.load());
  bool read_any = false;
  const auto total = std::make_unique<DecodeStats>();
  SoundFacts seen;  ///< the largest peaks over all files
  for (const FileOutcome& outcome : outcomes) {
    failed = failed || outcome.failed;
    read_any = read_any || outcome.read;
    stats_add(*total, outcome.stats);
    seen.peak = std::max(seen.peak, outcome.peak);
    seen.other_peak = std::max(seen.other_peak, outcome.other_peak);
  }
  if (failed) return 2;
  if (read_any) return 0;
  if (!cli.quiet) {
    std::fflush(stdout);
    const HintFacts facts{*total,          seen.peak,
                          seen.other_peak, o.channel == "left" ? 0 : 1,
                          o.decode.invert, o.decode.robust};
    std::fprintf(stderr, "tavrel-decode: no tag read: %s\n", failure_hint(facts).c_str());
  }
  return 1;
}
