// Sound files in: sf_open, sf_readf_float, sf_read_raw, sf_command(SFC_GET_LOG_INFO), and
// src_new, src_process for the rate.

#include "tools/sound_in.hpp"

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tavrel {

constexpr int64_t chunk_frames = 12000;  ///< sample frames read from the file at once

// Why a path that libsndfile would not open cannot be read, in plain words.
static std::string open_failure(const char* path) {
  struct stat st {};
  if (stat(path, &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (st.st_size == 0) return "empty file";
  return std::string("not a sound file that can be read (") + sf_strerror(nullptr) + ")";
}

// WAV and AIFF files cut short keep their promised data size in the header; libsndfile
// reads what is there and notes "(should be N)" on the data chunk line of its log.
static bool header_promises_more(SNDFILE* file) {
  char log[8192] = {};
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  for (const char* line = log; *line;) {
    const char* end = std::strchr(line, '\n');
    const std::string text(line, end ? end : line + std::strlen(line));
    const size_t name = text.find_first_not_of(' ');
    const bool data_chunk = name != std::string::npos && (text.compare(name, 6, "data :") == 0 ||
                                                          text.compare(name, 6, "SSND :") == 0);
    if (data_chunk && text.find("(should be") != std::string::npos) return true;
    if (!end) break;
    line = end + 1;
  }
  return false;
}

// Converts a stretch of one channel and hands it on.
static void take_floats(const float* x, int64_t n, std::vector<uint8_t>& out,
                        const SampleSink& take) {
  out.resize(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) out[static_cast<size_t>(i)] = to_u8(x[i]);
  if (n > 0) take(out.data(), static_cast<int32_t>(n));
}

struct Resampler {
  SRC_STATE* state = nullptr;
  double ratio = 1.0;  ///< output rate over file rate
  std::vector<float> out;
};

// Pushes `n` samples (or the end, when `last`) through the rate converter.
static std::string resample(Resampler& r, const float* in, int64_t n, bool last,
                            std::vector<uint8_t>& bytes, const SampleSink& take) {
  SRC_DATA data{};
  data.data_in = in;
  data.input_frames = static_cast<long>(n);
  data.src_ratio = r.ratio;
  data.end_of_input = last ? 1 : 0;
  for (;;) {
    data.data_out = r.out.data();
    data.output_frames = static_cast<long>(r.out.size());
    if (const int error = src_process(r.state, &data)) return src_strerror(error);
    take_floats(r.out.data(), data.output_frames_gen, bytes, take);
    data.data_in += data.input_frames_used;
    data.input_frames -= data.input_frames_used;
    // Done when all input is in and, at the end, nothing more comes out.
    if (data.input_frames == 0 && (!last || data.output_frames_gen == 0)) return "";
  }
}

// 8-bit unsigned samples at the right rate are already what the slicer takes: the fast
// way, picking the channel out of the stored bytes.
static void read_bytes(SNDFILE* file, int channels, int source, const SampleSink& take,
                       SoundFacts& facts) {
  std::vector<uint8_t> stored(static_cast<size_t>(chunk_frames * channels));
  std::vector<uint8_t> bytes(static_cast<size_t>(chunk_frames));
  for (;;) {
    const sf_count_t got =
        sf_read_raw(file, stored.data(), static_cast<sf_count_t>(stored.size())) / channels;
    const uint8_t* from = stored.data() + source;
    if (channels == 2) {
      // Stereo, as recorded: a fixed stride the compiler turns into vector shuffles.
      for (sf_count_t i = 0; i < got; ++i) bytes[static_cast<size_t>(i)] = from[2 * i];
    } else {
      for (sf_count_t i = 0; i < got; ++i) bytes[static_cast<size_t>(i)] = from[i * channels];
    }
    facts.file_frames += got;
    if (got > 0) take(bytes.data(), static_cast<int32_t>(got));
    if (got < chunk_frames) return;
  }
}

// Any other format, through floats and, when the rate differs, the rate converter.
static std::string read_floats(SNDFILE* file, int channels, int source, Resampler& resampler,
                               const SampleSink& take, SoundFacts& facts) {
  std::vector<float> frames(static_cast<size_t>(chunk_frames * channels));
  std::vector<float> mono(static_cast<size_t>(chunk_frames));
  std::vector<uint8_t> bytes;
  for (;;) {
    const sf_count_t got = sf_readf_float(file, frames.data(), chunk_frames);
    const bool last = got < chunk_frames;
    for (sf_count_t i = 0; i < got; ++i) {
      mono[static_cast<size_t>(i)] = frames[static_cast<size_t>(i * channels + source)];
    }
    facts.file_frames += got;
    if (resampler.state) {
      const std::string failure = resample(resampler, mono.data(), got, last, bytes, take);
      if (!failure.empty()) return failure;
    } else {
      take_floats(mono.data(), got, bytes, take);
    }
    if (last) return "";
  }
}

std::string read_sound(const char* path, int channel, int rate, bool raw, const SampleSink& take,
                       SoundFacts& facts) {
  SF_INFO info{};
  if (raw) {
    // Headerless: as Tavrel records, interleaved left and right.
    info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_U8;
    info.channels = 2;
    info.samplerate = 48000;
  }
  SNDFILE* file = sf_open(path, SFM_READ, &info);
  if (!file) return open_failure(path);
  facts.opened = true;
  facts.file_rate = info.samplerate;
  facts.channels = info.channels;
  facts.file_frames = 0;
  if (info.channels < 1 || info.samplerate < 1) {
    sf_close(file);
    return "no channels or no sample rate";
  }
  const int source = info.channels == 1 ? 0 : channel;

  Resampler resampler;
  if (info.samplerate != rate) {
    resampler.ratio = static_cast<double>(rate) / info.samplerate;
    if (!src_is_valid_ratio(resampler.ratio)) {
      sf_close(file);
      return "sample rate " + std::to_string(info.samplerate) + "/s cannot be converted to " +
             std::to_string(rate) + "/s";
    }
    int error = 0;
    resampler.state = src_new(SRC_SINC_FASTEST, 1, &error);
    if (!resampler.state) {
      sf_close(file);
      return src_strerror(error);
    }
    resampler.out.resize(static_cast<size_t>(chunk_frames * resampler.ratio) + 64);
  }

  std::string failure;
  if (!resampler.state && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8) {
    read_bytes(file, info.channels, source, take, facts);
  } else {
    failure = read_floats(file, info.channels, source, resampler, take, facts);
  }

  if (failure.empty() && sf_error(file) != SF_ERR_NO_ERROR) {
    failure = std::string("cannot be read to the end (") + sf_strerror(file) + ")";
  }
  if (failure.empty() && (facts.file_frames < info.frames || header_promises_more(file))) {
    failure = "truncated: the header promises more samples than the file holds";
  }
  if (resampler.state) src_delete(resampler.state);
  sf_close(file);
  return failure;
}

}  // namespace tavrel
