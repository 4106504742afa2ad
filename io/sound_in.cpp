// Sound files in: sf_open, sf_open_virtual, sf_readf_float, sf_read_raw,
// sf_command(SFC_GET_LOG_INFO), and src_new, src_process for the rate.

#include "io/sound_in.hpp"

#include "io/stereo_split.hpp"

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "capture/wave_capture.hpp"

namespace tavrel {

constexpr int64_t chunk_frames = block_frames;  ///< sample frames read and converted at once
constexpr int64_t read_frames = 1 << 15;        ///< sample frames read at once on the fast way
/// Reading ahead: pieces in turn, each of few hand-overs and all of them in the cache.
constexpr int32_t ahead_pieces = 3;
constexpr int64_t ahead_frames = 4 * read_frames;
/// Pieces of a stream per second: a read waits for a whole piece, so this bounds the
/// delay between a frame's end on the input and its read.
constexpr int stream_pieces = 50;

/// A stream's length as libsndfile is told it: unknown, as for its own pipes.
constexpr sf_count_t stream_length = INT64_MAX;
/// Frame counts from this on come from that unknown length, not from a header.
constexpr sf_count_t promised_frames_limit = sf_count_t{1} << 48;

// A pipe or terminal read front to back, with the seeks libsndfile makes while it reads
// a header (FLAC and AIFF look ahead and come back). While opening, everything read is
// kept; afterwards only what has not been handed out yet, so a live stream can run for
// hours in constant memory.
struct Stream {
  std::FILE* in = nullptr;
  std::vector<uint8_t> kept;  ///< bytes from offset `base` on
  sf_count_t base = 0;        ///< stream offset of kept[0]
  sf_count_t at = 0;          ///< stream offset of the next read
  bool opening = true;        ///< keep every byte: a seek back may come
};

// Makes the bytes up to offset `end` available; false when the stream ends first.
static bool stream_fill(Stream& s, sf_count_t end) {
  while (s.base + static_cast<sf_count_t>(s.kept.size()) < end) {
    uint8_t buffer[65536];
    const size_t want = static_cast<size_t>(
        std::min<sf_count_t>(sizeof buffer, end - s.base - static_cast<sf_count_t>(s.kept.size())));
    const size_t got = std::fread(buffer, 1, want, s.in);
    s.kept.insert(s.kept.end(), buffer, buffer + got);
    if (got < want) return false;
  }
  return true;
}

static sf_count_t stream_length_of(void*) {
  return stream_length;
}

static sf_count_t stream_seek(sf_count_t offset, int whence, void* user) {
  Stream& s = *static_cast<Stream*>(user);
  sf_count_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? s.at + offset : -1;
  if (whence == SEEK_END) {
    // The end of a stream is known only once it is all in.
    stream_fill(s, stream_length);
    to = s.base + static_cast<sf_count_t>(s.kept.size()) + offset;
  }
  if (to < s.base) return -1;  // handed out and dropped already
  stream_fill(s, to);
  s.at = std::min(to, s.base + static_cast<sf_count_t>(s.kept.size()));
  return s.at;
}

static sf_count_t kept_end(const Stream& s) {
  return s.base + static_cast<sf_count_t>(s.kept.size());
}

static sf_count_t stream_read(void* ptr, sf_count_t count, void* user) {
  Stream& s = *static_cast<Stream*>(user);
  auto* out = static_cast<uint8_t*>(ptr);
  if (s.opening) stream_fill(s, s.at + count);  // all through the kept bytes
  sf_count_t done = std::clamp<sf_count_t>(kept_end(s) - s.at, 0, count);
  std::copy_n(s.kept.data() + (s.at - s.base), done, out);
  s.at += done;
  if (!s.opening && s.at == kept_end(s)) {
    // The kept bytes are handed out: the rest comes straight from the stream.
    s.kept.clear();
    const auto got =
        static_cast<sf_count_t>(std::fread(out + done, 1, static_cast<size_t>(count - done), s.in));
    done += got;
    s.at += got;
    s.base = s.at;
  }
  return done;
}

// After the header: nothing before the read position is wanted again.
static void stream_opened(Stream& s) {
  s.opening = false;
  const sf_count_t drop =
      std::clamp<sf_count_t>(s.at - s.base, 0, static_cast<sf_count_t>(s.kept.size()));
  s.kept.erase(s.kept.begin(), s.kept.begin() + drop);
  s.base += drop;
}

static sf_count_t stream_write(const void*, sf_count_t, void*) {
  return 0;
}

static sf_count_t stream_tell(void* user) {
  return static_cast<Stream*>(user)->at;
}

// A system error in the words of the other messages.
static std::string system_error(int error) {
  if (error == EACCES || error == EPERM) return "permission denied";
  return std::strerror(error);
}

// Why a path that libsndfile would not open cannot be read, in plain words.
static std::string open_failure(const char* path) {
  struct stat st {};
  if (stat(path, &st) != 0) return system_error(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory";
  // Opened and read here, since libsndfile's own message then names the system error as if
  // the format were at fault; and a size of 0 is also what files in /proc report.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), std::fclose);
  if (!file) return system_error(errno);
  if (std::fgetc(file.get()) == EOF) {
    return std::ferror(file.get()) ? system_error(errno) : "empty file";
  }
  return std::string("not a sound file that can be read (") + sf_strerror(nullptr) + ")";
}

// After a failed open, a header whose sample rate is 0 or beyond what libsndfile takes
// (4294967295 in a WAV header reads as -1) named as such; "" for any other failure.
// libsndfile's message for it says only "SF_INFO struct incomplete"; the log it keeps of
// a failed open has the rate it read.
static std::string invalid_rate_failure() {
  char log[8192] = {};
  sf_command(nullptr, SFC_GET_LOG_INFO, log, sizeof log);
  // The last mention is libsndfile's own summary of what it read.
  const char* mention = nullptr;
  for (const char* at = log; (at = strcasestr(at, "sample rate")) != nullptr; ++at) mention = at;
  if (!mention) return "";
  const char* value = mention + std::strlen("sample rate");
  value += std::strspn(value, " \t:");
  char* end = nullptr;
  const long long rate = std::strtoll(value, &end, 10);
  if (end == value || rate >= 1) return "";
  // A WAV or AU header holds the rate unsigned: show the number written there.
  const long long written = rate < 0 ? static_cast<uint32_t>(rate) : rate;
  return "invalid sample rate in the header: " + std::to_string(written) + "/s";
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
  if (n > 0) take.take(out.data(), static_cast<int32_t>(n));
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

// Channel `channel` of `n` frames of `channels` bytes each, into out[0..n-1].
static void pick_channel(const uint8_t* frames, int32_t n, int channels, int channel,
                         uint8_t* out) {
  if (channels == 2) {
    split_stereo(frames, n, channel, out);
  } else {
    for (int32_t i = 0; i < n; ++i) out[i] = frames[i * channels + channel];
  }
}

// The largest distance from the middle among `n` unsigned samples, from their lowest and
// highest value: two byte-wise reductions the compiler vectorises.
static int32_t peak_of(const uint8_t* samples, int32_t n) {
  uint8_t low = 128;
  uint8_t high = 128;
  for (int32_t i = 0; i < n; ++i) {
    low = std::min(low, samples[i]);
    high = std::max(high, samples[i]);
  }
  return std::max(high - 128, 128 - low);
}

// One piece of stored frames as read, with the peaks the hints look at.
struct StoredPiece {
  std::vector<uint8_t> bytes;  ///< interleaved frames
  std::vector<uint8_t> other;  ///< the other channel, for its peak
  std::vector<uint8_t> mono;   ///< the analysed channel, when picked by the reader
  int64_t frames = 0;
  int32_t other_peak = 0;
  int32_t peak = 0;  ///< of `mono`
};

static void make_piece(StoredPiece& p, int channels, int64_t frames, bool picked) {
  p.bytes.resize(static_cast<size_t>(frames * channels));
  p.other.resize(channels > 1 ? static_cast<size_t>(frames) : 0);
  p.mono.resize(picked ? static_cast<size_t>(frames) : 0);
}

// Reads a piece; with room for it in `mono`, picks the analysed channel there as well.
static void read_piece(SNDFILE* file, int channels, int source, StoredPiece& p) {
  p.frames = sf_read_raw(file, p.bytes.data(), static_cast<sf_count_t>(p.bytes.size())) / channels;
  const auto n = static_cast<int32_t>(p.frames);
  p.other_peak = 0;
  p.peak = 0;
  if (channels > 1 && n > 0) {
    // The other channel only for its peak, which the hints look at.
    pick_channel(p.bytes.data(), n, channels, source == 0 ? 1 : 0, p.other.data());
    p.other_peak = peak_of(p.other.data(), n);
  }
  if (!p.mono.empty() && n > 0) {
    pick_channel(p.bytes.data(), n, channels, source, p.mono.data());
    p.peak = peak_of(p.mono.data(), n);
  }
}

// Hands the analysed channel on: picked already, or out of the stored bytes straight
// into the receiver's buffer.
static void hand_on(const StoredPiece& p, int channels, int source, const SampleSink& take,
                    SoundFacts& facts) {
  facts.file_frames += p.frames;
  facts.other_peak = std::max(facts.other_peak, p.other_peak);
  if (!p.mono.empty()) {
    facts.peak = std::max(facts.peak, p.peak);
    if (p.frames > 0) take.take(p.mono.data(), static_cast<int32_t>(p.frames));
    return;
  }
  for (int64_t done = 0; done < p.frames;) {
    int32_t room = 0;
    uint8_t* to = take.room(room);
    const auto n = static_cast<int32_t>(std::min<int64_t>(room, p.frames - done));
    pick_channel(p.bytes.data() + done * channels, n, channels, source, to);
    facts.peak = std::max(facts.peak, peak_of(to, n));  // before slicing converts them
    take.filled(n);
    done += n;
  }
}

// 8-bit unsigned samples at the right rate are already what the slicer takes: the fast
// way, reading many blocks at once.
static void read_bytes(SNDFILE* file, int channels, int source, int64_t piece,
                       const SampleSink& take, SoundFacts& facts) {
  StoredPiece p;
  make_piece(p, channels, piece, false);
  for (;;) {
    read_piece(file, channels, source, p);
    hand_on(p, channels, source, take, facts);
    if (p.frames < piece || (take.stopped && take.stopped())) return;
  }
}

// A file, the fast way with the reading on a second core: the kernel's copy of the next
// pieces and the picking of both channels run while this thread decodes. The pieces go
// round; each one's word says whether it holds frames for the decoder or waits for the
// reader.
static void read_bytes_ahead(SNDFILE* file, int channels, int source, const SampleSink& take,
                             SoundFacts& facts) {
  constexpr int32_t for_reader = 0;
  constexpr int32_t for_decoder = 1;
  struct Slot {
    StoredPiece piece;
    std::atomic<int32_t> state{for_reader};
  };
  Slot slots[ahead_pieces];
  for (Slot& slot : slots) make_piece(slot.piece, channels, ahead_frames, true);
  std::atomic<bool> quit{false};
  const auto await = [](std::atomic<int32_t>& state, int32_t wanted) {
    for (int32_t now; (now = state.load(std::memory_order_acquire)) != wanted;)
      state.wait(now, std::memory_order_acquire);
  };
  const auto hand = [](std::atomic<int32_t>& state, int32_t to) {
    state.store(to, std::memory_order_release);
    state.notify_one();
  };
  std::thread reader;
  try {
    reader = std::thread([&] {
      for (int32_t k = 0;; k = (k + 1) % ahead_pieces) {
        await(slots[k].state, for_reader);
        if (quit.load(std::memory_order_relaxed)) return;
        read_piece(file, channels, source, slots[k].piece);
        const bool last = slots[k].piece.frames < ahead_frames;
        hand(slots[k].state, for_decoder);
        if (last) return;
      }
    });
  } catch (const std::system_error&) {
    read_bytes(file, channels, source, ahead_frames, take, facts);
    return;
  }
  for (int32_t k = 0;; k = (k + 1) % ahead_pieces) {
    await(slots[k].state, for_decoder);
    hand_on(slots[k].piece, channels, source, take, facts);
    const bool last = slots[k].piece.frames < ahead_frames;
    if (last || (take.stopped && take.stopped())) break;
    hand(slots[k].state, for_reader);
  }
  // Stopped early, the reader may wait for a piece or be reading one: either way it
  // finds the flag before its next read.
  quit.store(true, std::memory_order_relaxed);
  for (Slot& slot : slots) hand(slot.state, for_reader);
  reader.join();
}

// One channel on its way out of read_floats: its own rate converter and buffers.
struct Tap {
  int source;  ///< the channel
  const SampleSink* take;
  Resampler resampler;
  std::vector<float> mono;
  std::vector<uint8_t> bytes;
};

// Any other format, through floats and, when the rate differs, the rate converter; every
// tap's channel at once, the first the analysed one.
static std::string read_floats(SNDFILE* file, int channels, int64_t piece, std::vector<Tap>& taps,
                               SoundFacts& facts) {
  std::vector<float> frames(static_cast<size_t>(piece * channels));
  for (Tap& tap : taps) tap.mono.resize(static_cast<size_t>(piece));
  const int source = taps[0].source;
  const int other = source == 0 ? 1 : 0;
  const SampleSink& first = *taps[0].take;
  for (;;) {
    const sf_count_t got = sf_readf_float(file, frames.data(), piece);
    const bool last = got < piece;
    for (sf_count_t i = 0; i < got; ++i) {
      const float* frame = &frames[static_cast<size_t>(i * channels)];
      // A NaN is no level: the middle, which the slicer passes over, and not one that
      // would carry it into the rate converter's filter. An infinity is clipping, full
      // scale: in the filter it would turn every sample after it into NaN.
      for (Tap& tap : taps) {
        const float x = frame[tap.source];
        tap.mono[static_cast<size_t>(i)] = std::isnan(x)   ? 0.0f
                                           : std::isinf(x) ? std::copysign(1.0f, x)
                                                           : x;
      }
      facts.nan_samples += std::isnan(frame[source]) ? 1 : 0;
      facts.peak = std::max(facts.peak, std::abs(to_u8(frame[source]) - 128));
      if (channels > 1)
        facts.other_peak = std::max(facts.other_peak, std::abs(to_u8(frame[other]) - 128));
    }
    facts.file_frames += got;
    for (Tap& tap : taps) {
      if (tap.resampler.state) {
        const std::string failure =
            resample(tap.resampler, tap.mono.data(), got, last, tap.bytes, *tap.take);
        if (!failure.empty()) return failure;
      } else {
        take_floats(tap.mono.data(), got, tap.bytes, *tap.take);
      }
    }
    if (last || (first.stopped && first.stopped())) return "";
  }
}

std::string read_sound(const char* path, int channel, int rate, bool raw, const SampleSink& take,
                       SoundFacts& facts, bool read_ahead, const std::vector<ChannelSink>& more) {
  SF_INFO info{};
  if (raw) {
    // Headerless: as Tavrel records, interleaved left and right.
    info.format = SF_FORMAT_RAW | SF_FORMAT_PCM_U8;
    info.channels = 2;
    info.samplerate = sample_rate;
  }
  // Pipes and terminals, "-" for standard input, go through the stream; files are opened
  // by libsndfile itself, which may seek in them as it likes.
  struct stat st {};
  const bool is_stdin = std::strcmp(path, "-") == 0;
  const bool streamed =
      is_stdin || (stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode));
  Stream stream;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> owned(nullptr, std::fclose);
  SF_VIRTUAL_IO io{stream_length_of, stream_seek, stream_read, stream_write, stream_tell};
  SNDFILE* file = nullptr;
  if (streamed) {
    if (!is_stdin) owned.reset(std::fopen(path, "rb"));
    stream.in = is_stdin ? stdin : owned.get();
    if (!stream.in) return system_error(errno);
    file = sf_open_virtual(&io, SFM_READ, &info, &stream);
    stream_opened(stream);
  } else {
    file = sf_open(path, SFM_READ, &info);
  }
  if (!file) {
    if (std::string bad_rate = invalid_rate_failure(); !bad_rate.empty()) return bad_rate;
    if (streamed) {
      return stream.kept.empty() && stream.base == 0
                 ? "empty stream"
                 : std::string("not a sound stream that can be read (") + sf_strerror(nullptr) +
                       ")";
    }
    return open_failure(path);
  }
  facts.opened = true;
  facts.file_rate = info.samplerate;
  facts.channels = info.channels;
  facts.file_frames = 0;
  facts.peak = 0;
  facts.nan_samples = 0;
  facts.other_peak = info.channels > 1 ? 0 : -1;
  if (info.channels < 1 || info.samplerate < 1) {
    sf_close(file);
    return "no channels or no sample rate";
  }
  const int source = info.channels == 1 && more.empty() ? 0 : channel;
  // Every channel asked for must be there.
  int highest = source;
  for (const ChannelSink& c : more) highest = std::max(highest, c.channel);
  if (highest >= info.channels) {
    sf_close(file);
    return "it has " + std::to_string(info.channels) + " channel" +
           (info.channels == 1 ? "" : "s") + ": there is no channel " + std::to_string(highest + 1);
  }
  if (rate <= 0) rate = info.samplerate;
  if (take.start) take.start(rate);
  for (const ChannelSink& c : more)
    if (c.sink.start) c.sink.start(rate);
  const int64_t piece =
      streamed ? std::max<int64_t>(1, info.samplerate / stream_pieces) : read_frames;

  // Each channel handed on has its own rate converter when the rate differs.
  std::vector<Tap> taps;
  taps.push_back({source, &take, {}, {}, {}});
  for (const ChannelSink& c : more) taps.push_back({c.channel, &c.sink, {}, {}, {}});
  const auto end_taps = [&taps] {
    for (Tap& tap : taps)
      if (tap.resampler.state) src_delete(tap.resampler.state);
  };
  if (info.samplerate != rate) {
    const double ratio = static_cast<double>(rate) / info.samplerate;
    if (!src_is_valid_ratio(ratio)) {
      sf_close(file);
      return "sample rate " + std::to_string(info.samplerate) + "/s cannot be converted to " +
             std::to_string(rate) + "/s";
    }
    for (Tap& tap : taps) {
      int error = 0;
      tap.resampler.ratio = ratio;
      tap.resampler.state = src_new(SRC_SINC_FASTEST, 1, &error);
      if (!tap.resampler.state) {
        end_taps();
        sf_close(file);
        return src_strerror(error);
      }
      tap.resampler.out.resize(static_cast<size_t>(chunk_frames * ratio) + 64);
    }
  }

  std::string failure;
  if (more.empty() && info.samplerate == rate &&
      (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8) {
    // A short file is read before a thread would have started.
    if (read_ahead && !streamed && info.frames > ahead_pieces * ahead_frames) {
      read_bytes_ahead(file, info.channels, source, take, facts);
    } else {
      read_bytes(file, info.channels, source, piece, take, facts);
    }
  } else {
    failure = read_floats(file, info.channels, streamed ? piece : chunk_frames, taps, facts);
  }

  if (failure.empty() && sf_error(file) != SF_ERR_NO_ERROR) {
    failure = std::string("cannot be read to the end (") + sf_strerror(file) + ")";
  }
  // A raw stream promises nothing; a stream's header may (WAV, and FLAC with its count).
  const bool promised = !(streamed && raw) && info.frames < promised_frames_limit;
  // Stopped on request, a stream is as long as it was read.
  const bool stopped = take.stopped && take.stopped();
  if (failure.empty() && !stopped &&
      ((promised && facts.file_frames < info.frames) || header_promises_more(file))) {
    failure = "truncated: the header promises more samples than the file holds";
  }
  end_taps();
  sf_close(file);
  return failure;
}

}  // namespace tavrel
