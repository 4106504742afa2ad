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
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "capture/wave_capture.hpp"
#include "cli/cli.hpp"
#include "cli/decode_run.hpp"
#include "cli/ordered_jobs.hpp"
#include "cli/unattended.hpp"
#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "frontend/slice_pass.hpp"
#include "io/sound_in.hpp"
#include "lf/family_table.hpp"
#include "platform/console.hpp"
#include "plot/plot_draw.hpp"
#include "report/sinks.hpp"
#include "report/stats.hpp"
#include "ui/status_dialog.hpp"

using namespace tavrel;

namespace {

// The families the tolerant path reads, and what each read's number shows, as lines kept as
// they are in the help: a line each for the name, then the printed form wrapped below it.
std::string families_text() {
  std::string out;
  for (int32_t i = 0; i < family_count; ++i) {
    const Family& f = *family_table[i];
    std::string rates;
    for (const int32_t rf : f.rates)
      if (rf != 0) rates += (rates.empty() ? "RF/" : ", RF/") + std::to_string(rf);
    char head[160];
    std::snprintf(head, sizeof head, "  %-10s %s: %s at %s%s\n", f.name, f.title,
                  modulation_name(f.modulation), rates.c_str(),
                  f.animal_field ? " of a 125 or 134.2 kHz field" : "");
    out += head;
    // The printed form, wrapped below the name.
    std::istringstream words(f.printed);
    std::string line = "             ";
    for (std::string word; words >> word;) {
      if (line.size() + 1 + word.size() > 86) {
        out += line + "\n";
        line = "             ";
      }
      line += " " + word;
    }
    out += line + "\n";
  }
  return out;
}

// The decoding path's numbers, for the help texts.
std::string facts(const char* text) {
  const auto n = [](int64_t v) { return std::to_string(v); };
  return cli_fill(text, {{"rate", n(sample_rate)},
                         {"rate_x2", n(2 * sample_rate)},
                         {"rate_x4", n(4 * sample_rate)},
                         {"block", n(block_frames)},
                         {"carry", n(carry_samples)},
                         {"one_half_bit", n(min_run) + ".." + n(long_run - 1)},
                         {"two_half_bits", n(long_run) + ".." + n(max_run)},
                         {"families", families_text()}});
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

With --robust (or --family) the tolerant path decodes instead of the program's, at the
input's own rate, and reads every tag family below, or those --family names. Each read's
"number" is the form printed on the family's cards or shown by its readers:
{families}
The FSK families (hid, awid, ioprox, paradox, pyramid, fdxa) send tones of 12.5 and 15.6
kHz: they need a sound input of 44100 samples/s or more, and a front end whose band reaches
16 kHz; an RC filter or a coupling that cuts it loses them, while the ASK families stay
below 4 kHz. FDX-B animal tags answer a 134.2 kHz field best: a 125 kHz reader reads them at
short range only.

As a service: the package installs the systemd unit tavrel-reader@.service. Its instance
tavrel-reader@NAME runs tavrel-decode --live --robust --json --first with the options in
TAVREL_OPTIONS of /etc/tavrel/NAME.conf (an example is in
/usr/share/doc/tavrel/examples/reader.conf), as an unprivileged user in the audio group;
it is restarted when it fails and logs to the journal. Such a service has no desktop
sound server: give it a sound card with --device.

The program's decoder reads "0.0" (tag 0000000000) from a steady tone near 1.27, 2.7 or
2.8 kHz with a small DC offset, in either polarity: that frame has every parity bit 0, and
a real tag can carry it, so the program's path keeps reading it. With --invert=auto it
reads "0.0" from a real tag of another kind too: a T5557-type chip sending other data at
RF/32. Check such reads with --robust, which does not read tones.)");

const ToolText tool_text = {
    "tavrel-decode",
    "read proximity tag IDs from sound recordings",
    "FILE... | --live",
    description.c_str(),
    R"(  0   at least one tag was read
  1   no tag was read; a line on standard error gives the
      most likely cause and the option to try (not with -q)
  2   a FILE could not be read, or was cut short, or the
      output could not be written, or --mqtt could not send
      every scan, or the command line is wrong

A FILE that cannot be read is named on standard error; the other files are still
decoded, and a cut file's samples are decoded up to the cut.)",
    R"(tavrel-decode recording.wav
tavrel-decode --json --invert=auto *.flac | jq -r .id
tavrel-decode --stats --channel left quiet.wav
tavrel-decode --robust --json --family hid,em4100 door.flac
tavrel-decode --live --robust --first --channel left,right --reader front,back
tavrel-decode --live --robust --first --mqtt mqtt://homeassistant.local
sudo systemctl enable --now tavrel-reader@door)",
};

