// The capture against the doubles of the wave-input service and the event: every failure
// path with its exact console text, and the hand-over from the driver's thread.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture/wave_capture.hpp"
#include "capture/wave_capture_state.hpp"
#include "tests/fakes/event_fake.hpp"
#include "tests/fakes/wavein_fake.hpp"
#include "tests/support/console_capture.hpp"

namespace tavrel {
namespace {

using test::fake_event;
using test::fake_wavein;
using test::WaveCall;

const std::string opened_log = "open prepare add prepare add prepare add prepare add start ";

std::string repeat(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; ++i) all += text;
  return all;
}

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    test::fake_wavein_reset();
    test::fake_event_reset();
    wave_capture.current_half = 0;
    test::console_capture_start(console);
  }
  void TearDown() override {
    for (test::FakeFailure& f : fake_wavein.failures) f = test::FakeFailure{};
    release_buffers();
    test::console_capture_stop(console);
  }

  int32_t start() {
    allocate_buffers();
    set_format();
    return open_capture();
  }
  // The calls logged since the log read `before`.
  std::string calls_after(const std::string& before) {
    return fake_wavein.log.substr(before.size());
  }
  std::string log() { return test::console_capture_text(console); }

  // True when the block read is the double's fill for `seed`.
  bool block_is(uint8_t seed) const {
    for (int32_t j = 0; j < block_frames; ++j) {
      const auto expected = static_cast<uint8_t>(seed + j);
      if (left[j] != expected || right[j] != static_cast<uint8_t>(~expected)) return false;
    }
    return true;
  }

  test::ConsoleCapture console;
  std::vector<uint8_t> left = std::vector<uint8_t>(block_frames);
  std::vector<uint8_t> right = std::vector<uint8_t>(block_frames);
};

TEST_F(Capture, OpensDefaultInputWithFourPreparedBlocksQueued) {
  ASSERT_EQ(start(), block_frames);
  EXPECT_EQ(fake_wavein.log, opened_log);
  EXPECT_EQ(fake_wavein.device_id, WAVE_MAPPER);
  EXPECT_EQ(fake_wavein.flags, static_cast<DWORD>(CALLBACK_FUNCTION));
  EXPECT_EQ(fake_wavein.instance, 0u);
  const WAVEFORMATEX& f = fake_wavein.format;
  EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(f.nChannels, 2);
  EXPECT_EQ(f.nSamplesPerSec, static_cast<DWORD>(sample_rate));
  EXPECT_EQ(f.nAvgBytesPerSec, static_cast<DWORD>(2 * sample_rate));
  EXPECT_EQ(f.nBlockAlign, 2);
  EXPECT_EQ(f.wBitsPerSample, 8);
  EXPECT_EQ(f.cbSize, 0);
  ASSERT_EQ(fake_wavein.queue.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    const WAVEHDR* h = fake_wavein.queue[i];
    EXPECT_EQ(h, &wave_capture.headers[i]);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(h->lpData), wave_capture.buffers[i]);
    EXPECT_EQ(h->dwBufferLength, static_cast<DWORD>(device_block_bytes));
    EXPECT_EQ(h->dwUser, 0u);
    EXPECT_EQ(h->dwLoops, 0u);
  }
  EXPECT_EQ(fake_event.name, "WaveEvent");
  EXPECT_EQ(fake_event.resets, 1) << "the event is reset once started";
  EXPECT_EQ(fake_event.sets, 0) << "WIM_OPEN must not signal";
  EXPECT_EQ(log(), "");

  // The event outlives the device: a second opening reuses it.
  const int creates = fake_event.creates;
  release_buffers();
  ASSERT_EQ(start(), block_frames);
  EXPECT_EQ(fake_event.creates, creates);
}

