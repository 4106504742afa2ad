// The tools' live input over ALSA, and the list of capture devices.
// ALSA calls: snd_pcm_open, snd_pcm_hw_params_*, snd_pcm_sw_params_*, snd_pcm_start,
// snd_pcm_wait, snd_pcm_readi, snd_pcm_recover, snd_pcm_close, snd_card_next,
// snd_ctl_open, snd_ctl_card_info, snd_ctl_pcm_next_device, snd_ctl_pcm_info, snd_ctl_close,
// snd_config_update, snd_config_search_definition, snd_device_name_hint,
// snd_lib_error_set_handler.
//
// Two threads. The capture thread owns the PCM from open to close and writes 8-bit frames
// into a ring; the caller's thread takes them out in 20 ms pieces, hands them on and
// watches the stop flag. They share one LiveShared, which the capture thread keeps alive
// when it is left behind in a stuck call at the end.

#include "io/live_alsa.hpp"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "io/sound_in.hpp"

namespace tavrel {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int32_t stall_ms = 2000;          ///< no sound this long: the input is lost
constexpr int32_t first_pause_ms = 500;     ///< pause before the first new opening
constexpr int32_t longest_pause_ms = 5000;  ///< the pause doubles up to this
constexpr int32_t poll_ms = 100;           ///< longest wait before the capture thread looks at quit
constexpr int32_t stop_poll_ms = 50;       ///< the same for the caller's thread and its stop flag
constexpr int32_t leave_ms = 200;          ///< how long the end waits for the capture thread
constexpr uint32_t period_us = 50000;      ///< ALSA period: the capture thread wakes this often
constexpr uint32_t buffer_us = 500000;     ///< ALSA buffer: sound the device holds for us
constexpr int32_t ring_seconds = 2;        ///< sound held for the caller's thread
constexpr int32_t pieces_per_second = 50;  ///< 20 ms pieces to the sink

// ALSA prints its own messages on standard error (a pulse plugin that cannot connect,
// a failed recovery); ours say the same once, in the tool's words.
static void drop_alsa_message(const char*, int, const char*, int, const char*, ...) {}

static std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string resolve_capture_device(const std::string& device, bool defined,
                                   const std::vector<CaptureCard>& cards, std::string& pcm) {
  // "hw:1,0", "plughw:CARD=USB": a PCM with arguments is ALSA's to judge.
  if (defined || device.find(':') != std::string::npos) {
    pcm = device;
    return "";
  }
  const std::string part = lower(device);
  std::vector<const CaptureCard*> fits;
  for (const CaptureCard& card : cards) {
    if (lower(card.id) == part) {  // the card's own short name beats a part of another's
      fits = {&card};
      break;
    }
    if (lower(card.id).find(part) != std::string::npos ||
        lower(card.name).find(part) != std::string::npos ||
        lower(card.long_name).find(part) != std::string::npos)
      fits.push_back(&card);
  }
  if (fits.empty())
    return "no capture device or sound card is named \"" + device +
           "\" (--list-devices shows them)";
  if (fits.size() > 1) {
    std::string names;
    for (const CaptureCard* card : fits)
      names += (names.empty() ? "" : ", ") + card->name + " (card " + std::to_string(card->number) +
               ", " + card->id + ")";
    return "\"" + device + "\" fits several sound cards: " + names + "; give more of the name";
  }
  const CaptureCard& card = *fits.front();
  if (card.devices.empty())
    return "the sound card " + card.name + " (card " + std::to_string(card.number) +
           ") has no capture device";
  pcm = "plughw:CARD=" + card.id + ",DEV=" + std::to_string(card.devices.front());
  return "";
}

// The cards and their capture devices, as the kernel's ALSA driver tells of them.
static std::vector<CaptureCard> capture_cards() {
  std::vector<CaptureCard> cards;
  snd_ctl_card_info_t* info = nullptr;
  snd_pcm_info_t* pcm_info = nullptr;
  snd_ctl_card_info_malloc(&info);
  snd_pcm_info_malloc(&pcm_info);
  for (int number = -1; snd_card_next(&number) == 0 && number >= 0;) {
    const std::string hw = "hw:" + std::to_string(number);
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, hw.c_str(), 0) < 0) continue;
    CaptureCard card{number, "", "", "", {}, {}};
    if (snd_ctl_card_info(ctl, info) == 0) {
      card.id = snd_ctl_card_info_get_id(info);
      card.name = snd_ctl_card_info_get_name(info);
      card.long_name = snd_ctl_card_info_get_longname(info);
    }
    for (int device = -1; snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0;) {
      snd_pcm_info_set_device(pcm_info, static_cast<unsigned>(device));
      snd_pcm_info_set_subdevice(pcm_info, 0);
      snd_pcm_info_set_stream(pcm_info, SND_PCM_STREAM_CAPTURE);
      if (snd_ctl_pcm_info(ctl, pcm_info) < 0) continue;
      card.devices.push_back(device);
      card.pcms.push_back(snd_pcm_info_get_name(pcm_info));
    }
    snd_ctl_close(ctl);
    cards.push_back(card);
  }
  snd_pcm_info_free(pcm_info);
  snd_ctl_card_info_free(info);
  return cards;
}

