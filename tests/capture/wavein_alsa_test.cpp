// The ALSA wave-input layer keeps winmm's rules: argument checks without a device, and
// queue order, stop, reset and close against a real capture device. Those need a sound
// source and run only when TAVREL_LIVE_CAPTURE is set (the end-to-end run sets it).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/wave_capture.hpp"
#include "platform/wavein.hpp"

namespace tavrel {
namespace {

struct Message {
  UINT message;
  DWORD_PTR instance;
  WAVEHDR* header;
};

std::mutex seen_lock;
std::vector<Message> seen;

void remember(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  std::lock_guard<std::mutex> hold(seen_lock);
  seen.push_back({message, instance, reinterpret_cast<WAVEHDR*>(param1)});
}

std::vector<Message> messages() {
  std::lock_guard<std::mutex> hold(seen_lock);
  return seen;
}

// Waits up to two seconds for `count` messages.
bool await_messages(size_t count) {
  for (int tenths = 0; tenths < 20 && messages().size() < count; ++tenths) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return messages().size() >= count;
}

WAVEFORMATEX stereo_u8() {
  return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, sample_rate, 2 * sample_rate, 2, 8, 0};
}

const DWORD_PTR callback = reinterpret_cast<DWORD_PTR>(static_cast<WaveInProc>(remember));

TEST(WaveInAlsa, RejectsBadHandleDeviceFlagsAndFormatWithWinmmNumbers) {
  WAVEHDR header{};
  EXPECT_EQ(waveInPrepareHeader(nullptr, &header, sizeof header), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInAddBuffer(nullptr, &header, sizeof header), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInStart(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInStop(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInReset(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInClose(nullptr), MMSYSERR_INVALHANDLE);

  HWAVEIN device = nullptr;
  WAVEFORMATEX format = stereo_u8();
  EXPECT_EQ(waveInOpen(&device, 3, &format, callback, 0, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, callback, 0, 0x00010000), MMSYSERR_INVALFLAG);
  format.nBlockAlign = 4;
  EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, callback, 0, CALLBACK_FUNCTION),
            WAVERR_BADFORMAT);
  format = stereo_u8();
  format.wBitsPerSample = 12;
  EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, callback, 0, CALLBACK_FUNCTION),
            WAVERR_BADFORMAT);
  EXPECT_EQ(device, nullptr);
}

class LiveWaveIn : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("TAVREL_LIVE_CAPTURE")) GTEST_SKIP() << "needs a sound source";
    seen.clear();
    const WAVEFORMATEX format = stereo_u8();
    ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &format, callback, 42, CALLBACK_FUNCTION), 0u);
    for (int i = 0; i < 3; ++i) {
      headers[i] = WAVEHDR{};
      headers[i].lpData = buffers[i];
      headers[i].dwBufferLength = sizeof buffers[i];
    }
  }
  void TearDown() override {
    if (!device) return;
    waveInReset(device);
    EXPECT_EQ(waveInClose(device), 0u);
    EXPECT_EQ(messages().back().message, WIM_CLOSE);
    EXPECT_EQ(waveInClose(device), MMSYSERR_INVALHANDLE);
  }
  void queue_all() {
    for (WAVEHDR& h : headers) {
      ASSERT_EQ(waveInPrepareHeader(device, &h, sizeof h), 0u);
      ASSERT_EQ(waveInAddBuffer(device, &h, sizeof h), 0u);
    }
  }

  HWAVEIN device = nullptr;
  char buffers[3][2 * block_frames];  // one block of stereo frames each
  WAVEHDR headers[3];
};

TEST_F(LiveWaveIn, FillsBuffersInQueueOrderAndResetReturnsTheRest) {
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].message, WIM_OPEN);
  EXPECT_EQ(messages()[0].instance, 42u);
  HWAVEIN second = nullptr;
  const WAVEFORMATEX format = stereo_u8();
  EXPECT_EQ(waveInOpen(&second, WAVE_MAPPER, &format, callback, 0, CALLBACK_FUNCTION),
            MMSYSERR_ALLOCATED);

  EXPECT_EQ(waveInAddBuffer(device, &headers[0], sizeof headers[0]), WAVERR_UNPREPARED);
  queue_all();
  EXPECT_EQ(waveInAddBuffer(device, &headers[0], sizeof headers[0]), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);

  ASSERT_EQ(waveInStart(device), 0u);
  ASSERT_TRUE(await_messages(2)) << "no sound came";
  EXPECT_EQ(waveInReset(device), 0u);
  const std::vector<Message> got = messages();
  ASSERT_EQ(got.size(), 4u) << "the reset returns what is still queued, before returning";
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(got[1 + i].message, WIM_DATA);
    EXPECT_EQ(got[1 + i].header, &headers[i]);
    EXPECT_EQ(headers[i].dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
  }
  EXPECT_EQ(headers[0].dwBytesRecorded, 24000u);
}

TEST_F(LiveWaveIn, StopReturnsOnlyThePartlyFilledBuffer) {
  queue_all();
  ASSERT_EQ(waveInStart(device), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_EQ(waveInStop(device), 0u);
  const std::vector<Message> got = messages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].header, &headers[0]);
  EXPECT_GT(headers[0].dwBytesRecorded, 0u);
  EXPECT_LT(headers[0].dwBytesRecorded, 24000u);
  EXPECT_EQ(headers[1].dwFlags & WHDR_INQUEUE, WHDR_INQUEUE);
}

}  // namespace
}  // namespace tavrel
