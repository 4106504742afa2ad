// The wave-input calls of platform/wavein.hpp, answered by the test double.

#include "tests/fakes/wavein_fake.hpp"

namespace tavrel {

struct WaveInDevice {
  int32_t unused;
};

namespace test {

FakeWaveIn fake_wavein;
static WaveInDevice fake_device;

static const char* const call_names[wave_call_kinds] = {"open", "prepare", "add",  "start",
                                                        "stop", "reset",   "close"};

void fake_wavein_reset() {
  std::lock_guard<std::mutex> hold(fake_wavein.lock);
  for (int32_t k = 0; k < wave_call_kinds; ++k) {
    fake_wavein.failures[k] = FakeFailure{};
    fake_wavein.calls[k] = 0;
  }
  fake_wavein.log.clear();
  fake_wavein.open = false;
  fake_wavein.started = false;
  fake_wavein.queue.clear();
}

void fake_wavein_fail(WaveCall call, MMRESULT code, int32_t skip, int32_t times) {
  std::lock_guard<std::mutex> hold(fake_wavein.lock);
  const auto k = static_cast<int32_t>(call);
  fake_wavein.failures[k] = FakeFailure{code, fake_wavein.calls[k] + skip, times};
}

// Counts and logs a call; returns the result it is set to fail with, or 0. Under the lock.
static MMRESULT enter(WaveCall call) {
  const auto k = static_cast<int32_t>(call);
  const int32_t n = fake_wavein.calls[k]++;
  fake_wavein.log += call_names[k];
  fake_wavein.log += ' ';
  const FakeFailure& f = fake_wavein.failures[k];
  return (n >= f.from && n < f.from + f.times) ? f.code : MMSYSERR_NOERROR;
}

static bool valid(HWAVEIN hwi) {
  return hwi == &fake_device && fake_wavein.open;
}

static void deliver(UINT message, WAVEHDR* header) {
  DWORD_PTR callback;
  DWORD_PTR instance;
  {
    std::lock_guard<std::mutex> hold(fake_wavein.lock);
    callback = fake_wavein.callback;
    instance = fake_wavein.instance;
  }
  if (callback == 0) return;
  reinterpret_cast<WaveInProc>(callback)(&fake_device, message, instance,
                                         reinterpret_cast<DWORD_PTR>(header), 0);
}

static WAVEHDR* take_oldest() {
  std::lock_guard<std::mutex> hold(fake_wavein.lock);
  if (fake_wavein.queue.empty()) return nullptr;
  WAVEHDR* header = fake_wavein.queue.front();
  fake_wavein.queue.pop_front();
  header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  return header;
}

bool fake_wavein_complete(uint8_t seed, DWORD bytes_recorded) {
  std::lock_guard<std::mutex> one_at_a_time(fake_wavein.driver);
  WAVEHDR* header = take_oldest();
  if (!header) return false;
  for (DWORD j = 0; 2 * j + 1 < header->dwBufferLength; ++j) {
    const auto left = static_cast<uint8_t>(seed + j);
    header->lpData[2 * j] = static_cast<char>(left);
    header->lpData[2 * j + 1] = static_cast<char>(~left);
  }
  header->dwBytesRecorded = bytes_recorded;
  deliver(WIM_DATA, header);
  return true;
}

void fake_wavein_send(UINT message, WAVEHDR* header) {
  std::lock_guard<std::mutex> one_at_a_time(fake_wavein.driver);
  deliver(message, header);
}

int32_t fake_wavein_queued() {
  std::lock_guard<std::mutex> hold(fake_wavein.lock);
  return static_cast<int32_t>(fake_wavein.queue.size());
}

}  // namespace test

using test::fake_wavein;

MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen) {
  {
    std::lock_guard<std::mutex> hold(fake_wavein.lock);
    if (const MMRESULT result = test::enter(test::WaveCall::open)) return result;
    if (fake_wavein.open) return MMSYSERR_ALLOCATED;
    fake_wavein.open = true;
    fake_wavein.device_id = uDeviceID;
    fake_wavein.format = *pwfx;
    fake_wavein.callback = dwCallback;
    fake_wavein.instance = dwInstance;
    fake_wavein.flags = fdwOpen;
    *phwi = &test::fake_device;
  }
  test::fake_wavein_send(WIM_OPEN, nullptr);
  return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT) {
  std::lock_guard<std::mutex> hold(fake_wavein.lock);
  if (const MMRESULT result = test::enter(test::WaveCall::prepare)) return result;
  if (!test::valid(hwi)) return MMSYSERR_INVALHANDLE;
  pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT) {
  std::lock_guard<std::mutex> hold(fake_wavein.lock);
  if (const MMRESULT result = test::enter(test::WaveCall::add)) return result;
  if (!test::valid(hwi)) return MMSYSERR_INVALHANDLE;
  if (!(pwh->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  pwh->dwBytesRecorded = 0;
  fake_wavein.queue.push_back(pwh);
  return MMSYSERR_NOERROR;
}

static MMRESULT set_started(HWAVEIN hwi, test::WaveCall call, bool started) {
  std::lock_guard<std::mutex> hold(fake_wavein.lock);
  if (const MMRESULT result = test::enter(call)) return result;
  if (!test::valid(hwi)) return MMSYSERR_INVALHANDLE;
  fake_wavein.started = started;
  return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN hwi) {
  return set_started(hwi, test::WaveCall::start, true);
}

MMRESULT waveInStop(HWAVEIN hwi) {
  return set_started(hwi, test::WaveCall::stop, false);
}

MMRESULT waveInReset(HWAVEIN hwi) {
  std::lock_guard<std::mutex> one_at_a_time(fake_wavein.driver);
  if (const MMRESULT result = set_started(hwi, test::WaveCall::reset, false)) return result;
  // Only the buffers queued now: one the callback queues again stays queued.
  for (int32_t n = test::fake_wavein_queued(); n > 0; --n) {
    test::deliver(WIM_DATA, test::take_oldest());
  }
  return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN hwi) {
  {
    std::lock_guard<std::mutex> hold(fake_wavein.lock);
    if (const MMRESULT result = test::enter(test::WaveCall::close)) return result;
    if (!test::valid(hwi)) return MMSYSERR_INVALHANDLE;
    if (!fake_wavein.queue.empty()) return WAVERR_STILLPLAYING;
    fake_wavein.open = false;
  }
  test::fake_wavein_send(WIM_CLOSE, nullptr);
  return MMSYSERR_NOERROR;
}

}  // namespace tavrel