// Whether ALSA's configuration (alsa.conf, its conf.d and ~/.asoundrc) defines `name`.
// Looked up, not expanded: "default" without a sound card or server fails to expand, yet
// is the device to wait for.
static bool defined_pcm(const std::string& name) {
  if (snd_config_update() < 0) return false;
  snd_config_t* found = nullptr;
  return snd_config_search(snd_config, ("pcm." + name).c_str(), &found) == 0;
}

// The PCM that `device` stands for now; "" and the reason when none.
static std::string current_pcm(const std::string& device, std::string& pcm) {
  const bool defined = device.find(':') == std::string::npos && defined_pcm(device);
  return resolve_capture_device(device, defined,
                                defined ? std::vector<CaptureCard>{} : capture_cards(), pcm);
}

// The sample formats a device may give, best first, and how each becomes 8-bit unsigned.
enum class Format : uint8_t { u8, s16, s24_3, s32, float32 };
struct FormatRow {
  snd_pcm_format_t alsa;
  Format format;
  int32_t bytes;  ///< per sample
};
constexpr FormatRow format_rows[] = {
    {SND_PCM_FORMAT_U8, Format::u8, 1},         {SND_PCM_FORMAT_S16, Format::s16, 2},
    {SND_PCM_FORMAT_S24_3LE, Format::s24_3, 3}, {SND_PCM_FORMAT_S32, Format::s32, 4},
    {SND_PCM_FORMAT_FLOAT, Format::float32, 4},
};

// A signed sample of `bits` bits (held in an int64) as 8-bit unsigned, rounded, clipped.
static uint8_t signed_to_u8(int64_t v, int bits) {
  const int shift = bits - 8;
  const int64_t u = (v + (int64_t{1} << (bits - 1)) + (int64_t{1} << (shift - 1))) >> shift;
  return static_cast<uint8_t>(std::clamp<int64_t>(u, 0, 255));
}

static void convert(Format format, const uint8_t* in, int64_t samples, uint8_t* out) {
  for (int64_t i = 0; i < samples; ++i) {
    switch (format) {
      case Format::u8:
        out[i] = in[i];
        break;
      case Format::s16: {
        int16_t v;
        std::memcpy(&v, in + 2 * i, 2);
        out[i] = signed_to_u8(v, 16);
        break;
      }
      case Format::s24_3: {
        const uint8_t* p = in + 3 * i;
        const int32_t v = p[0] | p[1] << 8 | static_cast<int8_t>(p[2]) * 65536;
        out[i] = signed_to_u8(v, 24);
        break;
      }
      case Format::s32: {
        int32_t v;
        std::memcpy(&v, in + 4 * i, 4);
        out[i] = signed_to_u8(v, 32);
        break;
      }
      case Format::float32: {
        float v;
        std::memcpy(&v, in + 4 * i, 4);
        out[i] = to_u8(v);
        break;
      }
    }
  }
}

// An open capture PCM as the capture thread reads it.
struct OpenPcm {
  snd_pcm_t* pcm = nullptr;
  Format format = Format::u8;
  int32_t bytes = 1;     ///< per sample
  int32_t channels = 0;  ///< per frame
  int32_t rate = 0;      ///< frames per second
  snd_pcm_uframes_t period = 0;
};

