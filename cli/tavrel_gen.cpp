// tavrel-gen: sound files of synthesized tags, for the decoder tool, the tests, and for
// playing into the sound input to test the whole chain.

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "cli/cli.hpp"
#include "decode/half_bit_ring.hpp"
#include "frontend/level_slicer.hpp"
#include "lf/families/em4100.hpp"
#include "lf/family_table.hpp"
#include "synth/family_signal.hpp"
#include "synth/tag_signal.hpp"

using namespace tavrel;

namespace {

// The program's numbers, for the help texts.
std::string facts(const char* text) {
  char share[16];
  std::snprintf(share, sizeof share, "%.2f", high_threshold / 128.0);
  std::string families;
  for (int32_t i = 0; i < family_count; ++i) {
    const Family& f = *family_table[i];
    if (!family_renderable(f.modulation)) continue;
    families += "\n  " + std::string(f.name) + ":" + (f.encode ? f.encode_form : "RAW") + "  (" +
                f.title + ", RAW: " + std::to_string(f.frame_symbols / 4) + " hex digits)";
  }
  return cli_fill(text, {{"rate", std::to_string(sample_rate)},
                         {"threshold", std::to_string(high_threshold)},
                         {"threshold_share", share},
                         {"families", families}});
}

const std::string description =
    facts(R"(Writes the signal that a reader front end puts on the sound input while a tag is
in the field: its frame sent over and over. Several tags give a sequence, each for the given
time, with silence before each and after the last.

A TAG is an EM4100 tag's 40-bit ID as 10 hex digits (spaces, ':' and '-' between them are
ignored, so "84 00 04 39 16" and 8400043916 are the same tag), or FAMILY:RAW for a tag of
any family tavrel-decode reads: RAW is the "raw" of its JSON read, the frame's symbols in hex
from its first sync symbol, so that any read plays back as it came (em4100:FF8E40027C54B3D8
is tag 19004F246F). FAMILY:FORM takes the family's own form of a tag instead, as the list
below gives it. The frame must pass its family's checks. The families and their forms:
{families}

The default file is what Tavrel records: {rate} samples/s, 8-bit unsigned stereo, the
tag on the right channel and the left one silent. Play it into the sound input (for
example aplay tag.wav with a cable from the output to the line input, or a loopback
device) to test the whole chain, or decode it with tavrel-decode.)");

const ToolText tool_text = {
    "tavrel-gen",
    "write a sound file of proximity tags for Tavrel to read",
    "TAG...",
    description.c_str(),
    R"(0 when the file was written, 1 when it could not be, 2 when the command line is
wrong.)",
    R"(tavrel-gen 8400043916
tavrel-gen -o noisy.flac --bits 16 --noise 0.05 --jitter 2 -s 10 8400043916
tavrel-gen -o three.wav 0100000001 0200000002 0300000003
tavrel-gen -o fob.wav em4100:FF8E40027C54B3D8)",
};

// One tag of the sequence.
struct Tag {
  const Family* family;
  FrameBits frame;
};

struct Options {
  TagSignalOptions signal;
  std::vector<Tag> tags;
  std::vector<std::string> id_texts;
  std::string output;
  double seconds = 2.0;
  double gap = 0.5;
  double rate_given = sample_rate;
  int rate = sample_rate;  ///< samples per second
  std::string bits = "8";
  bool mono = false;
  std::string channel = "right";
  std::string parity_error;
  std::string clock;  ///< RF/n, or empty: each family's own
  uint64_t flip = 0;  ///< EM4100 frame bits flipped in every frame
  double seed_given = 1;
  unsigned seed = 1;
};

// A TAG: FAMILY:RAW, FAMILY:FORM, or an EM4100 ID; "" or what is wrong with it.
std::string parse_tag(const std::string& text, Tag& tag) {
  const size_t colon = text.find(':');
  const Family* family = colon == std::string::npos ? nullptr : family_named(text.substr(0, colon));
  if (!family) {
    // A bare ID is EM4100's, whose own form allows ':' between the digits.
    tag.family = &family_em4100;
    return family_em4100.encode(text.c_str(), tag.frame)
               ? ""
               : "a TAG is 10 hex digits or FAMILY:RAW, not " + text +
                     " (--help lists the families)";
  }
  // A family may have a row per frame length: the one whose RAW or form this is.
  const std::string rest = text.substr(colon + 1);
  FrameBits frame{};
  const bool hex = frame_from_hex(rest.c_str(), frame);
  std::string forms;
  for (int32_t i = 0; i < family_count; ++i) {
    const Family& f = *family_table[i];
    if (f.name != family->name) continue;
    if (hex && frame.count == f.frame_symbols) {
      Fields fields{};
      const Verdict verdict = f.decode(frame, fields);
      if (verdict != frame_passed)
        return text + " is no " + f.title + " frame: it fails its " + f.reasons[verdict] + " check";
      tag = {&f, frame};
      return "";
    }
    if (f.encode && f.encode(rest.c_str(), tag.frame)) {
      tag.family = &f;
      return "";
    }
    forms += std::string(forms.empty() ? "" : ", ") + std::to_string(f.frame_symbols / 4) +
             " hex digits" + (f.encode ? std::string(" or ") + f.encode_form : "");
  }
  return std::string(family->name) + ":" + rest + " is no " + family->title + " tag: give " + forms;
}

