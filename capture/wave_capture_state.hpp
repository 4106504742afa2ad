#pragma once
// The capture's process-wide state, for wave_capture.cpp and its tests. Names the
// platform's wave-input types, so the rest of the program includes wave_capture.hpp only.

#include <atomic>
#include <cstdint>

#include "platform/event.hpp"
#include "platform/wavein.hpp"

namespace tavrel {

constexpr int32_t capture_buffer_count = 4;
constexpr int32_t capture_buffer_bytes = 28096;  ///< bytes allocated per capture buffer
constexpr int32_t device_block_bytes = 24000;    ///< bytes of each buffer handed to the device
constexpr int32_t half_bytes = 131072;           ///< bytes per half of the double buffer
constexpr int32_t wait_ms = 3000;                ///< longest single wait for a block
constexpr int32_t wait_limit = 11;  ///< waits without a block before read_block gives up

struct WaveCapture {
  WAVEFORMATEX format{};                     ///< the capture format, set by set_format
  uint8_t* buffers[capture_buffer_count]{};  ///< capture buffers; nullptr when missing
  WAVEHDR headers[capture_buffer_count]{};   ///< one per capture buffer
  HWAVEIN device{};                          ///< valid while device_open
  uint8_t device_open = 0;                   ///< 1 from waveInOpen until a waveInClose succeeds
  Event* event = nullptr;                    ///< "WaveEvent", created once, kept to the end
  std::atomic<int32_t> current_half{0};      ///< the half the callback filled last: 0 or 1
  std::atomic<uint8_t> recording{0};         ///< 1 from open_capture until stop_capture
  uint8_t halves[2][half_bytes]{};           ///< the double buffer, stereo frames as recorded
};

/// Written by the worker; the callback reads `recording` and `event`, writes
/// `current_half` and the halves (a byte at a time, as relaxed atomics, as the worker reads
/// them).
extern WaveCapture wave_capture;

}  // namespace tavrel
