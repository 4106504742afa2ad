#pragma once
// A stand-in for the window system under the dialog logic: records every drawing and
// control call as one line of text, and can refuse a control.

#include <functional>
#include <string>
#include <vector>

#include "platform/dialog.hpp"

namespace tavrel::test {

struct FakeSurface {
  std::vector<std::string> calls;  ///< e.g. "fill 1002 1 0 11 17 grey"
  int32_t refused_control = 0;     ///< surface_begin fails for this control id
  bool refuse_context = false;     ///< the control exists but gives no drawing context
  int32_t checks[2] = {0, 0};      ///< "CRC Check", "Invert Signal"
  int32_t inits = 0;               ///< surface_init calls
  int32_t ends = 0;                ///< surface_end_dialog calls
  std::function<void()> on_text;   ///< runs inside surface_text, e.g. as a worker's write
};

extern FakeSurface fake_surface;

/// Clears the record and the refusals.
void fake_surface_reset();

/// The calls recorded since the last take, and forgets them.
std::vector<std::string> fake_surface_take();

}  // namespace tavrel::test