TEST_F(Capture, NoDeviceReportsOpenAndLaterReadsWaitOnceWithoutTimeoutText) {
  test::fake_wavein_fail(WaveCall::open, MMSYSERR_BADDEVICEID);
  EXPECT_EQ(start(), 0);
  EXPECT_EQ(log(), "waveInOpen ERROR!\n");
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(read_block(left.data(), right.data()), 0);
    EXPECT_EQ(fake_event.waits, n);
    EXPECT_EQ(fake_event.last_timeout_ms, 3000);
  }
  stop_capture();
  release_buffers();
  EXPECT_EQ(fake_wavein.log, "open ") << "nothing to stop or close";
  EXPECT_EQ(log(), "waveInOpen ERROR!\n");
  for (uint8_t* buffer : wave_capture.buffers) EXPECT_EQ(buffer, nullptr);
}

TEST_F(Capture, MissingBufferIsNamedAndQueuedOnesAreTakenBackBeforeFreeing) {
  set_format();
  EXPECT_EQ(open_capture(), 0);
  EXPECT_EQ(log(), "buffer ERROR! i=0\n");
  release_buffers();
  test::fake_wavein_reset();

  allocate_buffers();
  delete[] wave_capture.buffers[2];
  wave_capture.buffers[2] = nullptr;
  EXPECT_EQ(open_capture(), 0);
  EXPECT_EQ(log(), "buffer ERROR! i=0\nbuffer ERROR! i=2\n");
  EXPECT_EQ(test::fake_wavein_queued(), 2);
  EXPECT_EQ(read_block(left.data(), right.data()), 0) << "not recording";
  stop_capture();
  const std::string before = fake_wavein.log;
  release_buffers();
  EXPECT_EQ(calls_after(before), "reset close ");
  EXPECT_EQ(test::fake_wavein_queued(), 0);
  EXPECT_FALSE(fake_wavein.open);
  EXPECT_EQ(fake_event.sets, 2) << "each returned buffer signals";
  EXPECT_EQ(log(), "buffer ERROR! i=0\nbuffer ERROR! i=2\n") << "the clean-up is quiet";
}

TEST_F(Capture, PrepareOrAddFailureEndsOpenWithItsMessage) {
  struct Case {
    WaveCall call;
    const char* message;
  };
  for (Case c : {Case{WaveCall::prepare, "waveInPrepareHeader ERROR!\n"},
                 Case{WaveCall::add, "waveInAddBuffer ERROR!\n"}}) {
    test::fake_wavein_reset();
    const std::string before = log();
    test::fake_wavein_fail(c.call, MMSYSERR_NOMEM, 1);
    EXPECT_EQ(start(), 0);
    EXPECT_EQ(log().substr(before.size()), c.message);
    EXPECT_EQ(test::fake_wavein_queued(), 1);
    EXPECT_EQ(wave_capture.recording.load(), 0);
    release_buffers();
    EXPECT_FALSE(fake_wavein.open);
    EXPECT_EQ(log().substr(before.size()), c.message);
  }
}

TEST_F(Capture, FirstBlockGoesToHalfOneThenHalvesAlternate) {
  ASSERT_EQ(start(), block_frames);
  ASSERT_TRUE(test::fake_wavein_complete(10));
  EXPECT_EQ(wave_capture.current_half.load(), 1);
  EXPECT_EQ(wave_capture.halves[1][0], 10);
  EXPECT_EQ(test::fake_wavein_queued(), 4) << "the buffer goes straight back";
  EXPECT_EQ(fake_wavein.queue.back(), &wave_capture.headers[0]);
  ASSERT_EQ(read_block(left.data(), right.data()), block_frames);
  EXPECT_TRUE(block_is(10));

  // Only the bytes recorded were filled in this one; all device_block_bytes are copied all the
  // same.
  ASSERT_TRUE(test::fake_wavein_complete(200, 100));
  EXPECT_EQ(wave_capture.current_half.load(), 0);
  ASSERT_EQ(read_block(left.data(), right.data()), block_frames);
  EXPECT_TRUE(block_is(200));
  EXPECT_EQ(log(), "");
}

