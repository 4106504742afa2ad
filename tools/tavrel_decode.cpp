// tavrel-decode: recordings through the program's own decoding path, block by block as
// the capture worker feeds it, so a recording gives the reads the live program would.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "decode/read_register.hpp"
#include "platform/console.hpp"
#include "tools/decode_run.hpp"
#include "tools/read_report.hpp"
#include "tools/sound_in.hpp"

using namespace tavrel;

namespace {

constexpr const char* help_text = R"(NAME
    tavrel-decode - read proximity tag IDs from sound recordings

SYNOPSIS
    tavrel-decode [--json] [--stats] [--channel left|right] [--invert [auto]]
                  [--no-parity] [--clock 64|32|16] [--raw] FILE...

DESCRIPTION
    Decodes each FILE (WAV, FLAC, AIFF and whatever else libsndfile reads; any sample
    rate; 8, 16 or 24 bits or float) the way Tavrel decodes its sound input: the chosen
    channel is converted to 48000 samples/s and 8-bit unsigned samples, cut into blocks
    of 12000 samples with the last 100 of each block carried into the next, and every
    block is sliced and searched for 64-bit EM4100 frames on its own. A recording
    therefore gives the same reads as the live program would.

    By default the output is Tavrel's console log, byte for byte: each new tag starts a
    line "id_high.id_low", repeated reads rewrite it with "\r" and a running count, and
    the log ends with a line end. Each FILE is decoded as one run of the program.

OPTIONS
    --json
        Instead of the log, write one JSON object per read, one per line:
          file        the FILE as given
          time        seconds from the start of the recording to the end of the
                      frame's last half-bit
          id          the full tag ID, 10 hex digits (data rows 0 to 9)
          id_high, id_low
                      the two 16-bit numbers Tavrel shows (rows 2-5 and 6-9)
          repeat      the repeat count after this read (0 for a new tag)
          inverted    whether the read came from the inverted signal
          number      "id_high.id_low", as Tavrel shows it
          dec32       the low 32 bits of the ID in decimal, 10 digits
          dec24       the low 24 bits in decimal, 8 digits
          wiegand26   {"facility": bits 23..16, "card": bits 15..0}

    --stats
        Write diagnostics for each FILE to standard error: signal level percentiles,
        a histogram of run lengths in samples (8..19 are one half-bit, 20..32 two,
        others are dropped), how many frame tests failed at the header, the Manchester
        test, a row parity and a column parity, and a hint when nothing was read.

    --channel left|right
        The channel that carries the tag signal (default: right, as in Tavrel). A
        one-channel file is decoded whatever this says.

    --invert
        Take the signal upside down, as the "Invert Signal" box does.

    --invert auto
        Slice every block in both polarities. Safe while the parity tests are on: an
        upside-down frame fails every row parity. Reads of the inverted pass of a block
        come after those of the normal pass.

    --no-parity
        Skip the row and column parity tests, as clearing "CRC Check" does. Then any
        window of nine 1 bits and clean Manchester code is read: a tag whose first data
        bit is 1 also gives the number of the window one bit later, and --invert auto
        may read numbers from the upside-down signal.

    --clock 64|32|16
        The tag's data rate as a divider of the 125 kHz field (default 64). For 32 and
        16 the recording is converted to 96000 or 192000 samples/s, so that its runs
        fall into the same windows as those of an RF/64 tag at 48000/s. The recording
        must be made at a rate high enough to keep the edges of the faster signal: at
        least 96000/s for RF/32 and 192000/s for RF/16 is safe.

    --raw
        The FILEs have no header and hold 8-bit unsigned stereo samples at 48000/s,
        left then right, as Tavrel records (and as `tavrel-gen -o NAME.raw` writes).

    -h, --help
        Show this text.

EXIT STATUS
    0   at least one tag was read
    1   no tag was read
    2   a FILE could not be read, or was cut short (the message on standard error names
        it; the other files are still decoded and a cut file's samples are decoded up
        to the cut), or the command line is wrong

EXAMPLES
    tavrel-decode recording.wav
    tavrel-decode --json --invert auto *.flac | jq -r .id
    tavrel-decode --stats --channel left quiet.wav
)";

struct Options {
  DecodeOptions decode;
  bool json = false;
  bool stats = false;
  int channel = 1;
  int clock = 64;
  bool raw = false;
  std::vector<const char*> files;
};

[[noreturn]] void usage_error(const char* message, const char* what) {
  std::fprintf(stderr, "tavrel-decode: %s%s\nTry 'tavrel-decode --help'.\n", message, what);
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage_error("missing value after ", argv[i]);
      return argv[++i];
    };
    if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
      o.files.push_back(argv[i]);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(help_text, stdout);
      std::exit(0);
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--stats") {
      o.stats = true;
    } else if (arg == "--raw") {
      o.raw = true;
    } else if (arg == "--no-parity") {
      o.decode.parity = false;
    } else if (arg == "--invert" || arg == "--invert=auto") {
      const bool automatic =
          arg == "--invert=auto" || (i + 1 < argc && std::strcmp(argv[i + 1], "auto") == 0);
      if (automatic && arg == "--invert") ++i;
      o.decode.invert = automatic ? invert_auto : 1;
    } else if (arg == "--channel") {
      const std::string c = value();
      if (c != "left" && c != "right")
        usage_error("--channel takes left or right, not ", c.c_str());
      o.channel = c == "left" ? 0 : 1;
    } else if (arg == "--clock") {
      const std::string c = value();
      if (c != "64" && c != "32" && c != "16")
        usage_error("--clock takes 64, 32 or 16, not ", c.c_str());
      o.clock = std::stoi(c);
    } else {
      usage_error("unknown option ", argv[i]);
    }
  }
  if (o.files.empty()) usage_error("no FILE given", "");
  o.decode.rate = 48000.0 * 64 / o.clock;
  o.decode.watch = o.json || o.stats;
  o.decode.levels = o.stats;
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  console_setup();
  std::FILE* null_sink = nullptr;
  if (o.json) {
    // The log is not wanted, but the decoding path writes it all the same.
    null_sink = std::fopen("/dev/null", "w");
    if (null_sink) console_stream = null_sink;
  }

  bool failed = false;
  bool read_any = false;
  const auto decoding = std::make_unique<Decoding>();
  Decoding& d = *decoding;
  for (const char* file : o.files) {
    decoding_begin(d, o.decode);
    if (o.json) {
      d.on_read = [file](const Read& read) {
        std::fputs((read_json(file, read) + "\n").c_str(), stdout);
      };
    }
    SoundFacts facts;
    const std::string error = read_sound(
        file, o.channel, static_cast<int>(o.decode.rate), o.raw,
        [&d](const uint8_t* samples, int32_t n) { decoding_take(d, samples, n); }, facts);
    decoding_end(d);
    // The program ends its last log line when it stops, also when nothing was read.
    if (facts.opened) console_print("\n");
    if (read_register.last_high.load() != -1) read_any = true;
    if (!error.empty()) {
      std::fflush(stdout);
      std::fprintf(stderr, "tavrel-decode: %s: %s\n", file, error.c_str());
      failed = true;
    }
    if (o.stats && facts.opened) {
      std::fflush(stdout);
      write_stats(stderr, file, facts, o.decode, d.stats);
    }
  }
  if (null_sink) std::fclose(null_sink);
  return failed ? 2 : read_any ? 0 : 1;
}
