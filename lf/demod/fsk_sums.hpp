#pragma once
// The FSK demodulator's per-sample step, in the vector code of this build
// (fsk_sums_${TAVREL_ISA}.cpp), and written plainly as its oracle.

#include <cstdint>

#include "lf/demod/fsk.hpp"

namespace tavrel {

/// Sums `n` samples into `d.sums` from index d.taken + 1 on, carrying d.previous and
/// d.table_at; returns the samples' total. Leaves d.taken to the caller.
int64_t fsk_sum(FskDemod& d, const uint8_t* samples, int32_t n);

/// The same, one sample and one reference at a time.
int64_t fsk_sum_plain(FskDemod& d, const uint8_t* samples, int32_t n);

}  // namespace tavrel