TEST_F(Capture, MessagesOtherThanDataNeitherCopyNorSignal) {
  ASSERT_EQ(start(), block_frames);
  const std::string before = fake_wavein.log;
  test::fake_wavein_send(WIM_CLOSE, &wave_capture.headers[0]);
  test::fake_wavein_send(WIM_OPEN, &wave_capture.headers[0]);
  EXPECT_EQ(fake_event.sets, 0);
  EXPECT_EQ(wave_capture.current_half.load(), 0);
  EXPECT_EQ(calls_after(before), "") << "nothing requeued";
}

TEST_F(Capture, ReadGivesUpAfterTheEleventhTimeoutAndCountsAfresh) {
  ASSERT_EQ(start(), block_frames);
  EXPECT_EQ(read_block(left.data(), right.data()), 0);
  EXPECT_EQ(log(), repeat("Wait timeout!\n", 11));
  EXPECT_EQ(fake_event.waits, 11);
  EXPECT_EQ(fake_event.last_timeout_ms, 3000);

  // Ten timeouts, then the block on the eleventh wait.
  ASSERT_TRUE(test::fake_wavein_complete(7));
  fake_event.timeouts_ahead = 10;
  EXPECT_EQ(read_block(left.data(), right.data()), block_frames);
  EXPECT_TRUE(block_is(7));
  EXPECT_EQ(log(), repeat("Wait timeout!\n", 21));
}

TEST_F(Capture, FailedWaitsCountTowardsTheLimitWithoutText) {
  // Without the event every wait fails at once; the read still ends.
  wave_capture.event = nullptr;
  fake_event.fail_create = true;
  ASSERT_EQ(start(), block_frames);
  EXPECT_EQ(read_block(left.data(), right.data()), 0);
  EXPECT_EQ(fake_event.waits, 11);
  EXPECT_EQ(log(), "");
  release_buffers();

  fake_event.fail_create = false;
  ASSERT_EQ(start(), block_frames);
  fake_event.failures_ahead = 5;
  EXPECT_EQ(read_block(left.data(), right.data()), 0);
  EXPECT_EQ(fake_event.waits, 22);
  EXPECT_EQ(log(), repeat("Wait timeout!\n", 6));
}

TEST_F(Capture, StopReportsEachFailingStepAndTakesTheNext) {
  ASSERT_EQ(start(), block_frames);
  test::fake_wavein_fail(WaveCall::stop, MMSYSERR_INVALHANDLE);
  test::fake_wavein_fail(WaveCall::reset, MMSYSERR_NODRIVER);
  test::fake_wavein_fail(WaveCall::close, MMSYSERR_NOMEM);
  stop_capture();
  EXPECT_EQ(calls_after(opened_log), "stop reset close ");
  EXPECT_EQ(log(), "waveInStop ERROR: 5\nwaveInReset ERROR: 6\nwaveInClose ERROR: 7\n");

  stop_capture();
  EXPECT_EQ(calls_after(opened_log), "stop reset close ") << "a second stop does nothing";

  // The device is still open with its buffers queued: release takes them back quietly.
  release_buffers();
  EXPECT_EQ(calls_after(opened_log), "stop reset close reset close ");
  EXPECT_EQ(test::fake_wavein_queued(), 0);
  EXPECT_EQ(log(), "waveInStop ERROR: 5\nwaveInReset ERROR: 6\nwaveInClose ERROR: 7\n");
  for (uint8_t* buffer : wave_capture.buffers) EXPECT_EQ(buffer, nullptr);
}

TEST_F(Capture, ReleaseKeepsBuffersTheDeviceMayStillFill) {
  ASSERT_EQ(start(), block_frames);
  test::fake_wavein_fail(WaveCall::reset, WAVERR_STILLPLAYING, 0, 100);
  test::fake_wavein_fail(WaveCall::close, WAVERR_STILLPLAYING, 0, 100);
  release_buffers();
  EXPECT_EQ(log(), "waveInReset ERROR: 33\nwaveInClose ERROR: 33\n");
  EXPECT_EQ(test::fake_wavein_queued(), 4);
  for (uint8_t* buffer : wave_capture.buffers) EXPECT_NE(buffer, nullptr);
  // A late completion still lands in live memory.
  EXPECT_TRUE(test::fake_wavein_complete(1));
}

