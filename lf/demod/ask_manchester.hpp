#pragma once
// A second, more tolerant decoding path for the tools, beside the program's slicer: it
// finds the signal's clock, polarity, middle level and swing by itself, decides each
// half-bit with a matched filter (integrate and dump), and ends in the same frame checks.
// The program does not use it.

#include <cstdint>

#include "decode/half_bit_ring.hpp"

namespace tavrel {

constexpr int robust_clock_count = 3;
constexpr int32_t robust_clocks[robust_clock_count] = {64, 32, 16};  ///< RF dividers tried
constexpr int32_t robust_history = 256;   ///< half-bits kept per clock: two frames
constexpr int32_t robust_buffer = 16384;  ///< samples of running sums kept

/// Why a frame candidate (two equal 64-bit windows in a row) was or was not read.
enum class RobustCheck : uint8_t {
  frame,     ///< failed the frame checks (stop bit included): see `frame_checks`
  weak_bit,  ///< a bit's step was far below the frame's typical step
  boundary,  ///< the steps between bits did not follow the Manchester code
  too_soon,  ///< a read of the same number less than a frame ago
  ok,
};
constexpr int robust_check_count = static_cast<int>(RobustCheck::ok) + 1;

/// One sure read.
struct RobustRead {
  int64_t end;         ///< sample index just after the frame's last half-bit
  Frame frame;         ///< its 64 bits (as sent by the tag) and number
  int32_t clock;       ///< RF divider: 64, 32 or 16
  bool inverted;       ///< the signal arrived upside down
  double level;        ///< peak deviation from the middle level, in 8-bit steps (of the
                       ///< level before a coupling the loop undid)
  double offset;       ///< middle level minus 128, in 8-bit steps
  double snr_db;       ///< square-wave power over noise power, per sample
  double bit_samples;  ///< recovered bit period, in samples
};

/// Per clock: what the decisions and candidates looked like.
struct RobustClockStats {
  int64_t half_bits;                        ///< half-bits decided
  int64_t candidates;                       ///< windows holding the same 64 bits twice
  int64_t frame_checks[frame_check_count];  ///< candidates by FrameCheck result
  int64_t checks[robust_check_count];       ///< candidates by RobustCheck result
};

/// A coupling capacitor in the front end or the sound card makes every level decay towards
/// the middle. Its signal y is the tag's level x less what the capacitor took since:
/// x = y + gain * P, where P is the running integral of y and the gain 1 / its time
/// constant. A loop undoes it in its window sums with a gain it fits from the quiet
/// half-bit steps, those between two edges of opposite sign, where the level was held:
/// there a step should be nothing, and what is left is the decay. Sums are kept per parity
/// of the step: the parity of the steps that always carry an edge (Manchester's mid-bit,
/// biphase's boundary) is the one whose quiet steps no decay explains. They decay as quiet
/// steps come. The quiet steps' own changes are watched in one block of a few (a number
/// prime to a frame's, so that every place in a frame comes up); the integrals are
/// computed and fitted, in every block, only once those show a decay.
struct Coupling {
  double gain;             ///< per sample; 0: no coupling undone
  double mean_y;           ///< running mean of the half-bit sums: the offset x a half-bit
  bool fitting;            ///< a decay was seen: the integrals are fitted
  bool pending;            ///< the last block's last step waits to be judged
  double pending_dy;       ///< its change of the sum
  double pending_dq;       ///< its change of the integral
  double seen[2];          ///< quiet steps signed by the level held, negative for a decay
  double seen_squares[2];  ///< their squares
  // While fitting, sums since it began:
  double held[2];   ///< quiet steps signed by the level held
  double lost[2];   ///< the steps of the integral over them, signed the same way
  double cross[2];  ///< step x integral step
  double power[2];  ///< squared integral steps
  double steps[2];  ///< squared steps
};

/// Timing recovery and decisions for one clock divider.
struct ClockLoop {
  int32_t clock;                ///< RF divider
  double nominal;               ///< half-bit length at the nominal rate, samples
  double half;                  ///< recovered half-bit length, samples
  double next;                  ///< buffer position where the next half-bit ends
  double at_end;                ///< running sum at the end of the last half-bit
  double at_middle;             ///< running sum half a half-bit before that end
  double end_at;                ///< buffer position of the end of the last half-bit
  double middle_at;             ///< buffer position half a half-bit before it
  double last_y;                ///< sum of the last half-bit, 8-bit steps x samples
  Coupling coupling;            ///< undone in every window sum
  double power;                 ///< running mean of squared steps between half-bits
  int64_t count;                ///< half-bits decided since the start
  uint64_t bits[2][2];          ///< per alignment, the last 128 bit decisions: [0] older, [1] newer
  float steps[robust_history];  ///< step into each of the last half-bits (newer minus older)
  float sums[robust_history];   ///< sum of each of the last half-bits
  int64_t last_read;            ///< `count` at the last read; far back before any
  RobustClockStats stats;
};

/// What one loop measures of the signal over its last two frames of half-bits, after each
/// of its blocks of decisions: the same middle and swing that a read reports. Only shown;
/// no decision depends on it.
struct RobustLevels {
  int64_t start;  ///< first sample of the block's half-bits
  int64_t end;    ///< sample just after them
  int32_t clock;  ///< the loop's RF divider
  double middle;  ///< middle level minus 128, in 8-bit steps
  double swing;   ///< peak deviation from the middle, in 8-bit steps
};

struct RobustDecoder {
  double rate;                         ///< samples per second
  int32_t running[robust_buffer + 1];  ///< running sums of signed samples; [0] = 0
  int64_t areas[robust_buffer + 1];    ///< twice the integral of the running sum, as far as
                                       ///< a loop has needed it
  int32_t areas_filled;                ///< samples whose integral is in `areas`
  int32_t filled;                      ///< samples in the buffer
  int64_t base;                        ///< index of the buffer's first sample in the whole stream
  ClockLoop loops[robust_clock_count];
  int32_t loop_count;  ///< loops in use: clocks whose half-bit is long enough at this rate
  void (*on_read)(void* context, const RobustRead& read);
  void* context;
  void (*on_levels)(void* context, const RobustLevels& levels);  ///< or null: not measured
};

/// Starts a stream of `rate` samples per second; `on_read` gets every sure read.
void robust_begin(RobustDecoder& d, double rate, void (*on_read)(void*, const RobustRead&),
                  void* context);

/// From now on `on_levels` (same context) gets every loop's levels after each block.
void robust_watch_levels(RobustDecoder& d, void (*on_levels)(void*, const RobustLevels&));

/// Decodes the next `n` unsigned 8-bit samples (128 = middle); reads are reported as soon
/// as their frame has ended. Any thread, one at a time per decoder.
void robust_take(RobustDecoder& d, const uint8_t* samples, int32_t n);

/// The sum of all clocks' statistics.
RobustClockStats robust_stats(const RobustDecoder& d);

}  // namespace tavrel
