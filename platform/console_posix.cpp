// Console on POSIX: isatty, tcgetattr/tcsetattr, poll, read.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console.hpp"

namespace tavrel {

bool prepare_stdout() {
  return isatty(STDOUT_FILENO) == 1;
}

static bool input_ready() {
  pollfd fd{STDIN_FILENO, POLLIN, 0};
  return poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
}

bool console_take_key() {
  if (isatty(STDIN_FILENO) != 1) {
    // A pipe or file: one byte, only if it is already there.
    char c;
    return input_ready() && read(STDIN_FILENO, &c, 1) == 1;
  }
  // A terminal in canonical mode holds keys until Enter; switch to raw, no echo, for
  // the look, then put the user's mode back.
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  char c;
  const bool taken = input_ready() && read(STDIN_FILENO, &c, 1) == 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return taken;
}

}  // namespace tavrel