static std::string alsa_error(const char* what, int error) {
  return std::string(what) + ": " + snd_strerror(error);
}

// Opens `name` for `choice` and starts it. "" or why not, as the words after "sound input
// NAME"; `lasting` when trying again cannot help (the device lacks the channels or any
// format we read).
static std::string open_pcm(const std::string& name, const LiveChoice& choice, OpenPcm& out,
                            bool& lasting) {
  lasting = false;
  int e = snd_pcm_open(&out.pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (e < 0) {
    out.pcm = nullptr;
    return std::string("cannot be opened: ") + snd_strerror(e);
  }
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  snd_pcm_hw_params_any(out.pcm, hw);
  std::string problem;
  const auto fail = [&](std::string why, bool last) {
    problem = std::move(why);
    lasting = last;
  };
  if ((e = snd_pcm_hw_params_set_access(out.pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0) {
    fail(alsa_error("offers no interleaved access", e), true);
  }
  const FormatRow* row = nullptr;
  for (const FormatRow& r : format_rows) {
    if (!problem.empty() || snd_pcm_hw_params_test_format(out.pcm, hw, r.alsa) != 0) continue;
    row = &r;
    break;
  }
  if (problem.empty() && !row) fail("records in no sample format that Tavrel reads", true);
  unsigned most = 0;
  if (problem.empty()) {
    snd_pcm_hw_params_set_format(out.pcm, hw, row->alsa);
    snd_pcm_hw_params_get_channels_max(hw, &most);
    if (most < static_cast<unsigned>(choice.channels))
      fail("records " + std::to_string(most) + " channel" + (most == 1 ? "" : "s") + ", " +
               std::to_string(choice.channels) + " are needed",
           true);
  }
  if (problem.empty()) {
    // Two channels at least where there are two: the plug layer mixes a stereo device
    // down for one, which would blend a tag on one side with whatever is on the other.
    unsigned channels = std::max<unsigned>(static_cast<unsigned>(choice.channels), 2);
    channels = std::min(channels, most);
    if ((e = snd_pcm_hw_params_set_channels_near(out.pcm, hw, &channels)) < 0 ||
        channels < static_cast<unsigned>(choice.channels))
      fail("offers no channel count of " + std::to_string(choice.channels) + " or more", true);
    out.channels = static_cast<int32_t>(channels);
  }
  unsigned rate = static_cast<unsigned>(choice.rate);
  unsigned period = period_us;
  unsigned buffer = buffer_us;
  if (problem.empty() && choice.any_rate &&
      (e = snd_pcm_hw_params_set_rate_near(out.pcm, hw, &rate, nullptr)) < 0)
    fail(alsa_error("offers no sample rate", e), true);
  if (problem.empty() && !choice.any_rate && snd_pcm_hw_params_set_rate(out.pcm, hw, rate, 0) < 0)
    fail("does not record at " + std::to_string(rate) + "/s (--robust decodes any rate)", true);
  if (problem.empty()) {
    snd_pcm_hw_params_set_buffer_time_near(out.pcm, hw, &buffer, nullptr);
    snd_pcm_hw_params_set_period_time_near(out.pcm, hw, &period, nullptr);
    if ((e = snd_pcm_hw_params(out.pcm, hw)) < 0) fail(alsa_error("cannot be set up", e), false);
  }
  if (problem.empty()) {
    snd_pcm_hw_params_get_period_size(hw, &out.period, nullptr);
    out.format = row->format;
    out.bytes = row->bytes;
    out.rate = static_cast<int32_t>(rate);
    if ((e = snd_pcm_start(out.pcm)) < 0) fail(alsa_error("cannot be started", e), false);
  }
  if (!problem.empty()) {
    snd_pcm_close(out.pcm);
    out.pcm = nullptr;
  }
  return problem;
}

// What the two threads share; guarded by `lock` but for `quit`.
struct LiveShared {
  std::mutex lock;
  std::condition_variable wake;       ///< to the caller's thread: sound, a line, the end
  std::condition_variable quit_wake;  ///< to the capture thread: quit
  std::atomic<bool> quit{false};      ///< set once, under the lock, by the caller's thread
  bool done = false;                  ///< the capture thread has ended
  std::string refusal;                ///< why the choice cannot work, or ""
  int32_t rate = 0;                   ///< frames per second, from the first opening on
  int32_t channels = 0;               ///< per frame
  std::vector<uint8_t> ring;          ///< 8-bit frames, interleaved
  int64_t ring_frames = 0;            ///< frames the ring holds
  int64_t written = 0;                ///< frames written into the ring so far
  int64_t taken = 0;                  ///< frames taken out so far
  bool behind = false;                ///< the caller fell behind and has not caught up
  std::vector<std::string> lines;     ///< for standard error, in order
};

static void say(LiveShared& s, std::string line) {
  std::lock_guard<std::mutex> hold(s.lock);
  s.lines.push_back(std::move(line));
  s.wake.notify_one();
}

// Waits `ms` or until quit; true when quit.
static bool pause_for(LiveShared& s, int32_t ms) {
  std::unique_lock<std::mutex> hold(s.lock);
  return s.quit_wake.wait_for(hold, milliseconds(ms), [&] { return s.quit.load(); });
}

// Writes `n` converted frames; the oldest are dropped when the caller lags two seconds.
static void put_frames(LiveShared& s, const uint8_t* frames, int64_t n) {
  std::lock_guard<std::mutex> hold(s.lock);
  const int64_t width = s.channels;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t at = (s.written + i) % s.ring_frames * width;
    std::copy(frames + i * width, frames + (i + 1) * width, s.ring.begin() + at);
  }
  s.written += n;
  if (s.written - s.taken > s.ring_frames) {
    if (!s.behind) {
      s.lines.push_back("the decoding fell " + std::to_string(ring_seconds) +
                        " s behind the sound input: the oldest sound is dropped");
    }
    s.behind = true;
    s.taken = s.written - s.ring_frames;
  }
  s.wake.notify_one();
}

// Reads an open PCM until it fails, stalls or quit; returns why it ended ("" on quit).
static std::string read_pcm(LiveShared& s, OpenPcm& p, const std::string& label, bool& lost,
                            bool& had_sound, Clock::time_point& lost_since, int32_t& pause) {
  const snd_pcm_uframes_t chunk = std::max<snd_pcm_uframes_t>(p.period, 256);
  std::vector<uint8_t> raw(chunk * static_cast<size_t>(p.channels * p.bytes));
  std::vector<uint8_t> frames(chunk * static_cast<size_t>(p.channels));
  Clock::time_point last_sound = Clock::now();
  while (!s.quit.load()) {
    int e = snd_pcm_wait(p.pcm, poll_ms);
    snd_pcm_sframes_t n = e < 0 ? e : snd_pcm_readi(p.pcm, raw.data(), chunk);
    if (n > 0) {
      convert(p.format, raw.data(), n * p.channels, frames.data());
      put_frames(s, frames.data(), n);
      last_sound = Clock::now();
      if (lost) {
        const double gone = std::chrono::duration<double>(last_sound - lost_since).count();
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", gone);
        say(s, "sound input " + label + (had_sound ? " is back after " : " is open after ") + text +
                   " s");
        lost = false;
      }
      had_sound = true;
      pause = first_pause_ms;
      continue;
    }
    if (n == -EAGAIN || n == 0) {
      if (Clock::now() - last_sound > milliseconds(stall_ms))
        return "no sound for " + std::to_string(stall_ms / 1000) + " s";
      continue;
    }
    // An overrun, or a suspended device: ALSA says how to go on. A sound server that
    // went away reports an overrun too, and its recovery then fails.
    e = snd_pcm_recover(p.pcm, static_cast<int>(n), 1);
    if (e < 0) return snd_strerror(static_cast<int>(n));
    snd_pcm_start(p.pcm);
    if (Clock::now() - last_sound > milliseconds(stall_ms))
      return "no sound for " + std::to_string(stall_ms / 1000) + " s";
  }
  return "";
}

// The capture thread: open, read, and on a loss say so, pause and open again, until quit.
static void capture_run(const std::shared_ptr<LiveShared>& shared, const LiveChoice& choice) {
  LiveShared& s = *shared;
  const std::string label = "\"" + choice.device + "\"";
  bool first = true;
  bool lost = false;  // said lost or unopened, and not back yet
  bool ever_open = false;
  bool had_sound = false;
  Clock::time_point lost_since = Clock::now();
  int32_t pause = first_pause_ms;
  while (!s.quit.load()) {
    // ALSA reads its configuration once, and the pulse plugin's hook makes "default" the
    // sound server only when one runs at that moment: read afresh, so that a server
    // started (or restarted) after us is found. Only this thread uses ALSA here.
    if (!first) snd_config_update_free_global();
    std::string pcm;
    bool lasting = true;
    std::string problem = current_pcm(choice.device, pcm);
    OpenPcm p;
    if (problem.empty()) {
      const std::string why = open_pcm(pcm, choice, p, lasting);
      if (!why.empty()) problem = "sound input " + label + " " + why;
    }
    if (problem.empty() && ever_open && (p.rate != s.rate || p.channels != s.channels)) {
      problem = "sound input " + label + " now records " + std::to_string(p.channels) +
                " channels at " + std::to_string(p.rate) + "/s, not as before";
      snd_pcm_close(p.pcm);
      p.pcm = nullptr;
    }
    if (problem.empty()) {
      if (!ever_open) {
        std::lock_guard<std::mutex> hold(s.lock);
        s.rate = p.rate;
        s.channels = p.channels;
        s.ring_frames = int64_t{ring_seconds} * p.rate;
        s.ring.assign(static_cast<size_t>(s.ring_frames * p.channels), 128);
      }
      ever_open = true;
    }
    if (first) {
      std::lock_guard<std::mutex> hold(s.lock);
      if (!problem.empty() && lasting) s.refusal = problem;
      s.wake.notify_one();
      first = false;
      if (!s.refusal.empty()) break;
    }
    if (problem.empty()) {
      problem = read_pcm(s, p, label, lost, had_sound, lost_since, pause);
      // Said before closing: the pulse plugin's close waits seconds for a hung server.
      if (!problem.empty() && !lost) {
        say(s, "sound input " + label + " lost: " + problem + "; opening it again");
        lost = true;
        lost_since = Clock::now();
      }
      snd_pcm_close(p.pcm);
      if (problem.empty()) break;  // quit
    } else if (!lost) {
      say(s, problem + "; trying again");
      lost = true;
      lost_since = Clock::now();
    }
    if (pause_for(s, pause)) break;
    pause = std::min(2 * pause, longest_pause_ms);
  }
  std::lock_guard<std::mutex> hold(s.lock);
  s.done = true;
  s.wake.notify_one();
}

std::string read_live_alsa(const LiveChoice& choice, const LiveSink& sink,
                           const std::atomic<bool>& stop) {
  snd_lib_error_set_handler(drop_alsa_message);
  const auto shared = std::make_shared<LiveShared>();
  LiveShared& s = *shared;
  std::thread capture([shared, choice] { capture_run(shared, choice); });
  std::vector<std::vector<uint8_t>> planes;
  std::vector<const uint8_t*> plane_at;
  bool started = false;
  std::string refusal;
  int32_t channels = 0;
  int32_t rate = 0;
  int32_t piece = 0;
  while (!stop.load()) {
    std::vector<std::string> lines;
    bool start_now = false;
    int32_t n = 0;
    {
      std::unique_lock<std::mutex> hold(s.lock);
      // A signal handler cannot wake us: the stop flag is looked at every stop_poll_ms.
      s.wake.wait_for(hold, milliseconds(stop_poll_ms), [&] {
        return stop.load() || !s.refusal.empty() || !s.lines.empty() || s.written > s.taken;
      });
      if (!s.refusal.empty()) {
        refusal = s.refusal;
        break;
      }
      lines.swap(s.lines);
      if (!started && s.rate > 0) {
        start_now = true;
        rate = s.rate;
        channels = s.channels;
        piece = std::max(1, rate / pieces_per_second);
        planes.assign(static_cast<size_t>(channels), std::vector<uint8_t>(piece));
        for (const auto& plane : planes) plane_at.push_back(plane.data());
      }
      if (started || start_now) {
        n = static_cast<int32_t>(std::min<int64_t>(s.written - s.taken, piece));
        for (int32_t i = 0; i < n; ++i) {
          const uint8_t* frame = &s.ring[(s.taken + i) % s.ring_frames * channels];
          for (int32_t c = 0; c < channels; ++c) planes[c][i] = frame[c];
        }
        s.taken += n;
        if (s.written - s.taken < s.ring_frames / 2) s.behind = false;
      }
    }
    for (const std::string& line : lines)
      if (sink.say) sink.say(line);
    if (start_now) {
      started = true;
      if (sink.start) sink.start(rate, channels);
    }
    if (n > 0 && sink.take) sink.take(plane_at.data(), n);
  }
  {
    std::unique_lock<std::mutex> hold(s.lock);
    s.quit.store(true);
    s.quit_wake.notify_one();
    s.wake.wait_for(hold, milliseconds(leave_ms), [&] { return s.done; });
  }
  // A capture thread stuck in a plugin call is left to end by itself; it holds `shared`.
  if (s.done) {
    capture.join();
  } else {
    capture.detach();
  }
  return refusal;
}

// Channels of the PCM `name` for capture, or why it could not be asked.
static void ask_channels(CaptureDevice& d, const std::string& name) {
  snd_pcm_t* pcm = nullptr;
  const int e = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (e < 0) {
    d.problem = snd_strerror(e);
    d.error = e;
    return;
  }
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  unsigned low = 0;
  unsigned high = 0;
  if (snd_pcm_hw_params_any(pcm, hw) >= 0 && snd_pcm_hw_params_get_channels_min(hw, &low) >= 0 &&
      snd_pcm_hw_params_get_channels_max(hw, &high) >= 0) {
    d.channels_min = static_cast<int32_t>(low);
    d.channels_max = static_cast<int32_t>(high);
  } else {
    d.problem = "it does not say";
  }
  snd_pcm_close(pcm);
}

static std::string one_line(const char* text) {
  std::string s = text ? text : "";
  for (size_t at; (at = s.find('\n')) != std::string::npos;) s.replace(at, 1, ", ");
  return s;
}

std::vector<CaptureDevice> capture_devices() {
  snd_lib_error_set_handler(drop_alsa_message);
  // Some plugins' libraries write their failures to standard error themselves (libjack
  // does, when no JACK server runs): quiet while the devices are asked.
  std::fflush(stderr);
  const int saved_stderr = dup(STDERR_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, STDERR_FILENO);
  std::vector<CaptureDevice> out;
  CaptureDevice fallback{"default", "ALSA's default device", 0, 0, "", 0};
  ask_channels(fallback, fallback.name);
  out.push_back(fallback);
  // The named PCMs (pulse, pipewire, ...); the per-card ones ("front:CARD=...") are left
  // to the cards below. Plugins with nothing to record from say "no such file" (the rate
  // converters, oss without /dev/dsp) and are left out.
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) == 0) {
    for (void** h = hints; *h; ++h) {
      char* name = snd_device_name_get_hint(*h, "NAME");
      char* description = snd_device_name_get_hint(*h, "DESC");
      char* direction = snd_device_name_get_hint(*h, "IOID");
      const bool records = !direction || std::string(direction) == "Input";
      if (name && records && std::strchr(name, ':') == nullptr && std::string(name) != "null") {
        CaptureDevice d{name, one_line(description), 0, 0, "", 0};
        ask_channels(d, name);
        if (d.name == "default") {
          out.front() = d;
        } else if (d.error != -ENOENT) {
          out.push_back(d);
        }
      }
      std::free(name);
      std::free(description);
      std::free(direction);
    }
    snd_device_name_free_hint(hints);
  }
  for (const CaptureCard& card : capture_cards()) {
    for (size_t k = 0; k < card.devices.size(); ++k) {
      const std::string device = std::to_string(card.devices[k]);
      // --device takes the card's short name for its first capture device.
      const std::string plug = k == 0 ? card.id : "plughw:CARD=" + card.id + ",DEV=" + device;
      CaptureDevice d{"hw:CARD=" + card.id + ",DEV=" + device,
                      card.name + ": " + card.pcms[k] + " (card " + std::to_string(card.number) +
                          "; --device " + plug + " records it through the plug layer)",
                      0,
                      0,
                      "",
                      0};
      ask_channels(d, d.name);
      out.push_back(d);
    }
  }
  if (saved_stderr >= 0) {
    dup2(saved_stderr, STDERR_FILENO);
    close(saved_stderr);
  }
  if (null >= 0) close(null);
  return out;
}

}  // namespace tavrel
