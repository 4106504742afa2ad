#pragma once
// Continuous recording from the default sound input, handed over in 250 ms blocks.

#include <cstdint>

namespace tavrel {

constexpr int32_t sample_rate = 48000;   ///< sample frames per second of the sound input
constexpr int32_t block_frames = 12000;  ///< stereo sample frames per block
static_assert(block_frames * 4 == sample_rate, "a block is 250 ms");

/// Allocates the four capture buffers; a failure shows up in open_capture. Worker thread.
void allocate_buffers();

/// Fills in the capture format: PCM, 2 channels, 8 bits, sample_rate. Worker thread.
void set_format();

/// Opens the default input and starts recording. Returns block_frames, or 0 on failure
/// (after one console message). Worker thread.
int32_t open_capture();

/// Waits for the next block and splits it into `left` and `right` (at least block_frames
/// bytes each). Returns block_frames, or 0 when capture is not running or nothing came
/// after eleven waits of 3000 ms. Worker thread.
int32_t read_block(uint8_t* left, uint8_t* right);

/// Stops and closes the input if recording; does nothing otherwise. Worker thread.
void stop_capture();

/// Stops capture if still running and frees the capture buffers. Worker thread.
void release_buffers();

}  // namespace tavrel