struct Options {
  DecodeOptions decode;
  bool json = false;
  bool stats = false;
  std::string channel = "right";  ///< --channel as given: one name or number, or a list
  std::string reader_names;       ///< --reader as given, or empty
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
  std::string family_list;              ///< --family as given, or empty
  bool quiet = false;                   ///< -q
  std::vector<std::string> files;
  UnattendedOptions unattended;  ///< --device, --list-devices, --mqtt

  // From the above.
  std::vector<int> channels;         ///< the channels read, 0 the first: one reader each
  std::vector<std::string> readers;  ///< their names, for JSON and MQTT
};

// The options, in the order of the help text.
void declare(Cli& cli, Options& o) {
  CLI::App& app = cli.app;
  app.add_flag("--json", o.json,
               R"(Instead of the log, write one JSON object per read, one per line:
  file        the FILE as given
  time        seconds from the start of the recording
              to the end of the frame's last symbol
  family      the tag family, as --family names it
  then the family's fields; for em4100:
    id          the full tag ID, 10 hex digits (rows 0 to 9)
    id_high, id_low
                the two 16-bit numbers Tavrel shows
                (rows 2-5 and 6-9)
    number      "id_high.id_low", as Tavrel shows it
    dec32       the low 32 bits of the ID in decimal, 10 digits
    dec24       the low 24 bits in decimal, 8 digits
    wiegand26   {"facility": bits 23..16, "card": bits 15..0}
  every family has "number", the form printed on its
  cards or shown by its readers, which the log shows
  repeat      reads of the same number in a row before
              this one (0: new tag)
  inverted    whether the read came from the inverted signal
  raw         the frame's symbols from its first sync
              symbol, 4 to a hex digit, the first sent the
              highest: tavrel-gen FAMILY:RAW plays it back
With --robust also, after inverted:
  clock       the data rate found: n of RF/n
  level       the signal's peak swing around its middle,
              in steps of 128 (8-bit)
  offset      its middle level minus the nominal middle
  snr_db      signal power over noise power, in dB
With --live, or a FILE that is a stream, also, after time:
  wall        the wall-clock time of the read, ISO 8601 UTC
and then, always:
  reader      the reader: the channel's name, or --reader's)");
  app.add_flag("--stats", o.stats,
               facts(R"(Write diagnostics for each FILE to standard error: how many samples were
NaN (taken as the middle level), signal level percentiles, a histogram of run lengths in
samples ({one_half_bit} are one half-bit, {two_half_bits} two, others are dropped), how many
frame tests failed at the header, the Manchester test, a row parity, a column parity and the
stop bit, and a hint when nothing was read. With --robust: the symbols each lane decided (for
the FSK lanes also the share of the input's power their tones held, and the field and tones
their symbols were recovered at), and each family's frames by the check they failed or what
the sure-read rules made of them.)"));
  app.add_option("--channel", o.channel,
                 R"(The channel that carries the tag signal (default: right, as in Tavrel): left,
right, or a channel's number (1 is left). A one-channel file is decoded whatever this says.

A list (left,right or 1,2,3,4) makes each channel a reader of its own, decoded apart by the
tolerant path (so it implies --robust): a stereo input serves two doors, a multichannel
audio interface more. Every JSON read names its reader ("reader"), as do the MQTT topics;
the log has a line per presentation of a tag, "READER: NUMBER".)")
      ->type_name("CHANNEL[,...]");
  app.add_option("--reader", o.reader_names,
                 R"(Names for the readers of --channel, one each, in its order (default: the
channels' own, left, right, 1, 2, ...): the JSON reads' "reader" and the MQTT topics.)")
      ->type_name("NAME[,...]");
  app.add_flag("--invert{on}", o.invert,
               R"(Without a value: take the signal upside down, as the "Invert Signal" box does.

With =auto: slice every block in both polarities. An upside-down frame fails every row
parity, so a tag is not read with a wrong number; but a steady tone near 1.27, 2.7 or
2.8 kHz with a small DC offset is read as "0.0" (tag 0000000000) in either polarity, with
or without =auto, and with =auto so is a real tag of another kind (a T5557-type chip
sending other data at RF/32). A real tag can carry that ID: check such reads with
--robust, which does not read tones. Reads of the inverted pass of a block come after those of the normal pass. "--invert auto" means the same unless a file named auto exists;
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
             R"(Decode up to N FILEs at once, in N processes that each take the next FILE when
done with one (default 1). The output still comes in the order of the FILEs: all of one
FILE's standard output, then its standard error, then the next FILE's. Where the open-file
or process limit leaves room for fewer processes, fewer run.)");
  app.add_flag("--robust", o.decode.tolerant,
               R"(Decode with the tolerant path instead of the program's: it reads every tag
family it knows (see --family), finds the polarity, the data rate, the middle level and the
swing by itself, decides each symbol over its whole length, and reads swings from 4 steps of
128 up to clipping, DC offsets, AC coupling and front ends whose signal decays between
edges, noise down to 0 dB SNR and any sample rate from 8000/s, at the file's own rate. A
read is made only when it is sure: the same frame as often in a row as its family's checks
need, each passing them, no symbol much weaker than the others, and a clean line code. Not
with --invert, --no-parity or --clock, which it does not need. The log is the program's
log of those reads, with each family's printed number.)");
  app.add_option("--family", o.family_list,
                 "The tag families the tolerant path looks for, a comma-separated list "
                 "(default: all, which is " +
                     family_names() + "). Implies --robust.")
      ->type_name("LIST");
  app.add_flag("--live", o.live,
               R"(Read the sound input (--device; by default ALSA's default, as Tavrel does)
instead of FILEs, until Ctrl-C or SIGTERM. Each read is written as soon as it is decoded. A
lost input (a sound server restarting, a card pulled out) is said on standard error,
waited for and said again when it is back.)");
  unattended_declare(cli, o.unattended);
  app.add_flag("--first", o.first,
               R"(Write only the first read of each presentation of a tag: a new number, or
the same number after a pause of )" +
                   std::to_string(refresh_ms) +
                   R"( ms or more without reads (when Tavrel's window falls back to dashes).
The log then has one line per presentation.)");
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
block by block, as steps; below them come the symbols it decided on the lane that matters
(that of the first read, else the one where most frames were tested, else the clearest),
each as high as its margin, filled for 1, hollow for 0, crossed where the line code breaks;
the frames tested on that lane, each with its family and the check it failed or what the
sure-read rules said; and its reads. That path has no runs, half-bits or windows of the
program's.)")
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

// Options that cannot go together, or need another, each with what to say.
struct Conflict {
  bool (*applies)(const Options& o, const Cli& cli);
  const char* message;
};

const Conflict conflicts[] = {
    {[](const Options& o, const Cli&) { return o.live && !o.files.empty(); },
     "--live reads no FILE"},
    {[](const Options& o, const Cli&) { return o.live && (o.raw || o.jobs > 1); },
     "--live takes no --raw or --jobs"},
    {[](const Options& o, const Cli&) { return !o.live && o.files.empty(); }, "no FILE given"},
    {[](const Options& o, const Cli& cli) {
       return o.decode.tolerant &&
              (o.invert != "" || !o.decode.parity || cli.app.count("--clock") > 0);
     },
     "--robust finds the polarity and the clock itself and always tests parity: leave out "
     "--invert, --no-parity and --clock"},
    {[](const Options& o, const Cli&) { return !o.plot_every.empty() && !o.plot.empty(); },
     "--plot-every and --plot: choose one"},
    {[](const Options& o, const Cli&) { return !o.plot_every.empty() && o.files.size() > 1; },
     "--plot-every takes one input"},
    // The pictures of --plot-every follow the program's blocks.
    {[](const Options& o, const Cli&) { return !o.plot_every.empty() && o.decode.tolerant; },
     "--plot-every shows the program's decoding path: not with --robust"},
    {[](const Options& o, const Cli& cli) {
       return o.channels.size() > 1 &&
              (o.invert != "" || !o.decode.parity || cli.app.count("--clock") > 0);
     },
     "several readers (--channel LIST) are decoded by the tolerant path, which finds the "
     "polarity and the clock itself: leave out --invert, --no-parity and --clock"},
    {[](const Options& o, const Cli&) {
       return o.channels.size() > 1 && (!o.plot.empty() || !o.plot_every.empty());
     },
     "--plot and --plot-every draw one reader: give --channel one channel"},
};

// The channels of --channel and the names of their readers; "" or what is wrong.
std::string parse_readers(Options& o) {
  const auto split = [](const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, ',');) out.push_back(item);
    if (!text.empty() && text.back() == ',') out.emplace_back();
    return out;
  };
  for (const std::string& c : split(o.channel)) {
    char* end = nullptr;
    const long n = std::strtol(c.c_str(), &end, 10);
    const int channel = c == "left"               ? 0
                        : c == "right"            ? 1
                        : !c.empty() && *end == 0 ? static_cast<int>(n) - 1
                                                  : -1;
    if (channel < 0 || channel > 255)
      return "--channel takes left, right or a channel's number from 1 to 256, not \"" + c + "\"";
    if (std::find(o.channels.begin(), o.channels.end(), channel) != o.channels.end())
      return "--channel names channel " + c + " twice";
    o.channels.push_back(channel);
    o.readers.push_back(c);
  }
  if (!o.reader_names.empty()) {
    const std::vector<std::string> names = split(o.reader_names);
    if (names.size() != o.channels.size())
      return "--reader takes a name for each channel of --channel: " +
             std::to_string(o.channels.size()) + ", not " + std::to_string(names.size());
    for (const std::string& name : names) {
      if (name.empty()) return "--reader takes names, not an empty one";
      if (std::count(names.begin(), names.end(), name) > 1)
        return "--reader names two readers " + name;
    }
    o.readers = names;
  }
  return "";
}

