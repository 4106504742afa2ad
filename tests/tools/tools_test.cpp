// tavrel-gen and tavrel-decode run as a user runs them, on files they write.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "capture/wave_capture.hpp"
#include "decode/read_register.hpp"
#include "frontend/level_slicer.hpp"
#include "frontend/slice_pass.hpp"
#include "io/sound_in.hpp"
#include "lf/family_table.hpp"
#include "report/sinks.hpp"
#include "synth/tag_signal.hpp"
#include "tavrel_version.hpp"
#include "tests/support/console_capture.hpp"

namespace tavrel {
namespace {

constexpr const char* decode_tool = TAVREL_DECODE_PATH;
constexpr const char* gen_tool = TAVREL_GEN_PATH;
constexpr double frame_seconds = 64 * default_bit_samples / sample_rate;  // 0.032768

struct Result {
  int status;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The value of "name" in a one-line JSON object (or in its wiegand26 object), as text.
std::string field(const std::string& line, const std::string& name) {
  const auto json = nlohmann::json::parse(line);
  const auto& object = json.contains(name) ? json : json.value("wiegand26", nlohmann::json{});
  if (!object.contains(name)) return "<missing>";
  const auto& value = object[name];
  return value.is_string() ? value.get<std::string>() : value.dump();
}

class Tools : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "tavrel_tools_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern + "/";
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::string path(const std::string& name) const { return dir + name; }

  // Runs `tool` with `args` in the shell, in `cwd` when one is given.
  Result run(const char* tool, const std::string& args, const std::string& cwd = "") const {
    const std::string out = path("stdout");
    const std::string err = path("stderr");
    const std::string command = (cwd.empty() ? "" : "cd '" + cwd + "' && ") + "'" + tool + "' " +
                                args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
  }

