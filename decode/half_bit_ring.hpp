#pragma once
// The last 128 half-bits of the tag signal and the frame test run after each one.

#include <atomic>
#include <cstdint>

namespace tavrel {

constexpr int32_t ring_size = 128;  ///< half-bits in one 64-bit frame

// Which runs become half-bits, in samples of the sound input.
constexpr int32_t min_run = 8;    ///< samples; shorter runs are noise
constexpr int32_t long_run = 20;  ///< samples; from here a run spans two half-bits
constexpr int32_t max_run = 32;   ///< samples; longer runs are no tag signal

/// Worker thread only.
struct HalfBitRing {
  int32_t levels[ring_size];  ///< half-bit levels, 0 or 1
  int32_t write_index;        ///< slot for the next half-bit; the oldest once count >= 128
  int32_t count;              ///< half-bits pushed since the last reset, not capped at 128
  // The same half-bits as bits, kept in step with `levels`, so that the frame test is a
  // few word operations: the last 128 pushed, the latest in bit 0 of `newer`.
  uint64_t older;  ///< the 64 half-bits before `newer`; bit 63 is the oldest of the window
  uint64_t newer;  ///< the last 64 half-bits pushed, the latest in bit 0
};

struct TagNumber {
  int32_t id_high;  ///< data rows 2-5, 0..65535
  int32_t id_low;   ///< data rows 6-9, 0..65535
};

/// Why a window was or was not taken as a frame, in the order the tests run.
/// `ok` stays last: frame_check_count counts the results from it.
enum class FrameCheck : uint8_t {
  too_few,
  header,
  manchester,
  row_parity,
  column_parity,
  stop_bit,
  ok,
};

/// The number of FrameCheck results, for tables indexed by them.
constexpr int frame_check_count = static_cast<int>(FrameCheck::ok) + 1;

/// A window that passed: its 64 bits, first received in bit 63, and the number they carry.
struct Frame {
  uint64_t bits;
  TagNumber number;
};

extern HalfBitRing half_bit_ring;

/// Lets a tool watch the decoding path without a second decoder. The program leaves
/// `decode_watch` null, so that each run pays only the test of a pointer.
/// Set it before decoding and from the decoding thread only; both callbacks are required.
struct DecodeWatch {
  /// Every run push_run is given, dropped ones too, before it is taken apart.
  void (*run)(void* context, int32_t level, int32_t run_length);
  /// After the frame test of every stored half-bit; when `result` is ok, after `record`,
  /// and `frame` holds the window. Otherwise `frame` is not filled.
  void (*checked)(void* context, FrameCheck result, const Frame& frame);
  void* context;
};

extern DecodeWatch* decode_watch;

/// Nonzero: rows and columns must have even parity. Written by the dialog, read per frame.
extern std::atomic<int32_t> parity_check;

/// Starts an empty window; the stale levels stay but can no longer match. Worker thread.
void reset();

/// Takes one run of `run_length` samples at `level`: 8..19 samples are one half-bit,
/// 20..32 two, anything else is dropped. Each stored half-bit is followed by the frame
/// test, and a frame that passes goes to `record`. Worker thread.
void push_run(int32_t level, int32_t run_length);

/// Tests whether `ring` now holds one complete frame starting at its oldest half-bit,
/// with or without the parity tests; fills `frame` when it does.
FrameCheck check_frame(const HalfBitRing& ring, bool check_parity, Frame& frame);

/// The 40 data bits of a frame (rows 0..9, row 0 in the top nibble).
uint64_t frame_data(uint64_t bits);

}  // namespace tavrel