Options parse(Cli& cli, int argc, char** argv) {
  Options o;
  cli_begin(cli, tool_text);
  declare(cli, o);
  std::vector<std::string> args(argv + 1, argv + argc);
  join_invert_auto(cli, args);
  cli_parse(cli, args);
  if (o.invert != "" && o.invert != "on" && o.invert != "auto")
    cli_usage_error(cli, "--invert takes no value or =auto, not =" + o.invert);
  o.quiet = cli.quiet;
  unattended_check(cli, o.unattended, o.live, o.jobs);
  if (const std::string problem = parse_readers(o); !problem.empty()) cli_usage_error(cli, problem);
  // Several readers are decoded apart, which only the tolerant path does: the program's
  // decoder keeps its state in one place.
  if (o.channels.size() > 1 && o.invert == "" && o.decode.parity && cli.app.count("--clock") == 0)
    o.decode.tolerant = true;
  if (cli.app.count("--family") > 0) {
    if (const std::string problem = family_set_of(o.family_list, o.decode.families);
        !problem.empty())
      cli_usage_error(cli, "--family: " + problem);
    o.decode.tolerant = true;
  }
  for (const Conflict& c : conflicts)
    if (c.applies(o, cli)) cli_usage_error(cli, c.message);
  if (!o.plot_every.empty()) {
    char* end = nullptr;
    o.every = std::strtoll(o.plot_every[0].c_str(), &end, 10);
    if (*end != 0 || o.plot_every[0].empty() || o.every < 1 || o.every > 86400)
      cli_usage_error(cli,
                      "--plot-every takes whole seconds from 1 to 86400, not " + o.plot_every[0]);
    o.plot_dir = o.plot_every[1];
    if (!std::filesystem::is_directory(o.plot_dir))
      cli_usage_error(cli, "--plot-every: " + o.plot_dir + " is no directory");
  }
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
  o.decode.rate = o.decode.tolerant ? 0 : sample_rate * 64.0 / std::stoi(o.clock);
  // The counts behind the hint on a failed decode come from the watch.
  const bool plotting = !o.plot.empty() || !o.plot_dir.empty();
  // --mqtt sends every presentation: the program's path hands its reads on when watched.
  const bool mqtt = !o.unattended.mqtt.empty();
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
  DecodeStats stats;   ///< the file's counts, for the hint
  int32_t peak;        ///< SoundFacts::peak
  int32_t other_peak;  ///< SoundFacts::other_peak
  int32_t rate;        ///< SoundFacts::file_rate
};

