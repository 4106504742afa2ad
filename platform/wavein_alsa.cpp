// Wave input on Linux: the winmm wave-input calls over ALSA's "default" capture PCM.
// ALSA calls: snd_pcm_open, snd_pcm_set_params, snd_pcm_start, snd_pcm_wait, snd_pcm_readi,
// snd_pcm_recover, snd_pcm_drop, snd_pcm_prepare, snd_pcm_close, snd_lib_error_set_handler.
//
// While the device is open one capture thread owns the PCM: it fills the oldest queued
// buffer and hands each full one to the callback, so callbacks never overlap, as with
// winmm. Stop and reset are carried out on that thread too, while the caller waits; so
// none of these calls may be made from the callback, except waveInAddBuffer.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/wavein.hpp"

namespace tavrel {

constexpr unsigned int pcm_latency_us = 200000;  ///< ALSA buffer: room for 200 ms of sound
constexpr int poll_ms = 50;  ///< longest wait for sound before the thread looks at commands

enum class Command : int32_t { none, stop, reset, quit };

struct WaveInDevice {
  std::mutex lock;                  ///< guards all below but the PCM's own state
  std::condition_variable wake;     ///< to the capture thread: a buffer, a start, a command
  std::condition_variable done;     ///< to the caller: the command has been carried out
  std::thread thread;               ///< the capture thread, from open to close
  snd_pcm_t* pcm = nullptr;         ///< the capture thread's, except in open, start and close
  WaveInProc callback = nullptr;    ///< nullptr for CALLBACK_NULL
  DWORD_PTR instance = 0;           ///< passed back to the callback
  DWORD frame_bytes = 0;            ///< bytes per sample frame
  DWORD chunk_frames = 0;           ///< most sample frames taken in one read: 20 ms
  WAVEHDR* head = nullptr;          ///< oldest queued buffer, the one being filled
  WAVEHDR* tail = nullptr;          ///< newest queued buffer
  bool open = false;                ///< from waveInOpen to waveInClose
  bool running = false;             ///< from waveInStart to waveInStop or waveInReset
  Command command = Command::none;  ///< for the capture thread; none again once done
};

// Never destroyed: a process may end with the device open, and destroying a running
// std::thread would abort it.
static WaveInDevice& device = *new WaveInDevice;

static bool valid(HWAVEIN hwi) {
  return hwi == &device && device.open;
}

static bool alsa_format(const WAVEFORMATEX& format, snd_pcm_format_t* alsa) {
  if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels == 0 || format.nSamplesPerSec == 0 ||
      format.nBlockAlign != format.nChannels * format.wBitsPerSample / 8) {
    return false;
  }
  switch (format.wBitsPerSample) {
    case 8:
      *alsa = SND_PCM_FORMAT_U8;  // unsigned, as in winmm
      return true;
    case 16:
      *alsa = SND_PCM_FORMAT_S16_LE;
      return true;
    default:
      return false;
  }
}

// Under the lock.
static WAVEHDR* take_head() {
  WAVEHDR* header = device.head;
  device.head = header->lpNext;
  if (!device.head) device.tail = nullptr;
  header->lpNext = nullptr;
  return header;
}

// Marks a buffer done and gives it to the callback, without the lock so that the
// callback can queue it again. Capture thread.
static void deliver(std::unique_lock<std::mutex>& hold, WAVEHDR* header) {
  header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  const WaveInProc callback = device.callback;
  const DWORD_PTR instance = device.instance;
  hold.unlock();
  if (callback) callback(&device, WIM_DATA, instance, reinterpret_cast<DWORD_PTR>(header), 0);
  hold.lock();
}