// The options, in the order of the help text.
void declare(Cli& cli, Options& o) {
  CLI::App& app = cli.app;
  cli_file(
      cli, "-o,--output", o.output,
      R"(The file to write (default: the first tag's ID, or FAMILY-RAW, followed by ".wav"). The name's ending
chooses the format: .flac FLAC, .aif or .aiff AIFF, .au AU, .raw headerless samples,
anything else WAV.)");
  cli_number(cli, "-s,--seconds", o.seconds, 0, 86400, "S",
             "How long each tag is sent (default 2).");
  cli_number(cli, "--gap", o.gap, 0, 86400, "S",
             "Silence before each tag and after the last (default 0.5).");
  cli_number(cli, "--rate", o.rate_given, 8000, 768000, "HZ",
             facts("Samples per second (default {rate})."));
  cli_choice(cli, "--bits", o.bits, {"8", "16", "24", "float"},
             R"(Sample format (default 8: unsigned in WAV and raw files, signed in FLAC, AIFF
and AU). The signal has 8-bit resolution whatever the format.)");
  app.add_flag("--mono", o.mono, "One channel instead of two.");
  cli_choice(cli, "--channel", o.channel, {"left", "right"},
             "The channel that carries the signal in a stereo file (default right).");
  app.add_flag("--invert", o.signal.invert, "Send the signal upside down.");
  cli_number(cli, "--amplitude", o.signal.amplitude, 0, 1, "A",
             facts(R"(Peak deviation from the middle level, as a fraction of full scale (default
0.4; Tavrel's thresholds lie at {threshold}/128, about {threshold_share}).)"));
  cli_number(cli, "--dc-offset", o.signal.dc_offset, -1, 1, "D",
             "Shift of the whole signal, fraction of full scale (default 0).");
  cli_number(cli, "--noise", o.signal.noise, 0, 1, "N",
             "Standard deviation of added Gaussian noise, fraction of full scale (default 0).");
  cli_number(cli, "--jitter", o.signal.jitter, 0, 1000, "J",
             "Largest random shift of each edge, in samples (default 0).");
  cli_choice(cli, "--parity-error", o.parity_error, {"row", "column"},
             R"(Flip the parity bit of data row 0 or of column 0 in every frame of an EM4100
tag: Tavrel must not read such a tag while its parity tests are on.)");
  cli_choice(cli, "--clock", o.clock, {"64", "50", "40", "32", "16"},
             R"(The tag's data rate as a divider of the 125 kHz field (default: the family's
own, 64 for EM4100: 1953.125 bits/s). Faster tags need a higher --rate to keep their edges.)");
  cli_number(cli, "--seed", o.seed_given, 0, 4294967295.0, "N",
             "Seed of the noise and jitter (default 1).");
  app.add_option("TAG", o.id_texts, "Tags: EM4100 IDs of 10 hex digits, or FAMILY:RAW.");
}

Options parse(Cli& cli, int argc, char** argv) {
  Options o;
  cli_begin(cli, tool_text);
  declare(cli, o);
  cli_parse(cli, std::vector<std::string>(argv + 1, argv + argc));
  for (const auto& t : o.id_texts) {
    Tag tag{};
    if (const std::string problem = parse_tag(t, tag); !problem.empty())
      cli_usage_error(cli, problem);
    if (!family_renderable(tag.family->modulation))
      cli_usage_error(cli, std::string(tag.family->title) + " tags cannot be written yet");
    const auto& rates = tag.family->rates;
    if (!o.clock.empty() &&
        std::find(std::begin(rates), std::end(rates), std::stoi(o.clock)) == std::end(rates))
      cli_usage_error(cli, std::string(tag.family->title) + " tags are not sent at RF/" + o.clock);
    o.tags.push_back(tag);
  }
  if (o.tags.empty()) cli_usage_error(cli, "no TAG given");
  if (!o.parity_error.empty()) {
    for (const Tag& tag : o.tags)
      if (tag.family != &family_em4100)
        cli_usage_error(cli, "--parity-error flips bits of EM4100 frames only");
    o.flip = frame_bit(o.parity_error == "row" ? 13 : 59);
  }
  if (o.output.empty()) {
    // An EM4100 tag by its ID, as people write it; others by family and frame.
    const Tag& first = o.tags[0];
    char name[max_frame_symbols / 4 + 16];
    if (first.family == &family_em4100) {
      std::snprintf(name, sizeof name, "%010llX",
                    static_cast<unsigned long long>(frame_data(first.frame.words[0])));
    } else {
      const int n = std::snprintf(name, sizeof name, "%s-", first.family->name);
      frame_hex(first.frame, name + n);
    }
    o.output = std::string(name) + ".wav";
  }
  o.rate = static_cast<int>(o.rate_given);
  o.seed = static_cast<unsigned>(o.seed_given);
  return o;
}