// Set by SIGINT and SIGTERM while a stream or the live input is read.
std::atomic<bool> stop_requested{false};

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

// The picture for `file`: the name given, or with several recordings that name with the
// recording's own name before its ending.
std::string picture_name(const std::string& plot, const std::string& file, size_t files) {
  if (files <= 1) return plot;
  const std::string stem = std::filesystem::path(file).stem().string();
  const size_t dot = plot.size() - 4;  // ".png" or ".svg"
  return plot.substr(0, dot) + "-" + stem + plot.substr(dot);
}

// What was decoded and how, at `rate` samples/s of the file: the first line of --stats and
// the middle of a picture's title.
std::string decode_facts(const Options& o, int file_rate) {
  char text[256];
  if (o.decode.tolerant) {
    std::snprintf(text, sizeof text,
                  "%d samples/s, tolerant path: polarity and clock found by the decoder",
                  file_rate);
  } else {
    const char* polarity = o.decode.invert == invert_auto ? "both"
                           : o.decode.invert              ? "inverted"
                                                          : "normal";
    std::snprintf(
        text, sizeof text, "%d samples/s (decoded at %.0f/s), polarity %s, clock RF/%s, parity %s",
        file_rate, o.decode.rate, polarity, o.clock.c_str(), o.decode.parity ? "on" : "off");
  }
  return text;
}

