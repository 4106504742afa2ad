// The repetitions EM4100 shares with the families here. Jablotron shares none: its sixteen
// 1s would be seventeen alternating Manchester bits, which EM4100's rows never hold.

#include "lf/families/overlaps.hpp"
#include "lf/checks.hpp"

namespace tavrel {

bool em4100_repetition_shared(const FrameBits& frame) {
  FrameBits changes;
  frame_changes(frame, changes);
  return rotations_passing(frame, 0xF20000, 24, true, viking_frame_ok) > 0 ||
         rotations_passing(changes, 0x7FC, 11, false, nedap_frame_ok) > 0;
}

}  // namespace tavrel
