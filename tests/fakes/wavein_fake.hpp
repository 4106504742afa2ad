#pragma once
// A double of the wave-input service for the tests: it records each call, fails any call
// with a chosen result, and completes queued buffers on demand, handing them to the
// callback as a driver would (from whichever thread asks).

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "capture/wave_capture.hpp"
#include "platform/wavein.hpp"

namespace tavrel::test {

enum class WaveCall : int32_t { open, prepare, add, start, stop, reset, close };
constexpr int32_t wave_call_kinds = 7;

struct FakeFailure {
  MMRESULT code = MMSYSERR_NOERROR;  ///< what the failing calls return
  int32_t from = 0;                  ///< first failing call, counted from 0 since the reset
  int32_t times = 0;                 ///< calls that fail from there on
};

struct FakeWaveIn {
  std::mutex driver;  ///< held while a buffer goes to the callback: one callback at a time
  std::mutex lock;    ///< guards the rest: the callback requeues while tests complete
  FakeFailure failures[wave_call_kinds];
  int32_t calls[wave_call_kinds]{};  ///< calls so far, per kind
  std::string log;                   ///< every call by kind, each followed by a space
  bool open = false;
  bool started = false;
  WAVEFORMATEX format{};  ///< as given to waveInOpen
  UINT device_id = 0;
  DWORD_PTR callback = 0;
  DWORD_PTR instance = 0;
  DWORD flags = 0;
  std::deque<WAVEHDR*> queue;  ///< queued buffers, oldest first
};

extern FakeWaveIn fake_wavein;

/// Closes the fake device and forgets queue, calls and failures. Tests' thread, when no
/// other thread uses the fake.
void fake_wavein_reset();

/// Makes `times` calls of `call`, after `skip` more, return `code`.
void fake_wavein_fail(WaveCall call, MMRESULT code, int32_t skip = 0, int32_t times = 1);

/// Fills the oldest queued buffer (left = seed + j, right = its complement), marks it done
/// with `bytes_recorded` and hands it to the callback. Returns false when none is queued.
/// Any thread.
bool fake_wavein_complete(uint8_t seed, DWORD bytes_recorded = 2 * block_frames);

/// Sends `message` with `header` to the callback, as the driver would. Any thread.
void fake_wavein_send(UINT message, WAVEHDR* header);

/// The number of buffers queued. Any thread.
int32_t fake_wavein_queued();

}  // namespace tavrel::test