HintFacts hint_facts(const Options& o, const DecodeStats& stats, int32_t peak, int32_t other_peak,
                     int32_t rate) {
  return {stats, peak, other_peak, o.channels[0], o.decode.invert, rate};
}

// The picture's line that says why nothing was read, when nothing was.
void plot_hint(const Options& o, PlotStretch& plot, const SoundFacts& facts,
               const DecodeStats& stats) {
  plot.hint.clear();
  if (plot.read_count == 0)
    plot.hint = failure_hint(hint_facts(o, stats, facts.peak, facts.other_peak, facts.file_rate));
}

void picture_failed(const std::string& picture, const std::string& problem) {
  std::fflush(stdout);
  std::fprintf(stderr, "tavrel-decode: %s: %s\n", picture.c_str(), problem.c_str());
}

// Draws what `plot` gathered of `file`; false when the picture could not be written.
bool draw_plot(const Options& o, PlotStretch& plot, const std::string& file,
               const SoundFacts& facts, const DecodeStats& stats) {
  plot_hint(o, plot, facts, stats);
  plot.facts = decode_facts(o, facts.file_rate);
  const std::string picture = picture_name(o.plot, file, o.files.size());
  const std::string problem = plot_draw(plot_layout(plot), picture, o.width, o.height);
  if (problem.empty()) return true;
  picture_failed(picture, problem);
  return false;
}

