#pragma once
// The status dialog's behaviour, once for every window system: what it does at
// initialisation, on a command and on each 100 ms timer tick. The platform's dialog
// (platform/dialog.hpp) calls these from its message handling and is drawn through.

#include <atomic>
#include <cstdint>

namespace tavrel {

constexpr int32_t tick_ms = 100;      ///< period of the dialog's timer
constexpr int32_t refresh_ticks = 4;  ///< ticks between redraws of the number
/// A number stays on the display only while reads keep coming: a refresh that finds no
/// new read since the last one shows dashes. So a pause this long means the tag has left.
constexpr int32_t refresh_ms = tick_ms * refresh_ticks;

/// One dialog per process. The window is stored at initialisation and cleared by the
/// platform once the dialog has ended; the worker's invert query reads it.
struct StatusDialog {
  std::atomic<void*> window{nullptr};  ///< the platform's window handle, null without a dialog
  int32_t tick = 0;                    ///< timer ticks so far
  int32_t position = 1;                ///< pixels; left edge of the indicator block
  int32_t shown_high = -1;             ///< last_high at the last display refresh
  int32_t shown_low = -1;              ///< last_low at the last display refresh
  int32_t shown_repeat = 0;            ///< repeat_count at the last display refresh
};

extern StatusDialog status_dialog;

/// Initialisation: keeps the window, starts the timer, makes the drawing resources and
/// ticks "CRC Check". Returns true (focus goes where the window system puts it). Main thread.
bool dialog_init(void* window);

/// A command with its whole parameter: cancel ends the dialog, a click on "CRC Check"
/// copies its new state to parity_check. Returns true when handled. Main thread.
bool dialog_command(uintptr_t command);

/// One timer tick: steps or greys the activity indicator, and on every fourth tick redraws
/// the number and the repeat label from the read register. Main thread.
void dialog_tick();

}  // namespace tavrel
