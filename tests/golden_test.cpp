// Real captures against the exact console log expected of each, worked out apart from this
// code: through the capture worker's loop (sound input and dialog scripted) and through
// tavrel-decode as a user runs it.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture/wave_capture.hpp"
#include "decode/read_register.hpp"
#include "frontend/capture_worker.hpp"
#include "tests/fakes/worker_parts_fake.hpp"
#include "tests/support/console_capture.hpp"

namespace tavrel {
namespace {

struct Golden {
  const char* name;  ///< tests/data/real/NAME_48k_u8x2.raw, with NAME.out and NAME.inv.out
  bool invert;       ///< "Invert Signal" ticked
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class GoldenLog : public ::testing::TestWithParam<Golden> {
 protected:
  std::string stem() const {
    return std::string(TAVREL_REAL_DATA "/") + GetParam().name + "_48k_u8x2";
  }
  std::string raw() const { return stem() + ".raw"; }
  std::string expected() const { return slurp(stem() + (GetParam().invert ? ".inv.out" : ".out")); }
};

TEST_P(GoldenLog, WorkerLoopWritesIt) {
  const std::string stereo = slurp(raw());
  ASSERT_EQ(stereo.size() % (2 * block_frames), 0u) << "whole blocks only, as captured";
  test::worker_parts.script.clear();
  for (size_t at = 0; at < stereo.size(); at += 2 * block_frames) {
    test::ScriptBlock block{block_frames, std::vector<uint8_t>(block_frames), GetParam().invert};
    for (int32_t j = 0; j < block_frames; ++j) block.right[j] = stereo[at + 2 * j + 1];
    test::worker_parts.script.push_back(block);
  }
  run_flag = 1;
  decode_restart();
  test::ConsoleCapture console;
  test::console_capture_start(console);
  capture_worker();
  const std::string log = test::console_capture_text(console);
  test::console_capture_stop(console);
  EXPECT_EQ(log, expected());
}

TEST_P(GoldenLog, DecodeToolWritesIt) {
  const std::string out = ::testing::TempDir() + "golden_" + GetParam().name +
                          (GetParam().invert ? ".inv.log" : ".log");
  const std::string command = std::string("'" TAVREL_DECODE_PATH "' --raw ") +
                              (GetParam().invert ? "--invert " : "") + "'" + raw() + "' >'" + out +
                              "' 2>/dev/null";
  const int status = std::system(command.c_str());
  const std::string log = slurp(out);
  std::remove(out.c_str());
  EXPECT_EQ(log, expected());
  // 0 when a tag was read, 1 when not.
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, expected().size() > 1 ? 0 : 1);
}

const Golden golden_cases[] = {
    {"em4100_19004f246f", false}, {"em4100_19004f246f", true},  {"em4102_1f0044de9c", false},
    {"em4102_1f0044de9c", true},  {"fk4100_29004f72fb", false}, {"fk4100_29004f72fb", true},
};

std::string case_name(const ::testing::TestParamInfo<Golden>& c) {
  return std::string(c.param.name) + (c.param.invert ? "_inv" : "");
}

INSTANTIATE_TEST_SUITE_P(Real, GoldenLog, ::testing::ValuesIn(golden_cases), case_name);

// Every real capture through the tolerant path: the one tag it holds, as its family and
// number, read from most of its second of frames, and nothing else.
struct Capture {
  const char* name;    ///< tests/data/real/NAME_48k_u8x2.raw
  const char* family;  ///< as JSON names it
  const char* number;  ///< as its readers print it
  int min_reads;       ///< of the frames in its second of signal, the first ones aside
};

const Capture captures[] = {
    {"em4100_19004f246f", "em4100", "79.9327", 28},
    {"em4102_1f0044de9c", "em4100", "68.56988", 28},
    {"fk4100_29004f72fb", "em4100", "79.29435", 28},
    {"em4100_0400193cbe_fob", "em4100", "25.15550", 24},  // the coupling is fitted first
    {"fdxb_ata5577_animal", "fdxb", "999-000000112233", 28},
    {"viking_ata5577", "viking", "0001A337", 56},
    {"pac_ata5577", "pac", "CD4F5552", 26},
    {"hid_ata5577_26", "hid", "FC 118 CN 1603", 22},
};

class RealCapture : public ::testing::TestWithParam<Capture> {};

TEST_P(RealCapture, TolerantPathReadsItsTagAndNoOther) {
  const Capture& c = GetParam();
  const std::string out = ::testing::TempDir() + "tolerant_" + c.name + ".json";
  const std::string command = std::string("'" TAVREL_DECODE_PATH "' --raw --robust --json '" +
                                          std::string(TAVREL_REAL_DATA) + "/") +
                              c.name + "_48k_u8x2.raw' >'" + out + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  std::ifstream in(out);
  int reads = 0;
  for (std::string line; std::getline(in, line); ++reads) {
    EXPECT_NE(line.find(std::string("\"family\":\"") + c.family + "\""), std::string::npos) << line;
    EXPECT_NE(line.find(std::string("\"number\":\"") + c.number + "\""), std::string::npos) << line;
  }
  std::remove(out.c_str());
  EXPECT_GE(reads, c.min_reads);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
}

INSTANTIATE_TEST_SUITE_P(Real, RealCapture, ::testing::ValuesIn(captures),
                         [](const ::testing::TestParamInfo<Capture>& c) {
                           return std::string(c.param.name);
                         });

}  // namespace
}  // namespace tavrel