// The --plot-every picture of the stretch that ends with the samples decoded so far, at
// `seconds` of input; false when it could not be written.
bool draw_rolling(const Options& o, PlotStretch& plot, const Decoding& d, const SoundFacts& facts,
                  int64_t seconds) {
  plot_hint(o, plot, facts, d.stats);
  plot.facts = decode_facts(o, facts.file_rate);
  char name[32];
  std::snprintf(name, sizeof name, "plot-%06lld.png", static_cast<long long>(seconds));
  const std::string picture = (std::filesystem::path(o.plot_dir) / name).string();
  const std::string partial = (std::filesystem::path(o.plot_dir) / ".partial.png").string();
  std::string problem = plot_draw(plot_last(plot, d.fed), partial, o.width, o.height);
  if (problem.empty() && std::rename(partial.c_str(), picture.c_str()) != 0)
    problem = std::strerror(errno);
  if (problem.empty()) return true;
  picture_failed(picture, problem);
  return false;
}

// Where the reads of one input go: the log, JSON lines or one line per presentation, and
// the picture.
// The broker link of --mqtt, or null.
MqttSink* mqtt_link = nullptr;

struct ReadOutput {
  const Options& o;
  std::string input;   ///< the FILE as given, or "live"
  std::string reader;  ///< the reader's name
  bool timed;          ///< live or a stream: reads carry the wall-clock time
  PlotStretch* plot;   ///< or null
  bool program_logs;   ///< the program's path writes the log itself, as the program does
  ReaderTrack track;
  bool any = false;  ///< a tag was read
};

void take_read(ReadOutput& out, TagRead& read) {
  const Options& o = out.o;
  out.any = true;
  if (out.timed) wall_time_now(read.wall);
  const bool first = track_read(out.track, read, refresh_ms / 1e3);
  if (out.plot) plot_read(*out.plot, read);
  // --mqtt sends each presentation, whatever is written.
  if (first && mqtt_link)
    unattended_publish(*mqtt_link, out.reader, read_json(out.input, out.reader, read), read);
  // Several readers share the log: a line per presentation, named.
  const bool readers = o.channels.size() > 1;
  if ((o.first || (readers && !o.json)) && !first) return;
  if (o.json) {
    std::fputs((read_json(out.input, out.reader, read) + "\n").c_str(), stdout);
  } else if (readers) {
    std::printf("%s: %s\n", out.reader.c_str(), field_find(read.fields, "number")->text);
  } else if (o.first) {
    std::printf("%s\n", field_find(read.fields, "number")->text);
  } else if (!out.program_logs) {
    log_read(stdout, read);
  }
}

// Each reader of an input beyond the first: its decoding and where its reads go.
struct MoreReader {
  std::unique_ptr<Decoding> decoding;
  std::unique_ptr<ReadOutput> output;
};

// Whether the program's path writes its console log itself: then it does so whether or not
// its reads are watched.
bool program_logs(const Options& o) {
  return !o.decode.tolerant && !o.json && !o.first;
}