TEST_F(Capture, BuffersReturnedByTheStopAreNeitherCopiedNorRequeuedButSignal) {
  ASSERT_EQ(start(), block_frames);
  ASSERT_TRUE(test::fake_wavein_complete(1));
  ASSERT_EQ(read_block(left.data(), right.data()), block_frames);
  const std::vector<uint8_t> half_before(wave_capture.halves[1],
                                         wave_capture.halves[1] + device_block_bytes);
  const std::string before = fake_wavein.log;

  release_buffers();  // stops first, since still recording
  EXPECT_EQ(calls_after(before), "stop reset close ");
  EXPECT_EQ(fake_event.sets, 1 + 4);
  EXPECT_EQ(wave_capture.current_half.load(), 1);
  EXPECT_EQ(std::memcmp(half_before.data(), wave_capture.halves[1], device_block_bytes), 0);
  EXPECT_EQ(read_block(left.data(), right.data()), 0);
  EXPECT_EQ(log(), "");
}

TEST_F(Capture, BufferThatCannotBeRequeuedLeavesCirculation) {
  struct Case {
    MMRESULT code;
    const char* message;
  };
  ASSERT_EQ(start(), block_frames);
  int32_t queued = 4;
  uint8_t seed = 0;
  for (Case c : {Case{5, "Specified device handle is invalid."},
                 {6, "No device driver is present."},
                 {7, "Unable to allocate or lock memory."},
                 {34, "The buffer pointed to by the pwh parameter hasn't been prepared."}}) {
    const std::string before = log();
    test::fake_wavein_fail(WaveCall::add, c.code);
    ASSERT_TRUE(test::fake_wavein_complete(++seed));
    EXPECT_EQ(log().substr(before.size()), c.message);
    EXPECT_EQ(test::fake_wavein_queued(), --queued);
    ASSERT_EQ(read_block(left.data(), right.data()), block_frames) << "the block itself arrives";
    EXPECT_TRUE(block_is(seed));
  }
  // With none left, reads time out.
  EXPECT_FALSE(test::fake_wavein_complete(0));
  const std::string before = log();
  EXPECT_EQ(read_block(left.data(), right.data()), 0);
  EXPECT_EQ(log().substr(before.size()), repeat("Wait timeout!\n", 11));

  // Codes outside the table: no text.
  release_buffers();
  ASSERT_EQ(start(), block_frames);
  test::fake_wavein_fail(WaveCall::add, MMSYSERR_INVALPARAM);
  const std::string after = log();
  ASSERT_TRUE(test::fake_wavein_complete(9));
  EXPECT_EQ(test::fake_wavein_queued(), 3);
  EXPECT_EQ(log(), after);
}

// The worker reads while the driver's own thread completes buffers, one block at a time
// as at 250 ms spacing; under ThreadSanitizer this checks the hand-over.
TEST_F(Capture, BlocksFromTheDriverThreadArriveWhole) {
  fake_event.blocking = true;
  ASSERT_EQ(start(), block_frames);
  constexpr int blocks = 40;
  std::atomic<int> taken{0};
  std::thread driver([&] {
    for (int k = 0; k < blocks; ++k) {
      test::fake_wavein_complete(static_cast<uint8_t>(3 * k));
      while (taken.load(std::memory_order_acquire) == k) std::this_thread::yield();
    }
    // Keep completing while the worker stops: the stop must leave nothing queued.
    while (test::fake_wavein_complete(0))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  });
  int whole = 0;
  for (int k = 0; k < blocks; ++k) {
    if (read_block(left.data(), right.data()) == block_frames &&
        block_is(static_cast<uint8_t>(3 * k))) {
      ++whole;
    }
    taken.store(k + 1, std::memory_order_release);
  }
  stop_capture();
  driver.join();
  EXPECT_EQ(whole, blocks);
  EXPECT_EQ(test::fake_wavein_queued(), 0);
  EXPECT_FALSE(fake_wavein.open);
  EXPECT_EQ(log(), "");
}

}  // namespace
}  // namespace tavrel
