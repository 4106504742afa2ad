// The status dialog on Windows: a modal dialog from template 101 that draws straight into
// its static controls from a 100 ms timer.
// Platform calls: DialogBoxParamA, EndDialog, GetDlgItem, SendMessageA (BM_SETCHECK,
// BM_GETCHECK), SetTimer, SetWindowTextA, GetDC, ReleaseDC, FillRect, GetSysColor,
// CreateFontA, CreateSolidBrush, SelectObject, SetBkMode, TextOutA, GetModuleHandleA,
// PeekMessageA, InitCommonControls.

#include <windows.h>
// windows.h first: commctrl.h builds on its types.
#include <commctrl.h>

#include <cstring>

#include "platform/console.hpp"
#include "platform/dialog.hpp"
#include "platform/dialog_win32_ids.h"
#include "ui/status_dialog.hpp"

namespace tavrel {

static_assert(IDC_DISPLAY == display_control && IDC_CRC_CHECK == crc_check_control &&
              IDC_INDICATOR == indicator_control && IDC_REPEAT_LABEL == label_control &&
              IDC_INVERT == invert_control && IDOK == ok_command && IDCANCEL == cancel_command);

constexpr UINT_PTR timer_id = 0;
constexpr int text_left = 10;  ///< pixels, where the number's cell starts
constexpr int text_top = 10;

/// Made at the first initialisation and kept to the end of the process.
struct DrawingResources {
  HFONT font;
  HBRUSH brushes[3];  ///< indexed by Brush: button face, red, grey
};

static DrawingResources resources;

static HWND window_of(void* window) {
  return static_cast<HWND>(window);
}

static INT_PTR CALLBACK dialog_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return dialog_init(hwnd) ? TRUE : FALSE;
    case WM_COMMAND:
      return dialog_command(wparam) ? TRUE : FALSE;
    case WM_TIMER:
      // Ctrl-C, Ctrl-Break or a closed console end the dialog like a cancel; the
      // console's handler only raises a flag, looked at here.
      if (console_stop_requested()) return dialog_command(cancel_command) ? TRUE : FALSE;
      dialog_tick();
      return FALSE;
    default:
      return FALSE;
  }
}

void surface_init(void* window) {
  SetTimer(window_of(window), timer_id, tick_ms, nullptr);
  if (resources.font) return;
  resources.font =
      CreateFontA(62, 36, 0, 0, 800, FALSE, FALSE, FALSE, OEM_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FIXED_PITCH | FF_MODERN, "impact");
  resources.brushes[0] = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  resources.brushes[1] = CreateSolidBrush(RGB(255, 0, 0));
  resources.brushes[2] = CreateSolidBrush(RGB(128, 128, 128));
}

bool surface_begin(void* window, int32_t control, Surface& surface) {
  HWND item = GetDlgItem(window_of(window), control);
  if (!item) return false;
  HDC context = GetDC(item);
  if (!context) return false;
  surface = {item, context};
  return true;
}

void surface_end(const Surface& surface) {
  ReleaseDC(static_cast<HWND>(surface.control), static_cast<HDC>(surface.context));
}

void surface_fill(const Surface& surface, const Rect& rect, Brush brush) {
  const RECT r{rect.left, rect.top, rect.right, rect.bottom};
  FillRect(static_cast<HDC>(surface.context), &r, resources.brushes[static_cast<int>(brush)]);
}

void surface_text(const Surface& surface, const char* text) {
  HDC context = static_cast<HDC>(surface.context);
  HGDIOBJ previous = SelectObject(context, resources.font);
  SetBkMode(context, TRANSPARENT);
  TextOutA(context, text_left, text_top, text, static_cast<int>(std::strlen(text)));
  SelectObject(context, previous);
}

void surface_set_label(void* window, const char* text) {
  SetWindowTextA(GetDlgItem(window_of(window), label_control), text);
}

static int32_t box_state(HWND box) {
  return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

int32_t surface_check(void* window, int32_t control) {
  return box_state(GetDlgItem(window_of(window), control));
}

void surface_set_check(void* window, int32_t control, int32_t state) {
  SendMessageA(GetDlgItem(window_of(window), control), BM_SETCHECK,
               state ? BST_CHECKED : BST_UNCHECKED, 0);
}

void surface_end_dialog(void* window) {
  EndDialog(window_of(window), 0);
}

void init_common_controls() {
  InitCommonControls();
}

void run_status_dialog() {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATUS), nullptr,
                  dialog_procedure, 0);
  status_dialog.window.store(nullptr);
  // An invert question sent while the window still existed may wait in this thread's queue
  // of sent messages; delivering it now, to a window that is gone, answers it with 0, and
  // the main thread pumps no messages while it waits for the worker.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

// Sent to the main thread, which answers it inside the dialog's message loop.
int32_t invert_state() {
  HWND hwnd = window_of(status_dialog.window.load());
  if (!hwnd) return 0;
  return box_state(GetDlgItem(hwnd, invert_control));
}

}  // namespace tavrel