// Decodes file `index` of the command line (or the live input, for -1) as one run of
// the program.
FileOutcome decode_file(const Options& o, Decoding& d, int index, bool flush_each) {
  const std::string name = index < 0 ? "live" : o.files[static_cast<size_t>(index)];
  const char* file = name.c_str();
  const bool rolling = !o.plot_dir.empty();
  const bool plotting = !o.plot.empty() || rolling;
  const auto plot = std::make_unique<PlotStretch>();
  decoding_begin(d, o.decode);
  const PlotSetting setting{"", o.decode.rate, o.decode.invert, std::stoi(o.clock)};
  if (rolling) {
    plot_begin_rolling(*plot, name, setting, o.length);
  } else if (plotting) {
    plot_begin(*plot, name, setting, o.from, o.length);
  }
  if (plotting) {
    d.on_event = [&plot](const WatchEvent& event) { plot_event(*plot, event); };
    d.on_levels = [&plot](const LevelSpan& span) { plot_levels(*plot, span); };
    d.on_symbol = [&plot](const WatchedSymbol& symbol) { plot_symbol(*plot, symbol); };
    d.on_frame = [&plot](const WatchedFrame& frame) { plot_frame(*plot, frame); };
  }
  const bool timed = index < 0 || is_stream(file);
  ReadOutput output{o, name, o.readers[0], timed, plotting ? plot.get() : nullptr, program_logs(o),
                    {}};
  d.on_read = [&output](TagRead& read) { take_read(output, read); };
  // The other readers of the input: each channel decoded apart.
  std::vector<MoreReader> more(o.channels.size() - 1);
  std::vector<ChannelSink> more_sinks;
  for (size_t r = 0; r < more.size(); ++r) {
    MoreReader& m = more[r];
    m.decoding = std::make_unique<Decoding>();
    decoding_begin(*m.decoding, o.decode);
    m.output = std::make_unique<ReadOutput>(
        ReadOutput{o, name, o.readers[r + 1], timed, nullptr, false, {}});
    m.decoding->on_read = [&out = *m.output](TagRead& read) { take_read(out, read); };
    more_sinks.push_back({o.channels[r + 1], decoding_sink(*m.decoding)});
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
  if (plotting) {
    // The tolerant path decodes at the file's own rate: the stretch is placed at it.
    sink.start = [&d, &plot](int rate) {
      if (d.options.tolerant) plot_rate(*plot, rate);
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
  const int channel = o.channels[0];
  // Under -j the files keep the cores busy already: a reading thread would cost time.
  const bool read_ahead = !in_jobs(o);
  const std::string error = index < 0
                                ? unattended_read_live(o.unattended, channel, o.decode.tolerant,
                                                       sink, more_sinks, stop_requested, facts)
                                : read_sound(file, channel, static_cast<int>(o.decode.rate), o.raw,
                                             sink, facts, read_ahead, more_sinks);
  decoding_end(d);
  for (MoreReader& m : more) {
    decoding_end(*m.decoding);
    stats_add(d.stats, m.decoding->stats);
    output.any = output.any || m.output->any;
  }
  d.on_event = nullptr;
  d.on_levels = nullptr;
  d.on_symbol = nullptr;
  d.on_frame = nullptr;
  d.on_read = nullptr;
  // The program ends its last log line when it stops, also when nothing was read.
  if (facts.opened && !o.json && !o.first && o.channels.size() == 1) std::fputs("\n", stdout);
  // The program's path reads without its watch, too.
  const bool read = output.any || read_register.last_high.load() != -1;
  FileOutcome outcome{read, !error.empty(), d.stats, facts.peak, facts.other_peak, facts.file_rate};
  if (!error.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavrel-decode: %s: %s\n", file, error.c_str());
  }
  // Families asked for by name that this input cannot carry are said at once.
  if (const std::string line = unreadable_families(d.stats.tolerant.unreadable, facts.file_rate);
      !o.family_list.empty() && !line.empty() && !o.quiet) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavrel-decode: %s: %s\n", file, line.c_str());
  }
  if (o.stats && facts.opened) {
    std::fflush(stdout);
    const double seconds = static_cast<double>(facts.file_frames) / std::max(facts.file_rate, 1);
    char title[512];
    std::snprintf(title, sizeof title, "%s: %.3f s, %d channel%s, %s", file, seconds,
                  facts.channels, facts.channels == 1 ? "" : "s",
                  decode_facts(o, facts.file_rate).c_str());
    write_stats(stderr, title, facts,
                hint_facts(o, d.stats, facts.peak, facts.other_peak, facts.file_rate));
  }
  if (!o.plot.empty() && facts.opened && !draw_plot(o, *plot, name, facts, d.stats))
    outcome.failed = true;
  if (pictures_fail) outcome.failed = true;
  return outcome;
}

// The files in up to o.jobs processes; a file whose process ended while decoding it counts
// as failed. Sets `lost` to the errno of a failed write of standard output (-1: of unknown
// reason), or 0.
std::vector<FileOutcome> decode_in_jobs(const Options& o, Decoding& d, bool flush_each, int& lost) {
  const auto count = static_cast<int>(o.files.size());
  // Filled in only once the workers run: memory written here before they start would be
  // copied page by page as this process writes it again.
  std::vector<FileOutcome> outcomes;
  std::vector<bool> answered;
  const auto fill = [&] {
    if (!outcomes.empty()) return;
    outcomes.assign(o.files.size(), FileOutcome{false, true, {}, 0, -1, 0});
    answered.assign(o.files.size(), false);
  };
  lost = run_ordered_jobs(
      count, o.jobs,
      [&](int i) {
        const FileOutcome outcome = decode_file(o, d, i, flush_each);
        return std::string(reinterpret_cast<const char*>(&outcome), sizeof outcome);
      },
      [&](int i, std::string_view bytes) {
        fill();
        if (bytes.size() != sizeof(FileOutcome)) return;
        std::memcpy(&outcomes[static_cast<size_t>(i)], bytes.data(), sizeof(FileOutcome));
        answered[static_cast<size_t>(i)] = true;
      });
  fill();
  for (size_t i = 0; i < outcomes.size(); ++i) {
    if (!answered[i]) {
      std::fprintf(stderr, "tavrel-decode: %s: the decoding process ended abnormally\n",
                   o.files[i].c_str());
    }
  }
  return outcomes;
}

}  // namespace

int main(int argc, char** argv) {
  Cli cli;
  const Options o = parse(cli, argc, argv);
  console_setup();
  // Unless the program's path writes the log itself, as the program does, the reads go
  // through the tools' own sinks.
  std::FILE* null_sink = program_logs(o) ? nullptr : std::fopen("/dev/null", "w");
  if (null_sink) console_stream = null_sink;

  // Reads reach a pipe or a terminal as they happen, and any output as they happen when
  // the input is live or a stream; otherwise a file is written in big pieces.
  struct stat out_stat {};
  const bool streams = o.live || std::any_of(o.files.begin(), o.files.end(), is_stream);
  const bool flush_each =
      streams || fstat(STDOUT_FILENO, &out_stat) != 0 || !S_ISREG(out_stat.st_mode);

  // Each file is decoded as one run of the program, whichever process decodes it.
  const auto decoding = std::make_unique<Decoding>();
  std::vector<FileOutcome> outcomes;
  int lost = 0;  // errno of a failed write of standard output; -1 of unknown reason
  if (streams) catch_stop_signals();
  const auto mqtt = unattended_mqtt(cli, o.unattended, o.readers);
  mqtt_link = mqtt.get();
  if (o.live) {
    outcomes.push_back(decode_file(o, *decoding, -1, flush_each));
  } else if (in_jobs(o)) {
    outcomes = decode_in_jobs(o, *decoding, flush_each, lost);
  } else {
    for (size_t i = 0; i < o.files.size(); ++i) {
      outcomes.push_back(decode_file(o, *decoding, static_cast<int>(i), flush_each));
    }
  }
  console_stream = stdout;
  if (null_sink) std::fclose(null_sink);
  // Output that could not be written, to a full disk for one, is a failure, not a
  // success with less to read.
  if (std::fflush(stdout) != 0 && lost == 0) lost = errno;
  if (lost == 0 && std::ferror(stdout)) lost = -1;  // a write failed earlier, its reason gone
  if (lost != 0) {
    std::fprintf(stderr, "tavrel-decode: standard output: %s\n",
                 lost > 0 ? std::strerror(lost) : "could not be written in full");
  }

  // What waits for the broker is sent, or counted as lost.
  bool failed = lost != 0 || (mqtt && !unattended_mqtt_end(*mqtt, stop_requested.load()));
  bool read_any = false;
  const auto total = std::make_unique<DecodeStats>();
  SoundFacts seen;  ///< the largest peaks over all files
  int32_t rate = 0;
  for (const FileOutcome& outcome : outcomes) {
    failed = failed || outcome.failed;
    read_any = read_any || outcome.read;
    stats_add(*total, outcome.stats);
    seen.peak = std::max(seen.peak, outcome.peak);
    seen.other_peak = std::max(seen.other_peak, outcome.other_peak);
    rate = outcome.rate;
  }
  if (failed) return 2;
  if (read_any) return 0;
  if (!cli.quiet) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavrel-decode: no tag read: %s\n",
                 failure_hint(hint_facts(o, *total, seen.peak, seen.other_peak, rate)).c_str());
  }
  return 1;
}
