// Wave-input capture: four device buffers circulate between the sound driver and the
// completion callback, which copies each finished one into a half of the double buffer
// and wakes the worker through the event.
//
// Wave-input calls: waveInOpen, waveInPrepareHeader, waveInAddBuffer, waveInStart,
// waveInStop, waveInReset, waveInClose, and WIM_DATA to the callback.
// Event calls: event_create, event_set, event_reset, event_wait.

#include "capture/wave_capture.hpp"

#include <algorithm>
#include <atomic>
#include <new>

#include "capture/wave_capture_state.hpp"
#include "platform/console.hpp"

namespace tavrel {

WaveCapture wave_capture;

static_assert(2 * block_frames == device_block_bytes);

// The halves are read and written a byte at a time as relaxed atomics. The event orders
// each hand-over; but a worker two blocks behind copies the half that the callback is
// filling at that moment (a mix of two blocks, as a late worker may get), and plain
// copies would then be a data race.
constexpr auto relaxed = std::memory_order_relaxed;

void allocate_buffers() {
  for (uint8_t*& buffer : wave_capture.buffers) {
    if (!buffer) buffer = new (std::nothrow) uint8_t[capture_buffer_bytes];
  }
}

void set_format() {
  WAVEFORMATEX& format = wave_capture.format;
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = sample_rate;
  format.nAvgBytesPerSec = 2 * sample_rate;
  format.nBlockAlign = 2;
  format.wBitsPerSample = 8;
  format.cbSize = 0;
}

static void report_requeue_failure(MMRESULT result) {
  switch (result) {
    case MMSYSERR_INVALHANDLE:
      console_print("Specified device handle is invalid.");
      break;
    case MMSYSERR_NODRIVER:
      console_print("No device driver is present.");
      break;
    case MMSYSERR_NOMEM:
      console_print("Unable to allocate or lock memory.");
      break;
    case WAVERR_UNPREPARED:
      console_print("The buffer pointed to by the pwh parameter hasn't been prepared.");
      break;
    default:
      break;
  }
}

// The sound system's thread. Copies the whole buffer length, not only the bytes
// recorded: a buffer cut short comes back only during a stop, when nothing is copied.
// No CALLBACK marker: x64 has one calling convention, and WaveInProc checks the type.
static void on_wave_data(HWAVEIN device, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
  if (message != WIM_DATA) return;
  if (wave_capture.recording.load(std::memory_order_relaxed)) {
    WAVEHDR* header = reinterpret_cast<WAVEHDR*>(param1);
    const int32_t half = 1 - wave_capture.current_half.load(std::memory_order_relaxed);
    wave_capture.current_half.store(half, std::memory_order_relaxed);
    const size_t bytes = std::min<size_t>(header->dwBufferLength, half_bytes);
    uint8_t* to = wave_capture.halves[half];
    const auto* from = reinterpret_cast<const uint8_t*>(header->lpData);
    for (size_t i = 0; i < bytes; ++i) std::atomic_ref<uint8_t>(to[i]).store(from[i], relaxed);
    report_requeue_failure(waveInAddBuffer(device, header, sizeof(WAVEHDR)));
  }
  event_set(wave_capture.event);
}

int32_t open_capture() {
  if (!wave_capture.event) wave_capture.event = event_create("WaveEvent");
  const WaveInProc callback = on_wave_data;
  if (waveInOpen(&wave_capture.device, WAVE_MAPPER, &wave_capture.format,
                 reinterpret_cast<DWORD_PTR>(callback), 0, CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
    console_print("waveInOpen ERROR!\n");
    return 0;
  }
  wave_capture.device_open = 1;
  for (int32_t i = 0; i < capture_buffer_count; ++i) {
    WAVEHDR& header = wave_capture.headers[i];
    header = WAVEHDR{};
    header.lpData = reinterpret_cast<LPSTR>(wave_capture.buffers[i]);
    header.dwBufferLength = device_block_bytes;
    if (!wave_capture.buffers[i]) {
      console_print("buffer ERROR! i=%d\n", i);
      return 0;
    }
    if (waveInPrepareHeader(wave_capture.device, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      console_print("waveInPrepareHeader ERROR!\n");
      return 0;
    }
    if (waveInAddBuffer(wave_capture.device, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
      console_print("waveInAddBuffer ERROR!\n");
      return 0;
    }
  }
  wave_capture.recording.store(1, std::memory_order_relaxed);
  waveInStart(wave_capture.device);
  event_reset(wave_capture.event);
  return device_block_bytes / 2;
}

int32_t read_block(uint8_t* left, uint8_t* right) {
  // A failed wait counts like a timeout (without the message): without the event every
  // wait fails at once, and the worker must still get back to its run flag.
  for (int32_t waits = 1;; ++waits) {
    const WaitResult waited = event_wait(wave_capture.event, wait_ms);
    if (!wave_capture.recording.load(std::memory_order_relaxed)) return 0;
    if (waited == WaitResult::signalled) break;
    if (waited == WaitResult::timed_out) console_print("Wait timeout!\n");
    if (waits == wait_limit) return 0;
  }
  uint8_t* half = wave_capture.halves[wave_capture.current_half.load(std::memory_order_relaxed)];
  for (int32_t j = 0; j < block_frames; ++j) {
    left[j] = std::atomic_ref<uint8_t>(half[2 * j]).load(relaxed);
    right[j] = std::atomic_ref<uint8_t>(half[2 * j + 1]).load(relaxed);
  }
  return block_frames;
}

void stop_capture() {
  if (!wave_capture.recording.load(std::memory_order_relaxed)) return;
  // Cleared first: buffers the reset hands back are then neither copied nor requeued.
  wave_capture.recording.store(0, std::memory_order_relaxed);
  const HWAVEIN device = wave_capture.device;
  if (const MMRESULT result = waveInStop(device); result != MMSYSERR_NOERROR) {
    console_print("waveInStop ERROR: %d\n", static_cast<int>(result));
  }
  if (const MMRESULT result = waveInReset(device); result != MMSYSERR_NOERROR) {
    console_print("waveInReset ERROR: %d\n", static_cast<int>(result));
  }
  if (const MMRESULT result = waveInClose(device); result != MMSYSERR_NOERROR) {
    console_print("waveInClose ERROR: %d\n", static_cast<int>(result));
  } else {
    wave_capture.device_open = 0;
  }
}

void release_buffers() {
  stop_capture();
  // A device still open here was left by a failed open_capture or a failed close, maybe
  // with buffers queued: take them back, quietly, before freeing anything.
  if (wave_capture.device_open) {
    const MMRESULT reset = waveInReset(wave_capture.device);
    if (waveInClose(wave_capture.device) == MMSYSERR_NOERROR) wave_capture.device_open = 0;
    // Neither worked: the device may still fill them, so they stay for the rest of the run.
    if (wave_capture.device_open && reset != MMSYSERR_NOERROR) return;
  }
  for (uint8_t*& buffer : wave_capture.buffers) {
    delete[] buffer;
    buffer = nullptr;
  }
}

}  // namespace tavrel
