// Console on Windows: _isatty, _setmode, _kbhit, _getch.
#include <conio.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/console.hpp"

namespace tavrel {

bool prepare_stdout() {
  // Binary mode: "\n" stays one byte, so a redirected log is byte for byte the same
  // as on Linux; the console itself starts a new line on a bare "\n".
  _setmode(_fileno(stdout), _O_BINARY);
  return _isatty(_fileno(stdout)) != 0;
}

bool console_take_key() {
  if (!_kbhit()) return false;
  _getch();
  return true;
}

}  // namespace tavrel
