// Reads and wrong numbers of both decoding paths, the tolerant one and the program's (as
// tavrel-decode runs it, with the right polarity and --clock), counted, not timed:
//   1. one row per signal condition: recordings read, wrong IDs, reads per second of tag;
//   2. random tags under random degradations: recordings read, wrong IDs;
//   3. signals that carry no tag, hours of each: reads (every read is a false one).
//
//   robust_count [--per-condition N] [--recordings N] [--hours H]
//   (default 20, 10000 and 10: the full size; ./dev.sh bench runs it small)
// Exit status 1 when the tolerant path gave a wrong ID or any read from a signal
// without a tag.

#include <sndfile.h>
#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cli/decode_run.hpp"
#include "decode/read_register.hpp"
#include "lf/decoder.hpp"
#include "platform/console.hpp"
#include "synth/tag_signal.hpp"

using namespace tavrel;

namespace {

using Condition = SignalCondition;

constexpr double tag_seconds_each = 0.5;  ///< tag signal per recording, between silences

std::vector<uint8_t> recording(const Condition& c, uint64_t id, bool invert, unsigned seed) {
  const double frame_samples = 64 * clock_bit_samples(c.rate, c.clock) / (1 + c.rate_error);
  return condition_recording(c, id, invert, seed,
                             static_cast<int>(tag_seconds_each * c.rate / frame_samples));
}

struct Count {
  int64_t reads = 0;
  int64_t wrong = 0;
  uint64_t id = 0;  ///< the tag sent; reads of any other ID are wrong
};

void robust_counted(void* context, const TagRead& r) {
  Count& c = *static_cast<Count*>(context);
  ++c.reads;
  c.wrong += frame_data(r.frame.words[0]) != c.id;
}

const auto robust = std::make_unique<TolerantDecoder>();
const auto program = std::make_unique<Decoding>();

Count robust_path(const std::vector<uint8_t>& samples, double rate, uint64_t id) {
  Count count{0, 0, id};
  tolerant_begin(*robust, rate, every_family, robust_counted, &count);
  tolerant_take(*robust, samples.data(), static_cast<int32_t>(samples.size()));
  return count;
}

void program_begin(Count& count, int32_t invert, int clock) {
  DecodeOptions o;
  o.invert = invert;
  o.watch = true;
  o.rate = sample_rate * 64.0 / clock;
  decoding_begin(*program, o);
  program->on_read = [&count](const TagRead& r) {
    ++count.reads;
    count.wrong += frame_data(r.frame.words[0]) != count.id;
  };
}

// As tavrel-decode: at the sound input's rate for RF/64 straight in, otherwise through a file and
// the rate converter.
Count program_path(const std::vector<uint8_t>& samples, const Condition& c, uint64_t id,
                   bool invert) {
  Count count{0, 0, id};
  program_begin(count, invert ? 1 : 0, c.clock);
  if (c.rate == sample_rate && c.clock == 64) {
    decoding_take(*program, samples.data(), static_cast<int32_t>(samples.size()));
  } else {
    static const std::string path = "/tmp/robust_count_" + std::to_string(getpid()) + ".wav";
    SF_INFO info{};
    info.samplerate = static_cast<int>(c.rate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    sf_write_raw(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    SoundFacts facts;
    read_sound(path.c_str(), 0, static_cast<int>(program->options.rate), false,
               decoding_sink(*program), facts);
    std::remove(path.c_str());
  }
  decoding_end(*program);
  return count;
}

void conditions_table(int per_condition, bool& fault) {
  const Condition conditions[] = {
      {"clean"},
      {"swing 4", 4},
      {"swing 6", 6},
      {"clipped (swing 400)", 400},
      {"offset +40", 80, 40},
      {"offset -40", 80, -40},
      {"AC coupling 1 Hz", 80, 0, 99, 1},
      {"AC coupling 100 Hz", 80, 0, 99, 100},
      {"drift 30 at 0.5 Hz", 80, 0, 99, 0, 30},
      {"6 dB SNR", 80, 0, 6},
      {"0 dB SNR", 80, 0, 0},
      {"-3 dB SNR", 80, 0, -3},
      {"44100/s", 80, 0, 99, 0, 0, 64, 44100},
      {"8000/s", 80, 0, 99, 0, 0, 64, 8000},
      {"bit rate +3 %", 80, 0, 99, 0, 0, 64, sample_rate, 0.03},
      {"bit rate -3 %", 80, 0, 99, 0, 0, 64, sample_rate, -0.03},
      {"bit rate +5 %", 80, 0, 99, 0, 0, 64, sample_rate, 0.05},
      {"bit rate -5 %", 80, 0, 99, 0, 0, 64, sample_rate, -0.05},
      {"RF/32", 80, 0, 99, 0, 0, 32},
      {"RF/32 swing 6 offset 10", 6, 10, 99, 0, 0, 32},
      {"RF/32 3 dB", 80, 0, 3, 0, 0, 32},
      {"RF/16", 80, 0, 99, 0, 0, 16},
      {"RF/16 at 44100/s, 10 dB", 80, 0, 10, 0, 0, 16, 44100},
      // Front ends whose coupling makes each half-bit decay, and other shapes.
      {.name = "AC coupling 5 Hz", .highpass_hz = 5},
      {.name = "AC coupling 5 Hz, 10 dB", .snr_db = 10, .highpass_hz = 5},
      {.name = "AC coupling 300 Hz", .highpass_hz = 300},
      {.name = "AC coupling 300 Hz, 10 dB", .snr_db = 10, .highpass_hz = 300},
      {.name = "AC coupling 1 kHz", .highpass_hz = 1000},
      {.name = "AC coupling 1 kHz, 10 dB", .snr_db = 10, .highpass_hz = 1000},
      {.name = "AC coupling 3 kHz", .highpass_hz = 3000},
      {.name = "AC coupling 3 kHz, 10 dB", .snr_db = 10, .highpass_hz = 3000},
      {.name = "half-wave", .half_wave = true},
      {.name = "clipped at +-10", .clip = 10},
      {.name = "low-pass 2 kHz", .lowpass_hz = 2000},
  };
  std::printf("%-26s | %-28s | %-28s\n", "condition", "tolerant: read wrong reads/s",
              "program:  read wrong reads/s");
  std::mt19937_64 random(12);
  for (const Condition& c : conditions) {
    int read[2] = {};
    int64_t wrong[2] = {};
    int64_t reads[2] = {};
    for (int k = 0; k < per_condition; ++k) {
      const uint64_t id = random() & 0xFF'FFFF'FFFF;
      const bool invert = k & 1;
      const auto samples = recording(c, id, invert, static_cast<unsigned>(k + 1));
      const Count counts[2] = {robust_path(samples, c.rate, id),
                               program_path(samples, c, id, invert)};
      for (int p = 0; p < 2; ++p) {
        read[p] += counts[p].reads > 0;
        wrong[p] += counts[p].wrong;
        reads[p] += counts[p].reads;
      }
    }
    fault = fault || wrong[0] > 0;
    const double tag_time = per_condition * tag_seconds_each;
    std::printf("%-26s | %4d/%-4d %5" PRId64 " %8.1f    | %4d/%-4d %5" PRId64 " %8.1f\n", c.name,
                read[0], per_condition, wrong[0], static_cast<double>(reads[0]) / tag_time, read[1],
                per_condition, wrong[1], static_cast<double>(reads[1]) / tag_time);
  }
}

void random_tags(int recordings, bool& fault) {
  std::mt19937_64 random(77);
  std::uniform_real_distribution<double> uniform(0, 1);
  int read[2] = {};
  int64_t wrong[2] = {};
  for (int k = 0; k < recordings; ++k) {
    Condition c{"random"};
    c.swing = 4 * std::pow(100.0, uniform(random));  // 4 to 400 steps
    c.offset = (uniform(random) * 2 - 1) * std::min(40.0, c.swing / 2);
    c.snr_db = uniform(random) < 0.25 ? 99 : uniform(random) * 30;
    c.highpass_hz = uniform(random) < 0.5 ? 0 : 1 + uniform(random) * 99;
    c.drift = uniform(random) < 0.5 ? 0 : uniform(random) * 30;
    c.clock = (const int[]){64, 32, 16}[random() % 3];
    c.rate = random() % 2 ? sample_rate : 44100;
    c.rate_error = (uniform(random) * 2 - 1) * 0.03;
    const uint64_t id = random() & 0xFF'FFFF'FFFF;
    const bool invert = random() & 1;
    const auto samples = recording(c, id, invert, static_cast<unsigned>(k + 1));
    const Count counts[2] = {robust_path(samples, c.rate, id),
                             program_path(samples, c, id, invert)};
    for (int p = 0; p < 2; ++p) {
      read[p] += counts[p].reads > 0;
      wrong[p] += counts[p].wrong;
    }
  }
  fault = fault || wrong[0] > 0;
  std::printf(
      "\n%d recordings of random tags under random degradations (swing 4..400, offset, SNR "
      "0..30 dB or none, AC coupling, drift, RF/64/32/16, 44100 or %d/s, bit rate +-3 %%):\n"
      "  tolerant: %d read, %" PRId64
      " wrong IDs; program (right polarity and clock): %d read, "
      "%" PRId64 " wrong IDs\n",
      recordings, sample_rate, read[0], wrong[0], read[1], wrong[1]);
}

void negatives(double hours, bool& fault) {
  struct Class {
    const char* name;
    Interference kind;
    double level;
    double frequency;
    double offset;
    int clock;  ///< for Manchester data: the kind is ignored
  };
  constexpr int data = -1;
  const Class classes[] = {
      {"white noise", Interference::white_noise, 0.3, 0, 0, 0},
      {"pink noise", Interference::pink_noise, 0.3, 0, 0, 0},
      {"clipped noise", Interference::clipped_noise, 0.5, 0, 0, 0},
      {"mains hum 50 Hz", Interference::mains_hum, 0.5, 50, 0.02, 0},
      {"mains hum 60 Hz", Interference::mains_hum, 0.5, 60, 0.02, 0},
      {"square 500 Hz", Interference::square_wave, 0.5, 500, 0.01, 0},
      {"square 976.5 Hz", Interference::square_wave, 0.5, 976.5, 0.01, 0},
      {"square 1953.1 Hz", Interference::square_wave, 0.5, 1953.1, 0.01, 0},
      {"square 2700 Hz", Interference::square_wave, 0.5, 2700, 0.01, 0},
      {"square 3906.2 Hz", Interference::square_wave, 0.5, 3906.2, 0.01, 0},
      {"square 5000 Hz", Interference::square_wave, 0.5, 5000, 0.01, 0},
      {"sine 1270 Hz offset 0.05", Interference::sine, 0.5, 1270, 0.05, 0},
      {"sine 2700 Hz offset 0.05", Interference::sine, 0.5, 2700, 0.05, 0},
      {"sine 2804 Hz offset 0.05", Interference::sine, 0.5, 2804, 0.05, 0},
      {"telegraph, runs of the run windows", Interference::telegraph, 0.5, 0, 0, 0},
      {"Manchester data RF/64", Interference::white_noise, 0, 0, 0, 64},
      {"Manchester data RF/32", Interference::white_noise, 0, 0, 0, 32},
      {"Manchester data RF/16", Interference::white_noise, 0, 0, 0, 16},
  };
  (void)data;
  std::printf("\nsignals without a tag, %.3g h each (both polarities for the program):\n", hours);
  std::printf("  %-28s %10s %10s\n", "class", "tolerant", "program");
  constexpr int64_t chunk = 60 * sample_rate;
  for (const Class& k : classes) {
    std::mt19937 random(9);
    TagSignalOptions so;
    if (k.clock) so.bit_samples = clock_bit_samples(sample_rate, k.clock);
    TagSignal signal{so};
    InterferenceOptions o;
    o.kind = k.kind;
    o.level = k.level;
    o.frequency = k.frequency;
    o.offset = k.offset;
    Count counts[2] = {};
    tolerant_begin(*robust, sample_rate, every_family, robust_counted, &counts[0]);
    program_begin(counts[1], invert_auto, 64);
    std::vector<uint8_t> samples;
    std::vector<uint8_t> bits;
    for (int64_t done = 0; done < static_cast<int64_t>(hours * 3600 * sample_rate); done += chunk) {
      samples.clear();
      if (k.clock) {
        bits.resize(static_cast<size_t>(chunk / so.bit_samples));
        for (auto& b : bits) b = random() & 1;
        append_bits(signal, bits, samples);
      } else {
        append_interference(o, chunk, random, samples);
      }
      tolerant_take(*robust, samples.data(), static_cast<int32_t>(samples.size()));
      decoding_take(*program, samples.data(), static_cast<int32_t>(samples.size()));
    }
    decoding_end(*program);
    // The tag sent is none: every read counts as wrong.
    counts[0].id = counts[1].id = ~uint64_t{0};
    fault = fault || counts[0].reads > 0;
    std::printf("  %-28s %10" PRId64 " %10" PRId64 "\n", k.name, counts[0].reads, counts[1].reads);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int per_condition = 20;
  int recordings = 10000;
  double hours = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--per-condition") == 0) per_condition = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--recordings") == 0) recordings = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--hours") == 0) hours = std::atof(argv[i + 1]);
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as it is done: a full run takes long
  std::FILE* null = std::fopen("/dev/null", "w");
  console_stream = null;  // the program's log of every read is not wanted here
  bool fault = false;
  conditions_table(per_condition, fault);
  random_tags(recordings, fault);
  negatives(hours, fault);
  std::printf("\ntolerant path: %s\n",
              fault ? "WRONG IDs OR FALSE READS" : "no wrong ID, no false read");
  return fault ? 1 : 0;
}
