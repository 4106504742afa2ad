// Console on Windows: _isatty, _setmode, _kbhit, _getch, SetConsoleCtrlHandler, Sleep.
#include <windows.h>
// windows.h first: the CRT's console headers do not need it, the handler does.
#include <conio.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "platform/console.hpp"

namespace tavrel {

static std::atomic<uint8_t> stop_flag{0};

bool prepare_stdout() {
  // Binary mode: "\n" stays one byte, so a redirected log is byte for byte the same
  // as on Linux; the console itself starts a new line on a bare "\n".
  _setmode(_fileno(stdout), _O_BINARY);
  return _isatty(_fileno(stdout)) != 0;
}

// Runs on a thread the system starts for the event. Ctrl-C and Ctrl-Break would end the
// process at once and a closed console would end it when this returns: either way the
// worker's teardown and a redirected log's last block would be lost. So the dialog is
// asked to end, and for a closed console this thread waits for the process to end on
// its own (the system gives it a few seconds).
static BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stop_flag.store(1, std::memory_order_relaxed);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      stop_flag.store(1, std::memory_order_relaxed);
      Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

// A console shows no typed keys while no program reads them, so only the control
// events need catching here.
void console_hold_terminal() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void console_release_terminal() {}

bool console_stop_requested() {
  return stop_flag.load(std::memory_order_relaxed) != 0;
}

bool console_take_key() {
  if (!_kbhit()) return false;
  _getch();
  return true;
}

}  // namespace tavrel
