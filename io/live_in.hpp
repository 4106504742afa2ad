#pragma once
// The default sound input, live, through the program's own capture: blocks of 250 ms
// from open_capture and read_block, one channel handed on as each block arrives.

#include <atomic>
#include <string>

#include "io/sound_in.hpp"

namespace tavrel {

/// Records channel `channel` (0 left, 1 right) of the default input at sample_rate and
/// hands each block to `take` until `stop` is set, then closes the input. Returns "" or
/// why the input could not be opened. The capture's own messages go to the console.
std::string read_live(int channel, const SampleSink& take, const std::atomic<bool>& stop,
                      SoundFacts& facts);

}  // namespace tavrel