  // Writes a tag file with tavrel-gen; `args` come before the IDs.
  void gen(const std::string& name, const std::string& args, const std::string& ids) const {
    const Result r = run(gen_tool, "-o '" + path(name) + "' " + args + " " + ids);
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // The IDs of the JSON reads in order, repeats of the same tag folded.
  static std::vector<std::string> read_ids(const std::string& json) {
    std::vector<std::string> ids;
    for (const auto& line : lines(json)) {
      const std::string id = field(line, "id");
      if (ids.empty() || ids.back() != id) ids.push_back(id);
    }
    return ids;
  }

  std::string dir;
};

std::string hex_id(uint64_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%010llX", static_cast<unsigned long long>(id));
  return text;
}

TEST_F(Tools, ConsoleLogIsByteForByteWhatTheWorkerLoopWrites) {
  // Two tags with noise and jitter, written here, not by tavrel-gen.
  TagSignal signal;
  signal.options.noise = 0.04;
  signal.options.jitter = 1.5;
  std::vector<uint8_t> right;
  append_silence(signal, 5000, right);
  append_frames(signal, tag_frame(0x84'0004'3916), 40, right);
  append_frames(signal, tag_frame(0x01'FFFF'0000), 40, right);
  append_silence(signal, 777, right);
  const std::vector<uint8_t> stereo = to_stereo(right);
  SF_INFO info{sample_rate, sample_rate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 0, 0};
  SNDFILE* file = sf_open(path("two.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  sf_write_raw(file, stereo.data(), static_cast<sf_count_t>(stereo.size()));
  sf_close(file);

  // The worker's loop over the same samples, whole blocks and the last one short.
  decode_restart();
  test::ConsoleCapture console;
  test::console_capture_start(console);
  const auto buffers = std::make_unique<ChannelBuffers>();
  buffers->carry = 0;
  for (size_t at = 0; at < right.size(); at += block_frames) {
    const auto n = static_cast<int32_t>(std::min<size_t>(block_frames, right.size() - at));
    std::copy_n(right.begin() + static_cast<ptrdiff_t>(at), n, buffers->right + buffers->carry);
    slice_pass(*buffers, n, 0);
  }
  const std::string expected = test::console_capture_text(console) + "\n";
  test::console_capture_stop(console);

  const Result r = run(decode_tool, "'" + path("two.wav") + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
  EXPECT_NE(expected.find("\n4.14614\r4.14614 - 0      "), std::string::npos);
  EXPECT_NE(expected.find("\n65535.0"), std::string::npos);
}

TEST_F(Tools, RoundTripsRandomIdsInBothPolaritiesAndWithNoise) {
  std::mt19937_64 random(2024);
  int file = 0;
  for (const bool invert : {false, true}) {
    for (const char* noise : {"0", "0.05", "0.1"}) {
      std::vector<std::string> ids;
      std::string args;
      for (int k = 0; k < 8; ++k) {
        ids.push_back(hex_id(random() & 0xFF'FFFF'FFFF));
        args += " " + ids.back();
      }
      const std::string name = "round" + std::to_string(file++) + ".wav";
      gen(name,
          std::string("-s 0.6 --gap 0.3 --jitter 1 --noise ") + noise +
              (invert ? " --invert" : "") + " --seed " + std::to_string(file),
          args);
      const Result r =
          run(decode_tool, std::string("--json ") + (invert ? "--invert " : "") + path(name));
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(read_ids(r.out), ids) << "noise " << noise << (invert ? ", inverted" : "");
    }
  }
}

// A read's raw plays back as FAMILY:RAW and reads as the same frame of the same family.
TEST_F(Tools, EveryFamilysReadPlaysBackFromItsRaw) {
  for (int32_t t = 0; t < family_count; ++t) {
    const Family& family = *family_table[t];
    SCOPED_TRACE(family.title);
    FrameBits frame{};
    ASSERT_TRUE(example_frame(family, frame));
    char raw[max_frame_symbols / 4 + 1];
    frame_hex(frame, raw);
    const std::string name = std::string(family.name) + std::to_string(t) + ".wav";
    gen(name, "-s 1", std::string(family.name) + ":" + raw);
    const Result r = run(decode_tool, "--robust --json " + path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto reads = lines(r.out);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(field(reads[0], "family"), family.name);
    EXPECT_EQ(field(reads[0], "raw"), raw);
  }
}

TEST_F(Tools, JsonCarriesTheNumberInTheFormsPrintedOnCards) {
  gen("known.wav", "-s 1", "'84 00 04 39 16'");
  const Result r = run(decode_tool, "--json " + path("known.wav"));
  ASSERT_EQ(r.status, 0) << r.err;
  const auto reads = lines(r.out);
  ASSERT_GE(reads.size(), 20u);
  const std::string& first = reads[0];
  EXPECT_EQ(field(first, "file"), path("known.wav"));
  EXPECT_EQ(field(first, "id"), "8400043916");
  EXPECT_EQ(field(first, "id_high"), "4");
  EXPECT_EQ(field(first, "id_low"), "14614");
  EXPECT_EQ(field(first, "number"), "4.14614");
  EXPECT_EQ(field(first, "dec32"), "0000276758");
  EXPECT_EQ(field(first, "dec24"), "00276758");
  EXPECT_EQ(field(first, "facility"), "4");
  EXPECT_EQ(field(first, "card"), "14614");
  EXPECT_EQ(field(first, "inverted"), "false");
  for (size_t k = 0; k < reads.size(); ++k) EXPECT_EQ(field(reads[k], "repeat"), std::to_string(k));

  // The forms for the largest ID, where a sign or a short width would show.
  FrameBits top{};
  ASSERT_TRUE(family_em4100.encode("FFFFFFFFFF", top));
  Fields f{};
  ASSERT_EQ(family_em4100.decode(top, f), frame_passed);
  const auto text = [&f](const char* name) { return std::string(field_find(f, name)->text); };
  EXPECT_EQ(text("id"), "FFFFFFFFFF");
  EXPECT_EQ(text("dec32"), "4294967295");
  EXPECT_EQ(text("dec24"), "16777215");
  EXPECT_EQ(text("number"), "65535.65535");
  EXPECT_EQ(field_find(f, "wiegand26.facility")->integer, 255);
  EXPECT_EQ(field_find(f, "wiegand26.card")->integer, 65535);
}

TEST_F(Tools, ReadTimesFallOnFrameEndsAcrossBlocksAndPolarities) {
  // The tag starts after 0.5 s of silence; frame k ends at 0.5 + (k + 1) * frame_seconds.
  gen("timed.wav", "-s 2 --gap 0.5", "8400043916");
  gen("timed_inv.wav", "-s 2 --gap 0.5 --invert", "8400043916");
  for (const char* name : {"timed.wav", "timed_inv.wav"}) {
    const Result r = run(decode_tool, std::string("--json --invert auto ") + path(name));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<int> blocks_with_reads(12, 0);
    for (const auto& line : lines(r.out)) {
      const double t = std::stod(field(line, "time"));
      const double frames = (t - 0.5) / frame_seconds;
      EXPECT_NEAR(frames, std::round(frames), 0.01) << line;
      ++blocks_with_reads.at(static_cast<size_t>(t / 0.25));
    }
    // Every block the tag fills completely gives reads.
    for (int b = 3; b < 10; ++b) EXPECT_GT(blocks_with_reads[b], 0) << name << " block " << b;
  }
}

TEST_F(Tools, InvertAutoReadsEachPolarityOnce) {
  gen("normal.wav", "-s 1", "0A0B0C0D0E");
  gen("upside.wav", "-s 1 --invert", "0102030405");
  const std::string both = path("normal.wav") + " " + path("upside.wav");

  Result r = run(decode_tool, "--json --invert auto " + both);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_ids(r.out), (std::vector<std::string>{"0A0B0C0D0E", "0102030405"}));
  for (const auto& line : lines(r.out)) {
    EXPECT_EQ(field(line, "inverted"), field(line, "id") == "0102030405" ? "true" : "false");
  }
  // The same count of reads as with the right fixed polarity: nothing is read twice.
  const size_t fixed = lines(run(decode_tool, "--json " + path("normal.wav")).out).size() +
                       lines(run(decode_tool, "--json --invert " + path("upside.wav")).out).size();
  EXPECT_EQ(lines(r.out).size(), fixed);

  r = run(decode_tool, "--json " + path("upside.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

TEST_F(Tools, FasterClocksReadOnlyWithTheMatchingClock) {
  gen("rf32.wav", "-s 1 --clock 32 --rate 96000", "8400043916");
  gen("rf32_48k.wav", "-s 1 --clock 32", "8400043916");
  gen("rf16.wav", "-s 1 --clock 16 --rate 192000", "8400043916");
  for (const char* name : {"rf32.wav", "rf32_48k.wav"}) {
    const Result r = run(decode_tool, std::string("--json --clock 32 ") + path(name));
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(read_ids(r.out), std::vector<std::string>{"8400043916"}) << name;
    // Times count seconds of the recording, not samples of the converted rate.
    EXPECT_LT(std::stod(field(lines(r.out).back(), "time")), 1.5);
    EXPECT_EQ(run(decode_tool, path(name)).status, 1) << name << " read at RF/64";
  }
  EXPECT_EQ(run(decode_tool, "--clock 16 " + path("rf16.wav")).status, 0);
  EXPECT_EQ(run(decode_tool, "--clock 32 " + path("rf16.wav")).status, 1);
}

TEST_F(Tools, ParityErrorsAreReadOnlyWithoutParityTests) {
  // First data bit 0: without the parity tests, a first data bit of 1 would also let the
  // window one bit later pass the header and give a second number.
  gen("badrow.wav", "-s 1 --parity-error row", "4400043916");
  gen("badcol.wav", "-s 1 --parity-error column", "4400043916");
  for (const char* name : {"badrow.wav", "badcol.wav"}) {
    EXPECT_EQ(run(decode_tool, path(name)).status, 1) << name;
    const Result r = run(decode_tool, std::string("--json --no-parity ") + path(name));
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(read_ids(r.out), std::vector<std::string>{"4400043916"}) << name;
  }
}

TEST_F(Tools, OneFlippedBitNeverGivesANumber) {
  // Every tag of the table sent three times with one bit flipped, through the tool: parity
  // and the stop bit must catch each, including the windows a run of 1 bits opens late.
  TagSignal signal;
  std::vector<uint8_t> right;
  std::mt19937_64 random(11);
  for (uint64_t nibble = 0; nibble < 16; ++nibble) {
    const uint64_t bits = tag_frame(nibble << 36 | (random() & 0xF'FFFF'FFFF));
    for (int position = 9; position < 64; ++position) {
      append_frames(signal, bits ^ frame_bit(position), 3, right);
      append_silence(signal, 200, right);
    }
  }
  const std::vector<uint8_t> stereo = to_stereo(right);
  std::ofstream(path("flips.raw"), std::ios::binary)
      .write(reinterpret_cast<const char*>(stereo.data()),
             static_cast<std::streamsize>(stereo.size()));
  const Result r = run(decode_tool, "--raw --json " + path("flips.raw"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");

  // A broken row parity on a tag whose first data bits are 1.
  gen("badrow_f.wav", "-s 2 --parity-error row", "F042F9A039");
  EXPECT_EQ(run(decode_tool, "--json " + path("badrow_f.wav")).out, "");
}

TEST_F(Tools, ReadsOtherRatesSampleFormatsContainersAndChannels) {
  struct Case {
    const char* name;
    const char* gen_args;
    const char* decode_args;
  };
  for (const Case c : {Case{"r44.wav", "--rate 44100 --bits 16", ""},
                       {"r96.flac", "--rate 96000 --bits 24", ""},
                       {"r22.wav", "--rate 22050 --bits float --noise 0.02", ""},
                       {"offset.wav", "--dc-offset 0.1 --amplitude 0.35", ""},
                       {"mono.aiff", "--mono", "--channel left"},
                       {"left.wav", "--channel left", "--channel left"},
                       {"cap.raw", "", "--raw"}}) {
    gen(c.name, std::string("-s 1 ") + c.gen_args, "FEDCBA9876");
    const Result r = run(decode_tool, std::string("--json ") + c.decode_args + " " + path(c.name));
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(read_ids(r.out), std::vector<std::string>{"FEDCBA9876"}) << c.name;
  }
  // The tag on the left, the right channel analysed as in the program: nothing.
  EXPECT_EQ(run(decode_tool, path("left.wav")).status, 1);
}

TEST_F(Tools, UnreadableFilesFailWithTheirNameAndTheOthersAreStillDecoded) {
  gen("good.wav", "-s 1", "8400043916");
  gen("cut.wav", "-s 2", "0102030405");
  gen("cut.flac", "-s 2", "0102030405");
  std::filesystem::resize_file(path("cut.wav"), std::filesystem::file_size(path("cut.wav")) / 2);
  std::filesystem::resize_file(path("cut.flac"), std::filesystem::file_size(path("cut.flac")) / 2);
  std::ofstream(path("empty.wav")).close();
  std::ofstream(path("notes.wav")) << "not a recording\n";
  const std::string header("RIFF\x24\x00\x00\x00WAVEfmt ", 16);  // cut inside the header
  std::ofstream(path("header.wav"), std::ios::binary) << header;

  const std::vector<std::string> bad = {"missing.wav", "empty.wav", "notes.wav",
                                        "header.wav",  "cut.wav",   "cut.flac"};
  std::string args = "--json";
  for (const auto& name : bad) args.append(" ").append(path(name));
  const Result r = run(decode_tool, args + " " + path("good.wav"));
  EXPECT_EQ(r.status, 2);
  const auto messages = lines(r.err);
  ASSERT_EQ(messages.size(), bad.size()) << r.err;
  for (size_t k = 0; k < bad.size(); ++k) {
    EXPECT_EQ(messages[k].rfind("tavrel-decode: " + path(bad[k]) + ": ", 0), 0u) << messages[k];
  }
  // What lies before a cut is still decoded, and so is the good file.
  std::vector<std::string> files;
  for (const auto& line : lines(r.out)) {
    const std::string file = field(line, "file");
    if (files.empty() || files.back() != file) files.push_back(file);
  }
  EXPECT_EQ(files, (std::vector<std::string>{path("cut.wav"), path("cut.flac"), path("good.wav")}));

  EXPECT_EQ(run(decode_tool, path("missing.wav")).out, "") << "no log for a file never opened";
}

// The count after a label in the diagnostics.
int64_t stat_count(const std::string& stats, const std::string& label) {
  const size_t at = stats.find(label);
  if (at == std::string::npos) return -1;
  return std::stoll(stats.substr(at + label.size()));
}

// read_sound's message for `file`, in a child process that is not root, so that file
// permissions apply.
std::string sound_error(const std::string& file) {
  int link[2];
  if (pipe(link) != 0) return "<no pipe>";
  const pid_t child = fork();
  if (child == 0) {
    close(link[0]);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(1);
    SampleSink sink{[](const uint8_t*, int32_t) {}, nullptr, nullptr, nullptr, nullptr};
    static uint8_t room[4096];
    sink.room = [](int32_t& n) {
      n = sizeof room;
      return room;
    };
    sink.filled = [](int32_t) {};
    SoundFacts facts;
    const std::string message = read_sound(file.c_str(), 1, sample_rate, false, sink, facts);
    _exit(write(link[1], message.data(), message.size()) < 0 ? 1 : 0);
  }
  close(link[1]);
  std::string message;
  char buffer[256];
  for (ssize_t n; (n = read(link[0], buffer, sizeof buffer)) > 0;) message.append(buffer, n);
  close(link[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? message : "<child failed>";
}

// An 8-bit stereo WAV file whose header gives `rate` samples per second.
std::string wav_with_rate(uint32_t rate) {
  std::string bytes = "RIFF";
  const auto put = [&bytes](uint32_t v, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>(v >> (8 * i));
  };
  put(36 + 64, 4);
  bytes += "WAVEfmt ";
  put(16, 4);
  put(1, 2);  // PCM
  put(2, 2);  // channels
  put(rate, 4);
  put(rate * 2, 4);  // bytes per second
  put(2, 2);         // bytes per frame
  put(8, 2);         // bits per sample
  bytes += "data";
  put(64, 4);
  return bytes + std::string(64, '\x80');
}

TEST_F(Tools, BadInputIsNamedForWhatItIs) {
  std::filesystem::permissions(dir, std::filesystem::perms::all);  // reachable when not root
  gen("locked.wav", "-s 0.1", "8400043916");
  std::filesystem::permissions(path("locked.wav"), std::filesystem::perms::none);
  std::ofstream(path("empty.wav")).close();
  std::ofstream(path("notes.wav")) << "not a recording\n";
  std::filesystem::create_directory(path("folder.wav"));
  std::ofstream(path("rate0.wav"), std::ios::binary) << wav_with_rate(0);
  std::ofstream(path("rate_max.wav"), std::ios::binary) << wav_with_rate(4294967295);
  const struct {
    std::string file;
    std::string message;  ///< the start of the message
  } cases[] = {
      {path("locked.wav"), "permission denied"},
      {path("empty.wav"), "empty file"},
      {path("missing.wav"), "No such file or directory"},
      {path("folder.wav"), "is a directory"},
      {path("notes.wav"), "not a sound file that can be read ("},
      {path("rate0.wav"), "invalid sample rate in the header: 0/s"},
      {path("rate_max.wav"), "invalid sample rate in the header: 4294967295/s"},
      {"/dev/null", "empty stream"},
      // Endless zero bytes: a stream that holds no sound file, not an empty one.
      {"/dev/zero", "not a sound stream that can be read ("},
  };
  for (const auto& c : cases) {
    const std::string message = sound_error(c.file);
    EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.file << ": " << message;
  }
}

TEST_F(Tools, NanSamplesAreTheMiddleLevelAndInfinitiesClip) {
  for (const auto& [x, u8] : {std::pair{NAN, 128},
                              {INFINITY, 255},
                              {-INFINITY, 0},
                              {0.0f, 128},
                              {1.0f, 255},
                              {-1.0f, 0},
                              {-0.5f, 64}}) {
    EXPECT_EQ(to_u8(x), u8) << x;
  }
  // Every 97th sample of the tag's channel NaN or infinite, at the program's rate and
  // through the rate converter.
  for (const std::string& rate : {std::to_string(sample_rate), std::string("44100")}) {
    gen("clean.wav", std::string("-s 1 --bits float --rate ") + rate, "8400043916");
    SF_INFO info{};
    SNDFILE* in = sf_open(path("clean.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(in, nullptr);
    std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(in, samples.data(), info.frames);
    sf_close(in);
    // Writes the recording with those samples set to `value`; returns how many.
    const auto spoil = [&](float value, const std::string& name) {
      std::vector<float> spoiled = samples;
      int64_t count = 0;
      for (size_t i = 1; i < spoiled.size(); i += 2 * 97, ++count) spoiled[i] = value;
      SF_INFO written{0, info.samplerate, info.channels, info.format, 0, 0};
      SNDFILE* out = sf_open(path(name).c_str(), SFM_WRITE, &written);
      EXPECT_NE(out, nullptr) << name;
      sf_writef_float(out, spoiled.data(), info.frames);
      sf_close(out);
      return count;
    };
    const int64_t nans = spoil(NAN, "nan.wav");

    const Result clean = run(decode_tool, "--json " + path("clean.wav"));
    const Result r = run(decode_tool, "--json --stats " + path("nan.wav"));
    EXPECT_EQ(r.status, 0) << rate << r.err;
    EXPECT_EQ(lines(r.out).size(), lines(clean.out).size()) << rate;
    EXPECT_EQ(read_ids(r.out), std::vector<std::string>{"8400043916"}) << rate;
    EXPECT_EQ(stat_count(r.err, "NaN samples, taken as the middle level: "), nans) << rate;

    // An infinity is full scale, clipped, with the reads and hints of full scale.
    for (const float full : {1.0f, -1.0f}) {
      spoil(full * INFINITY, "infinite.wav");
      spoil(full, "full.wav");
      const Result infinite = run(decode_tool, path("infinite.wav"));
      const Result clipped = run(decode_tool, path("full.wav"));
      EXPECT_EQ(clipped.status, 0) << rate << " " << full << clipped.err;
      EXPECT_EQ(infinite.status, clipped.status) << rate << " " << full;
      EXPECT_EQ(infinite.out, clipped.out) << rate << " " << full;
      EXPECT_EQ(infinite.err, clipped.err) << rate << " " << full;
    }
  }
}

TEST_F(Tools, ExitStatusTellsWhetherAnythingWasRead) {
  gen("quiet.wav", "-s 1 --amplitude 0.1", "8400043916");
  Result r = run(decode_tool, path("quiet.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\n") << "the program ends its log with a line end even without reads";
  gen("tag.wav", "-s 1", "8400043916");
  EXPECT_EQ(run(decode_tool, path("quiet.wav") + " " + path("tag.wav")).status, 0);
  EXPECT_EQ(run(decode_tool, "--clock 48 " + path("tag.wav")).status, 2);
  // Output that cannot be written is a failure, not a success with less to read.
  for (const char* jobs : {"", "-j 2 "}) {
    r = run("/bin/sh", std::string("-c \"'") + decode_tool + "' " + jobs + path("tag.wav") + " " +
                           path("quiet.wav") + " >/dev/full\"");
    EXPECT_EQ(r.status, 2) << jobs;
    EXPECT_EQ(r.err, "tavrel-decode: standard output: No space left on device\n") << jobs;
  }
  EXPECT_EQ(run(decode_tool, "").status, 2);
  EXPECT_EQ(run(gen_tool, "12345").status, 2) << "an ID has 10 hex digits";
  r = run(decode_tool, "--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("EXIT STATUS"), std::string::npos);
  EXPECT_EQ(run(gen_tool, "--help").status, 0);
}

TEST_F(Tools, StreamsThroughAPipeDecodeAsTheirFiles) {
  struct Case {
    const char* name;
    const char* gen_args;
    const char* decode_args;
  };
  // The long ones: a file read ahead on a second thread, the pipe not.
  for (const Case c : {Case{"u8.wav", "-s 1", ""},
                       {"s16.wav", "-s 1 --bits 16 --rate 44100", ""},
                       {"s24.flac", "-s 1 --bits 24 --rate 96000", ""},
                       {"s8.flac", "-s 1", ""},
                       {"u8.aiff", "-s 1", ""},
                       {"s16.au", "-s 1 --bits 16", ""},
                       {"float.wav", "-s 1 --bits float --mono", ""},
                       {"cap.raw", "-s 1", "--raw"},
                       {"long.wav", "-s 12 --noise 0.02 --jitter 1", ""},
                       {"long.raw", "-s 12 --noise 0.02", "--raw"}}) {
    gen(c.name, c.gen_args, "FEDCBA9876");
    const Result file = run(decode_tool, std::string(c.decode_args) + " " + path(c.name));
    const Result pipe =
        run(decode_tool, std::string(c.decode_args) + " - < '" + path(c.name) + "'");
    const Result fifo = run("/bin/sh", "-c \"cat '" + path(c.name) + "' | '" + decode_tool + "' " +
                                           c.decode_args + " -\"");
    EXPECT_EQ(file.status, 0) << c.name << file.err;
    for (const Result& r : {pipe, fifo}) {
      EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
      EXPECT_EQ(r.err, "") << c.name;
      EXPECT_EQ(r.out, file.out) << c.name;
    }
  }
  // A header that promises more than the pipe brings is still a cut file.
  std::string cut = slurp(path("u8.wav"));
  std::ofstream(path("cut.wav"), std::ios::binary) << cut.substr(0, cut.size() / 2);
  const Result r = run("/bin/sh", "-c \"cat '" + path("cut.wav") + "' | '" + decode_tool + "' -\"");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("-: truncated"), std::string::npos) << r.err;
}

TEST_F(Tools, RobustReadsWhatTheThresholdsMissAndSaysHow) {
  struct Case {
    const char* gen_args;
    const char* clock;
    const char* inverted;
    bool program_reads;  ///< the program's path reads it too
  };
  for (const Case& c :
       {Case{"", "64", "false", true},
        {"--amplitude 0.05 --invert --dc-offset 0.08 --clock 32", "32", "true", false},
        {"--amplitude 0.3 --dc-offset 0.3 --noise 0.05 --rate 44100", "64", "false", false},
        {"--clock 16 --rate 96000 --bits 16 --invert", "16", "true", false}}) {
    gen("case.wav", std::string("-s 1 ") + c.gen_args, "8400043916");
    const Result r = run(decode_tool, "--robust --json " + path("case.wav"));
    ASSERT_EQ(r.status, 0) << c.gen_args << r.err;
    EXPECT_EQ(read_ids(r.out), std::vector<std::string>{"8400043916"}) << c.gen_args;
    const std::string first = lines(r.out).front();
    EXPECT_EQ(field(first, "clock"), c.clock) << c.gen_args;
    EXPECT_EQ(field(first, "inverted"), c.inverted) << c.gen_args;
    EXPECT_GT(std::stod(field(first, "level")), 0) << c.gen_args;
    EXPECT_NE(field(first, "snr_db"), "<missing>");
    EXPECT_EQ(run(decode_tool, path("case.wav")).status == 0, c.program_reads) << c.gen_args;
  }
  // The log is the program's log of the sure reads; the program's JSON stays as it was.
  gen("plain.wav", "-s 1", "8400043916");
  const Result log = run(decode_tool, "--robust " + path("plain.wav"));
  EXPECT_EQ(log.out.substr(0, 9), "\n4.14614\r");
  EXPECT_EQ(log.out.back(), '\n');
  EXPECT_EQ(field(lines(run(decode_tool, "--json " + path("plain.wav")).out)[0], "clock"),
            "<missing>");
  EXPECT_EQ(run(decode_tool, "--robust --invert " + path("plain.wav")).status, 2);
}

TEST_F(Tools, ASteadyToneIsTheProgramsZeroTagButNoRobustRead) {
  // A 2804 Hz sine with a small offset: the program's path reads the all-zero frame.
  InterferenceOptions o;
  o.kind = Interference::sine;
  o.level = 0.5;
  o.frequency = 2804;
  o.offset = 0.05;
  std::mt19937 random(1);
  std::vector<uint8_t> tone;
  append_interference(o, 3 * sample_rate, random, tone);
  const std::vector<uint8_t> stereo = to_stereo(tone);
  std::ofstream(path("tone.raw"), std::ios::binary)
      .write(reinterpret_cast<const char*>(stereo.data()),
             static_cast<std::streamsize>(stereo.size()));
  const Result program = run(decode_tool, "--raw --json " + path("tone.raw"));
  EXPECT_EQ(program.status, 0);
  EXPECT_EQ(read_ids(program.out), std::vector<std::string>{"0000000000"});
  const Result robust = run(decode_tool, "--robust --raw " + path("tone.raw"));
  EXPECT_EQ(robust.status, 1);
  EXPECT_EQ(robust.out, "\n");
}

TEST_F(Tools, FirstGivesOneLinePerPresentation) {
  // The same tag twice with a pause, then another: three presentations.
  gen("door.wav", "-s 0.5 --gap 0.6", "8400043916 8400043916 0102030405");
  for (const char* path_args : {"", "--robust "}) {
    const Result r = run(decode_tool, std::string(path_args) + "--first -q " + path("door.wav"));
    EXPECT_EQ(r.out, "4.14614\n4.14614\n515.1029\n") << path_args;
    const Result json =
        run(decode_tool, std::string(path_args) + "--first -q --json " + path("door.wav"));
    EXPECT_EQ(lines(json.out).size(), 3u) << path_args;
  }
}

// A read of a frame older than the last read's (confirmed later, or from a lane that
// decodes behind) begins no presentation, and the pause counts from the newest read.
TEST(ReadTrack, APresentationEndsOnlyAfterAPauseSinceTheNewestRead) {
  ReaderTrack track;
  const struct {
    double time;
    bool first;
  } reads[] = {{1.00, true}, {1.30, false}, {1.10, false}, {1.60, false}, {2.10, true}};
  for (const auto& r : reads) {
    TagRead read{};
    field_text(read.fields, "number", "%s", "4.14614");
    read.time = r.time;
    EXPECT_EQ(track_read(track, read, 0.4), r.first) << r.time;
  }
}

TEST_F(Tools, AStreamIsDecodedAsItArrivesAndEndsCleanlyOnSigint) {
  gen("tag.raw", "-s 1", "8400043916");
  // The recording goes into a pipe that stays open: a decoder that waited for the end of
  // its input would never write. Once the output has a read, SIGINT (or the end).
  std::ofstream(path("feed.sh")) << R"(cd "$1" && shift && mkfifo pipe
"$@" - <pipe >out & pid=$!
exec 3>pipe
cat tag.raw >&3
for i in $(seq 200); do [ -s out ] && break; sleep 0.05; done
[ "$STOP" = int ] && kill -INT $pid || exec 3>&-
wait $pid
)";
  struct Case {
    const char* stop;
    const char* args;
  };
  for (const Case& c : {Case{"end", "--raw --json"},
                        {"end", "--robust --raw --json"},
                        {"int", "--robust --raw"},
                        {"int", "--raw --json"}}) {
    std::filesystem::remove(path("pipe"));
    const Result r = run("/usr/bin/env", std::string("STOP=") + c.stop + " sh '" + path("feed.sh") +
                                             "' '" + dir + "' '" + decode_tool + "' " + c.args);
    EXPECT_EQ(r.status, 0) << c.args << r.err;
    const std::string out = slurp(path("out"));
    ASSERT_FALSE(out.empty()) << c.args;
    if (std::string(c.args).find("--json") == std::string::npos) {
      EXPECT_EQ(out.substr(0, 9), "\n4.14614\r");
      EXPECT_EQ(out.back(), '\n') << "the log is ended";
    } else {
      const std::string first = lines(out).at(0);
      EXPECT_EQ(field(first, "id"), "8400043916");
      EXPECT_EQ(field(first, "wall").size(), 24u) << first;  // 2026-12-09T05:03:12.345Z
    }
  }
}

TEST_F(Tools, FailedDecodeNamesTheLikelyCauseInOneLine) {
  struct Case {
    const char* gen_args;
    const char* decode_args;
    std::string hint;  ///< after "tavrel-decode: no tag read: "; "" for no line
  };
  for (const Case& c : {
           Case{"--channel left", "",
                "the right channel stays between the thresholds and the left one carries a "
                "signal: try --channel left"},
           {"", "--channel left",
            "the left channel stays between the thresholds and the right one carries a signal: "
            "try --channel right"},
           {"--invert", "", "frames fail the parity tests: try --invert"},
           {"", "--invert", "frames fail the parity tests: try without --invert"},
           {"--clock 32", "", "most runs are half as long as an RF/64 tag's: try --clock 32"},
           {"--amplitude 0.1 --mono", "",
            "the signal never reaches the thresholds (" + std::to_string(low_threshold) + " and " +
                std::to_string(high_threshold) +
                " of 128): raise the input level, look for a DC offset, or try --robust"},
           {"--invert", "-q", ""},
           // Long enough to be read ahead on the second thread (a later -s wins).
           {"-s 12 --channel left", "",
            "the right channel stays between the thresholds and the left one carries a "
            "signal: try --channel left"},
           {"-s 12 --invert", "", "frames fail the parity tests: try --invert"},
       }) {
    gen("case.wav", std::string("-s 1 ") + c.gen_args, "8400043916");
    const Result r = run(decode_tool, std::string(c.decode_args) + " " + path("case.wav"));
    EXPECT_EQ(r.status, 1) << c.gen_args;
    EXPECT_EQ(r.err,
              !c.hint.empty() ? std::string("tavrel-decode: no tag read: ") + c.hint + "\n" : "")
        << c.gen_args << " / " << c.decode_args;
  }
}

TEST_F(Tools, CommandLineErrorsSayWhatIsWrongWithNumbersAsWritten) {
  struct Case {
    const char* tool;
    const char* args;
    const char* message;
  };
  for (const Case c : {
           Case{gen_tool, "--amplitude 2 8400043916",
                "--amplitude takes a number between 0 and 1, not 2"},
           {gen_tool, "--seed x 8400043916",
            "--seed takes a number between 0 and 4294967295, not x"},
           {gen_tool, "--dc-offset -1.5 8400043916",
            "--dc-offset takes a number between -1 and 1, not -1.5"},
           {gen_tool, "--bits 12 8400043916", "--bits takes 8, 16, 24 or float, not 12"},
           {gen_tool, "12345",
            "a TAG is 10 hex digits or FAMILY:RAW, not 12345 (--help lists the families)"},
           {gen_tool, "", "no TAG given"},
           {decode_tool, "--clock 48 x.wav", "--clock takes 64, 32 or 16, not 48"},
           {decode_tool, "x.wav --channel", "missing value after --channel"},
           {decode_tool, "--bogus x.wav", "unknown option --bogus"},
           {decode_tool, "--invert=both x.wav", "--invert takes no value or =auto, not =both"},
           {decode_tool, "-q", "no FILE given"},
       }) {
    const std::string name = std::filesystem::path(c.tool).filename();
    const Result r = run(c.tool, c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.err, name + ": " + c.message + "\nTry '" + name + " --help'.\n") << c.args;
  }
  // As with getopt, an option given twice takes its later value.
  gen("twice.wav", "-s 3 -s 1", "8400043916");
  const Result twice = run(decode_tool, "--json --clock 16 --clock 64 " + path("twice.wav"));
  EXPECT_EQ(twice.status, 0) << twice.err;
  EXPECT_LT(lines(twice.out).size(), 40U) << "a second's worth of reads, not three";
  for (const char* tool : {decode_tool, gen_tool}) {
    const std::string name = std::filesystem::path(tool).filename();
    for (const char* flag : {"-V", "--version"}) {
      const Result r = run(tool, flag);
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, name + " " + tavrel_version + "\n");
    }
  }
}

TEST_F(Tools, InvertAutoNeverTakesAFileNamedAuto) {
  gen("auto", "-s 1 --invert", "8400043916");
  // "--invert auto" with a file named auto could mean either: refused.
  Result r = run(decode_tool, "--invert auto", dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("a file named auto exists"), std::string::npos) << r.err;
  for (const char* args :
       {"--json --invert ./auto", "--json --invert -- auto", "--json --invert=auto auto"}) {
    r = run(decode_tool, args, dir);
    EXPECT_EQ(r.status, 0) << args << r.err;
    EXPECT_EQ(read_ids(r.out), std::vector<std::string>{"8400043916"}) << args;
  }
  // Without such a file the old spelling still means both polarities.
  std::filesystem::rename(path("auto"), path("upside.wav"));
  r = run(decode_tool, "--json --invert auto upside.wav", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(field(lines(r.out).at(0), "inverted"), "true");
}

// Peak resident memory of one tool run, in kB.
long peak_kb(const char* tool, std::vector<std::string> args) {
  std::vector<char*> argv{const_cast<char*>(tool)};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    execv(tool, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status))
    return -1;
  return usage.ru_maxrss;
}

TEST_F(Tools, GenStreamsInFlatMemoryAndFailsCleanlyWhenTheDiskIsFull) {
  // 200 s of signal held at once would take 10 MB more than 1 s.
  const long one = peak_kb(gen_tool, {"-o", "/dev/null", "-s", "1", "8400043916"});
  const long long_run = peak_kb(gen_tool, {"-o", "/dev/null", "-s", "200", "8400043916"});
  ASSERT_GT(one, 0);
  EXPECT_LT(long_run - one, 3000) << one << " kB for 1 s, " << long_run << " kB for 200 s";

  std::filesystem::create_symlink("/dev/full", path("full.flac"));
  struct Case {
    std::string command;
    std::string message;
  } cases[] = {
      {"-o /dev/full", "/dev/full: No space left on device"},
      {"-o " + path("full.flac"), "full.flac: No space left on device"},
      // Full in the middle: the file size limit, its signal ignored, fails a later write.
      {"-o " + path("cut.flac") + " -s 10", "cut.flac: File too large"},
  };
  for (const Case& c : cases) {
    const std::string command = "trap '' XFSZ; ulimit -f 64; '" + std::string(gen_tool) + "' " +
                                c.command + " 8400043916 2>&1";
    const Result r = run("/bin/sh", "-c \"" + command + "\"");
    EXPECT_EQ(r.status, 1) << c.command;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
  }
}

TEST_F(Tools, StatsCountTestsAndTellWhyNothingIsRead) {
  gen("tag.wav", "-s 1", "8400043916");
  Result r = run(decode_tool, "--json --stats " + path("tag.wav"));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(stat_count(r.err, "passed: read"), static_cast<int64_t>(lines(r.out).size()));
  EXPECT_GT(stat_count(r.err, "one half-bit: "), 0) << r.err;
  EXPECT_GT(stat_count(r.err, "two half-bits: "), 0);
  EXPECT_EQ(stat_count(r.err, "shorter than 8: "), 0);
  EXPECT_EQ(stat_count(r.err, "longer than 32: "), 0);
  EXPECT_EQ(r.err.find("hint:"), std::string::npos) << "no hint when tags are read";

  gen("quiet.wav", "-s 1 --amplitude 0.1", "8400043916");
  r = run(decode_tool, "--stats " + path("quiet.wav"));
  EXPECT_NE(r.err.find("hint: the signal never reaches the thresholds"), std::string::npos)
      << r.err;
  gen("high.wav", "-s 1 --amplitude 0.3 --dc-offset -0.15", "8400043916");
  r = run(decode_tool, "--stats " + path("high.wav"));
  EXPECT_NE(r.err.find("hint: the signal never reaches the high threshold"), std::string::npos)
      << r.err;

  gen("upside.wav", "-s 1 --invert", "8400043916");
  r = run(decode_tool, "--stats " + path("upside.wav"));
  EXPECT_NE(r.err.find("--invert"), std::string::npos) << r.err;

  gen("rf32.wav", "-s 1 --clock 32", "8400043916");
  r = run(decode_tool, "--stats " + path("rf32.wav"));
  EXPECT_NE(r.err.find("--clock 32"), std::string::npos) << r.err;
  EXPECT_GT(stat_count(r.err, "shorter than 8: "), stat_count(r.err, "one half-bit: ")) << r.err;
}

// Copies a recording with its right channel through four first-order low-passes at `hz`: a
// front end whose band stops there.
void low_pass(const std::string& from, const std::string& to, double hz) {
  SF_INFO info{};
  SNDFILE* in = sf_open(from.c_str(), SFM_READ, &info);
  ASSERT_NE(in, nullptr);
  std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(in, samples.data(), info.frames);
  sf_close(in);
  const double share = 1 - std::exp(-2 * M_PI * hz / info.samplerate);
  double stages[4] = {};
  for (size_t i = 1; i < samples.size(); i += static_cast<size_t>(info.channels)) {
    double x = samples[i];
    for (double& y : stages) x = y += share * (x - y);
    samples[i] = static_cast<float>(x);
  }
  SF_INFO written{0, info.samplerate, info.channels, SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 0, 0};
  SNDFILE* out = sf_open(to.c_str(), SFM_WRITE, &written);
  ASSERT_NE(out, nullptr);
  sf_writef_float(out, samples.data(), info.frames);
  sf_close(out);
}

TEST_F(Tools, RobustStatsTellWhatTheFskLanesSawAndTheHintWhyNoTagWasRead) {
  gen("hid.wav", "-s 0.5 --noise 0.05", "hid:26:118:1603");
  low_pass(path("hid.wav"), path("cut.wav"), 3000);
  Result r = run(decode_tool, "--robust --stats " + path("hid.wav"));
  ASSERT_EQ(r.status, 0) << r.err;
  // The RF/50 lane's tones hold the input's power, at 125 kHz's tones.
  const size_t lane = r.err.find("lane FSK (fc/8, fc/10), RF/50 ");
  ASSERT_NE(lane, std::string::npos) << r.err;
  EXPECT_GT(stat_count(r.err.substr(lane), "RF/50 "), 0);
  const std::string tones = r.err.substr(r.err.find('\n', lane) + 1);
  EXPECT_GT(std::stod(tones.substr(tones.find("held ") + 5)), 90) << tones;
  EXPECT_NE(tones.find("a field of 125."), std::string::npos) << tones;
  EXPECT_NE(tones.find("tones of 12.5"), std::string::npos) << tones;

  struct Case {
    std::string file;
    const char* args;
    const char* hint;  ///< how the line after "tavrel-decode: no tag read: " begins
  };
  for (const Case& c :
       {Case{path("cut.wav"), "--robust", "the input holds almost no power at 12.5 and 15.6 kHz ("},
        {path("cut.wav"), "--family hid,awid",
         "the input holds almost no power at 12.5 and 15.6 kHz ("},
        {path("hid.wav"), "--family awid", "the input is mostly FSK tones ("}}) {
    r = run(decode_tool, std::string(c.args) + " " + c.file);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.err.rfind(std::string("tavrel-decode: no tag read: ") + c.hint, 0), 0u)
        << c.args << ": " << r.err;
  }
  // The same hint in --stats, and the band's own families named.
  r = run(decode_tool, "--stats --family hid,awid " + path("cut.wav"));
  EXPECT_NE(r.err.find("hint: the input holds almost no power at 12.5 and 15.6 kHz"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("FSK tags (hid, awid) send"), std::string::npos) << r.err;
}

TEST_F(Tools, JobsGiveTheOutputAndStatusOfOneFileAfterTheOther) {
  gen("a.wav", "-s 1", "8400043916");
  gen("b.wav", "-s 0.5", "0102030405");
  gen("c.wav", "-s 1.5", "0000000001");
  const std::string good = path("a.wav") + " " + path("b.wav") + " " + path("c.wav");
  const std::string with_missing = path("c.wav") + " " + path("missing.wav") + " " + good;
  // Also with more jobs than the open-file limit leaves room for.
  const std::string tight = "-c \"ulimit -n 16; exec '" + std::string(decode_tool) + "' -j 8 ";
  for (const std::string& files : {good, with_missing}) {
    for (const char* options : {"", "--json", "--stats"}) {
      const Result one = run(decode_tool, std::string(options) + " " + files);
      for (const Result& many : {run(decode_tool, std::string("-j 3 ") + options + " " + files),
                                 run("/bin/sh", tight + options + " " + files + "\"")}) {
        EXPECT_EQ(many.status, one.status) << options << " " << files;
        EXPECT_EQ(many.out, one.out) << options << " " << files;
        EXPECT_EQ(many.err, one.err) << options << " " << files;
      }
    }
  }
}

TEST_F(Tools, PlotWritesOnePictureOfTheAskedSizePerRecording) {
  gen("card.wav", "-s 0.3", "8400043916");
  gen("quiet.wav", "-s 0.3 --amplitude 0.1", "8400043916");
  // The reads and the exit status are those of decoding alone.
  Result r = run(decode_tool, "--json --plot " + path("one.png") + " " + path("card.wav"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, run(decode_tool, "--json " + path("card.wav")).out);
  const std::string png = slurp(path("one.png"));
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x06\x40\0\0\x03\x84", 8)) << "1600x900";

  // With -j, each process draws its own recording's picture.
  r = run(decode_tool, "-j 2 --plot " + path("p.svg") +
                           " --plot-size 800x450 --from 0.1 --length 0.05 " + path("card.wav") +
                           " " + path("quiet.wav"));
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* name : {"p-card.svg", "p-quiet.svg"})
    EXPECT_NE(slurp(path(name)).find("width=\"800px\" height=\"450px\""), std::string::npos)
        << name;

  for (const char* args : {"--plot x.jpg", "--plot x.png --plot-size 800",
                           "--plot x.png --length 0", "--plot-every 1 . --robust"})
    EXPECT_EQ(run(decode_tool, std::string(args) + " " + path("card.wav")).status, 2) << args;
  r = run(decode_tool, "-q --robust --plot " + path("robust.png") + " " + path("card.wav"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(path("robust.png")).substr(1, 3), "PNG");
  std::filesystem::create_symlink("/dev/full", path("full.svg"));
  for (const auto& [picture, reason] :
       {std::pair{path("no/such/dir.png"), "No such file or directory"},
        {path("full.svg"), "No space left on device"}}) {
    r = run(decode_tool, "-q --plot " + picture + " " + path("card.wav"));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tavrel-decode: " + picture + ": " + reason + "\n");
  }
}

TEST_F(Tools, PlotEveryDrawsTheLastStretchEveryNSecondsOfAStream) {
  gen("card.wav", "-s 2", "8400043916");
  const std::string pictures = path("pictures");
  std::filesystem::create_directories(pictures);
  const Result r =
      run("/bin/sh", "-c \"cat '" + path("card.wav") + "' | '" + decode_tool +
                         "' --plot-size 640x360 --plot-every 1 '" + pictures + "' -\"");
  EXPECT_EQ(r.status, 0) << r.err;
  // One picture per whole second of input, under its final name only.
  SF_INFO info{};
  SNDFILE* f = sf_open(path("card.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  sf_close(f);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(pictures))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), static_cast<size_t>(info.frames / info.samplerate));
  for (size_t i = 0; i < names.size(); ++i) {
    char want[32];
    std::snprintf(want, sizeof want, "plot-%06zu.png", i + 1);
    EXPECT_EQ(names[i], want);
    const std::string png = slurp(pictures + "/" + names[i]);
    EXPECT_EQ(png.substr(16, 8), std::string("\0\0\x02\x80\0\0\x01\x68", 8)) << "640x360";
  }
  for (const std::string& args : {"--plot-every 0 " + pictures, "--plot-every 1 " + path("none"),
                                  "--plot-every 1 " + pictures + " --plot x.png",
                                  "--plot-every 1 " + pictures + " " + path("card.wav")})
    EXPECT_EQ(run(decode_tool, args + " " + path("card.wav")).status, 2) << args;
}

}  // namespace
}  // namespace tavrel
