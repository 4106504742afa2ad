#pragma once
// The slicer and the frame test written the plain way, sample by sample and half-bit by
// half-bit, as oracles for the fast ones and as the baseline of the benchmark.

#include <cstdint>

#include "decode/half_bit_ring.hpp"

namespace tavrel::test {

using RunTaker = void (*)(void* context, int32_t level, int32_t run_length);

/// Converts buffer[0..len-1] in place to signed and hands every complete run to `take`,
/// exactly as slice_block hands them to push_run (without the reset).
void plain_slice(uint8_t* buffer, int32_t len, int32_t invert, RunTaker take, void* context);

/// The frame test from `ring.levels` alone, one half-bit at a time; fills `bits` on ok.
FrameCheck plain_check(const HalfBitRing& ring, bool check_parity, uint64_t& bits);

/// A ring of the caller's own: stores the run's half-bits into `ring.levels` and tests
/// after each one; a frame that passes goes to `record`.
void plain_push_run(HalfBitRing& ring, bool check_parity, int32_t level, int32_t run_length);

}  // namespace tavrel::test
