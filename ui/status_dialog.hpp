#pragma once
// The status window: the last number in large digits, the repeat count, an activity
// indicator and the "CRC Check" and "Invert Signal" boxes.

#include <cstdint>

namespace tavrel {

/// Prepares the window system's controls (InitCommonControls on Windows). Main thread,
/// once, before run_status_dialog.
void init_common_controls();

/// Shows the dialog modally until the user cancels it (Escape or the close box); returns
/// at once if it cannot be created. Main thread.
void run_status_dialog();

/// The "Invert Signal" box: 1 when ticked, 0 when not, asked of the main thread. 0 at once
/// while no dialog exists, and for a question still open when the dialog ends. Worker
/// thread.
int32_t invert_state();

}  // namespace tavrel