// After an overrun or a suspend, as the ALSA docs advise: snd_pcm_recover, then start
// again, since a capture stream stays prepared until started. A PCM that is gone is
// tried again after a pause instead of in a busy loop.
static void recover(int error) {
  if (snd_pcm_recover(device.pcm, error, 1) == 0 && snd_pcm_start(device.pcm) == 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
}

// Reads what the PCM has for `header`, waiting at most poll_ms for it. Returns true
// when the buffer is full. Capture thread, without the lock.
static bool fill(WAVEHDR* header) {
  const DWORD room = (header->dwBufferLength - header->dwBytesRecorded) / device.frame_bytes;
  if (room == 0) return true;
  const int ready = snd_pcm_wait(device.pcm, poll_ms);
  if (ready == 0) return false;
  const snd_pcm_sframes_t got =
      ready < 0 ? ready
                : snd_pcm_readi(device.pcm, header->lpData + header->dwBytesRecorded,
                                std::min(room, device.chunk_frames));
  if (got == -EAGAIN) return false;
  if (got < 0) {
    recover(static_cast<int>(got));
    return false;
  }
  header->dwBytesRecorded += static_cast<DWORD>(got) * device.frame_bytes;
  return header->dwBufferLength - header->dwBytesRecorded < device.frame_bytes;
}

// Stop: the partly filled buffer comes back, empty ones stay queued. Reset: every
// buffer queued now comes back, in order. Capture thread, under the lock.
static void carry_out(std::unique_lock<std::mutex>& hold) {
  if (device.running) {
    device.running = false;
    snd_pcm_drop(device.pcm);
    snd_pcm_prepare(device.pcm);
  }
  if (device.command == Command::stop) {
    if (device.head && device.head->dwBytesRecorded > 0) deliver(hold, take_head());
  } else {
    WAVEHDR* header = device.head;
    device.head = device.tail = nullptr;
    while (header) {
      WAVEHDR* next = header->lpNext;
      header->lpNext = nullptr;
      deliver(hold, header);
      header = next;
    }
  }
  device.command = Command::none;
  device.done.notify_all();
}

static void capture_thread() {
  std::unique_lock<std::mutex> hold(device.lock);
  for (;;) {
    device.wake.wait(
        hold, [] { return device.command != Command::none || (device.running && device.head); });
    if (device.command == Command::quit) return;
    if (device.command != Command::none) {
      carry_out(hold);
      continue;
    }
    WAVEHDR* header = device.head;
    hold.unlock();
    const bool full = fill(header);
    hold.lock();
    if (full) deliver(hold, take_head());
  }
}

// Hands a command to the capture thread and waits until it has been carried out.
static MMRESULT command(HWAVEIN hwi, Command what) {
  std::unique_lock<std::mutex> hold(device.lock);
  if (!valid(hwi)) return MMSYSERR_INVALHANDLE;
  device.command = what;
  device.wake.notify_all();
  device.done.wait(hold, [] { return device.command == Command::none; });
  return MMSYSERR_NOERROR;
}

// ALSA writes its own diagnostics ("ALSA lib pcm.c:...") to standard error; the program
// reports a failed open in its own words, so they are dropped.
static void drop_alsa_message(const char*, int, const char*, int, const char*, ...) {}

MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen) {
  if (!phwi || !pwfx) return MMSYSERR_INVALPARAM;
  if (uDeviceID != WAVE_MAPPER && uDeviceID != 0) return MMSYSERR_BADDEVICEID;
  const DWORD callback_kind = fdwOpen & CALLBACK_TYPEMASK;
  if (callback_kind != CALLBACK_FUNCTION && callback_kind != CALLBACK_NULL) {
    return MMSYSERR_INVALFLAG;
  }
  snd_pcm_format_t format;
  if (!alsa_format(*pwfx, &format)) return WAVERR_BADFORMAT;
  {
    std::lock_guard<std::mutex> hold(device.lock);
    if (device.open) return MMSYSERR_ALLOCATED;
    snd_lib_error_set_handler(drop_alsa_message);
    snd_pcm_t* pcm = nullptr;
    const int opened = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (opened == -EBUSY) return MMSYSERR_ALLOCATED;
    if (opened < 0) return MMSYSERR_NODRIVER;
    if (snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED, pwfx->nChannels,
                           pwfx->nSamplesPerSec, 1, pcm_latency_us) < 0) {
      snd_pcm_close(pcm);
      return WAVERR_BADFORMAT;
    }
    device.pcm = pcm;
    device.callback =
        callback_kind == CALLBACK_FUNCTION ? reinterpret_cast<WaveInProc>(dwCallback) : nullptr;
    device.instance = dwInstance;
    device.frame_bytes = pwfx->nBlockAlign;
    device.chunk_frames = std::max<DWORD>(1, pwfx->nSamplesPerSec / 50);
    device.head = device.tail = nullptr;
    device.running = false;
    device.command = Command::none;
    try {
      device.thread = std::thread(capture_thread);
    } catch (const std::system_error&) {
      snd_pcm_close(pcm);
      device.pcm = nullptr;
      return MMSYSERR_NOMEM;
    }
    device.open = true;
    *phwi = &device;
  }
  if (device.callback) device.callback(&device, WIM_OPEN, dwInstance, 0, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
  std::lock_guard<std::mutex> hold(device.lock);
  if (!valid(hwi)) return MMSYSERR_INVALHANDLE;
  if (!pwh || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
  {
    std::lock_guard<std::mutex> hold(device.lock);
    if (!valid(hwi)) return MMSYSERR_INVALHANDLE;
    if (!pwh || cbwh < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (!(pwh->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (pwh->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    pwh->dwBytesRecorded = 0;
    pwh->lpNext = nullptr;
    if (device.tail) {
      device.tail->lpNext = pwh;
    } else {
      device.head = pwh;
    }
    device.tail = pwh;
  }
  device.wake.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN hwi) {
  {
    // The capture thread leaves the PCM alone while not running, so it can be started here.
    std::lock_guard<std::mutex> hold(device.lock);
    if (!valid(hwi)) return MMSYSERR_INVALHANDLE;
    if (device.running) return MMSYSERR_NOERROR;
    if (snd_pcm_start(device.pcm) < 0) return MMSYSERR_ERROR;
    device.running = true;
  }
  device.wake.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStop(HWAVEIN hwi) {
  return command(hwi, Command::stop);
}

MMRESULT waveInReset(HWAVEIN hwi) {
  return command(hwi, Command::reset);
}

MMRESULT waveInClose(HWAVEIN hwi) {
  {
    std::lock_guard<std::mutex> hold(device.lock);
    if (!valid(hwi)) return MMSYSERR_INVALHANDLE;
    if (device.head) return WAVERR_STILLPLAYING;
    device.command = Command::quit;
  }
  device.wake.notify_all();
  device.thread.join();
  snd_pcm_close(device.pcm);
  WaveInProc callback;
  {
    std::lock_guard<std::mutex> hold(device.lock);
    device.pcm = nullptr;
    device.open = false;
    device.running = false;
    device.command = Command::none;
    callback = device.callback;
  }
  if (callback) callback(&device, WIM_CLOSE, device.instance, 0, 0);
  return MMSYSERR_NOERROR;
}

}  // namespace tavrel
