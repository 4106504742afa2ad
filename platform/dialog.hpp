#pragma once
// The status dialog's window, one file per OS (dialog_win32.cpp, dialog_gtk.cpp): the
// program's entry points into it, and the few drawing and control calls the dialog logic
// (ui/status_dialog.cpp) makes. The unit tests link a recording stand-in of the drawing
// calls instead. No platform types: the window is a pointer.

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

// The drawing interface: the controls of the one window, three brushes, one display font.

/// Control ids, as in the dialog template.
constexpr int32_t display_control = 1000;    ///< large number display (static)
constexpr int32_t crc_check_control = 1001;  ///< "CRC Check" box
constexpr int32_t indicator_control = 1002;  ///< activity indicator (static)
constexpr int32_t label_control = 1003;      ///< "Repeat:" label (static)
constexpr int32_t invert_control = 1004;     ///< "Invert Signal" box

/// Command values as the window system reports them (the Enter and Escape keys).
constexpr uintptr_t ok_command = 1;
constexpr uintptr_t cancel_command = 2;

enum class Brush : uint8_t { button_face, red, grey };

/// A rectangle in pixels of a control's client area; right and bottom are exclusive.
struct Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
  bool operator==(const Rect&) const = default;
};

/// A control and a drawing context for it, held for one timer tick at most.
struct Surface {
  void* control;
  void* context;
};

/// Starts the 100 ms timer that calls dialog_tick and makes the display font and the three
/// brushes (once per process). Main thread, at the dialog's initialisation.
void surface_init(void* window);

/// Gets `control` and a drawing context for it; false when either cannot be had. Main thread.
bool surface_begin(void* window, int32_t control, Surface& surface);

/// Gives the drawing context back. Main thread.
void surface_end(const Surface& surface);

/// Fills `rect` with one of the three brushes. Main thread.
void surface_fill(const Surface& surface, const Rect& rect, Brush brush);

/// Draws `text` in the display font, top-left corner at (10, 10), on a transparent
/// background, and leaves the context's font as it was. Main thread.
void surface_text(const Surface& surface, const char* text);

/// Sets the text of the repeat label; nothing happens when the label cannot be had. Main
/// thread.
void surface_set_label(void* window, const char* text);

/// Check state of a check box: 1 ticked, 0 not. Main thread.
int32_t surface_check(void* window, int32_t control);

/// Ticks (1) or clears (0) a check box. Main thread.
void surface_set_check(void* window, int32_t control, int32_t state);

/// Ends the modal dialog with result 0. Main thread.
void surface_end_dialog(void* window);

}  // namespace tavrel
