#pragma once
// EM4100 (and EM4102 and their clones): the family the window program reads.

#include <cstdint>

#include "lf/family.hpp"

namespace tavrel {

/// The 64 frame bits for a 40-bit tag ID (first sent in bit 63), parities filled in.
uint64_t tag_frame(uint64_t id40);

/// The fields of a read of the 64 frame bits `bits` (first sent in bit 63), whatever
/// checks they were read with.
void em4100_fields(uint64_t bits, Fields& fields);

}  // namespace tavrel