// libsndfile's own words for a failed write say little when the disk is full: the
// system's reason, when it left one, says more.
std::string write_failure(SNDFILE* file) {
  if (errno != 0) return std::strerror(errno);
  return sf_strerror(file);
}

// The container from the file name's ending, the sample format from --bits.
int file_format(const Options& o) {
  const size_t dot = o.output.rfind('.');
  std::string ending = dot == std::string::npos ? "" : o.output.substr(dot + 1);
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  int major = SF_FORMAT_WAV;
  if (ending == "flac") major = SF_FORMAT_FLAC;
  if (ending == "aif" || ending == "aiff") major = SF_FORMAT_AIFF;
  if (ending == "au") major = SF_FORMAT_AU;
  if (ending == "raw") major = SF_FORMAT_RAW;
  const bool unsigned8 = major == SF_FORMAT_WAV || major == SF_FORMAT_RAW;
  int sub = unsigned8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8;
  if (o.bits == "16") sub = SF_FORMAT_PCM_16;
  if (o.bits == "24") sub = SF_FORMAT_PCM_24;
  if (o.bits == "float") sub = SF_FORMAT_FLOAT;
  return major | sub;
}

// The signal channel, streamed: for each tag its gap of silence, then the tag.
bool render(const Options& o, const SignalSink& sink) {
  const auto samples = [&](double seconds) { return seconds_to_samples(seconds, o.rate); };
  for (size_t k = 0; k < o.tags.size(); ++k) {
    const Tag& tag = o.tags[k];
    TagSignal signal{o.signal};
    const int clock = o.clock.empty() ? tag.family->rates[0] : std::stoi(o.clock);
    signal.options.bit_samples = clock_bit_samples(o.rate, clock);
    signal.random.seed(o.seed + static_cast<unsigned>(k));
    FrameBits frame = tag.frame;
    if (o.flip) frame.words[0] ^= o.flip;
    if (!render_silence(signal, samples(o.gap), sink) ||
        !render_family(signal, *tag.family, frame, samples(o.seconds), sink)) {
      return false;
    }
    if (k + 1 == o.tags.size() && !render_silence(signal, samples(o.gap), sink)) return false;
  }
  return true;
}

// Writes 8-bit samples as 16-bit ones, which libsndfile converts to any format without
// loss: (v - 128) * 256 comes back as v from an 8-bit file and as (v - 128) / 128 as float.
bool write_file(const Options& o) {
  SF_INFO info{};
  info.samplerate = o.rate;
  info.channels = o.mono ? 1 : 2;
  info.format = file_format(o);
  if (!sf_format_check(&info)) {
    std::fprintf(stderr, "tavrel-gen: %s: this file type cannot hold --bits %s samples\n",
                 o.output.c_str(), o.bits.c_str());
    return false;
  }
  errno = 0;
  SNDFILE* file = sf_open(o.output.c_str(), SFM_WRITE, &info);
  if (!file) {
    std::fprintf(stderr, "tavrel-gen: %s: %s\n", o.output.c_str(), write_failure(nullptr).c_str());
    return false;
  }
  std::vector<short> frames;
  const size_t signal_channel = o.mono || o.channel == "left" ? 0 : 1;
  const SignalSink write = [&](const uint8_t* signal, int32_t n) {
    frames.resize(static_cast<size_t>(n) * static_cast<size_t>(info.channels));
    for (int32_t i = 0; i < n; ++i) {
      const auto v = static_cast<short>((signal[i] - 128) * 256);
      if (o.mono) {
        frames[static_cast<size_t>(i)] = v;
      } else {
        frames[2 * static_cast<size_t>(i) + signal_channel] = v;
        frames[2 * static_cast<size_t>(i) + 1 - signal_channel] = 0;
      }
    }
    return sf_writef_short(file, frames.data(), n) == n;
  };
  errno = 0;
  bool ok = render(o, write);
  std::string failure = ok ? "" : write_failure(file);
  // Closing writes the header's final sizes and what libsndfile still holds.
  if (sf_close(file) != 0 && ok) {
    ok = false;
    failure = write_failure(nullptr);
  }
  if (!ok) std::fprintf(stderr, "tavrel-gen: %s: %s\n", o.output.c_str(), failure.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Cli cli;
  const Options o = parse(cli, argc, argv);
  try {
    return write_file(o) ? 0 : 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tavrel-gen: %s: out of memory\n", o.output.c_str());
    return 1;
  }
}
