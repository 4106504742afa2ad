// Console on POSIX: isatty, tcgetpgrp, getpgrp, tcgetattr/tcsetattr, poll, read,
// sigaction, atexit.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/console.hpp"

namespace tavrel {

/// The terminal's mode as found at start, put back at the end.
struct HeldTerminal {
  termios saved;  ///< the user's mode
  bool changed;   ///< echo was turned off, so saved must be put back
};

static HeldTerminal held;

// Set from a signal handler: a lock-free atomic is one of the few things it may touch.
static std::atomic<uint8_t> stop_flag{0};
static_assert(std::atomic<uint8_t>::is_always_lock_free);

bool prepare_stdout() {
  return isatty(STDOUT_FILENO) == 1;
}

// Only the foreground process group may read the controlling terminal or change its mode;
// anyone else would be stopped by SIGTTIN or SIGTTOU, or would disturb the job that owns
// it. A terminal that is not the controlling one (ENOTTY) has no such owner.
static bool terminal_is_ours() {
  if (isatty(STDIN_FILENO) != 1) return false;
  const pid_t owner = tcgetpgrp(STDIN_FILENO);
  return owner == getpgrp() || (owner < 0 && errno == ENOTTY);
}

static void on_stop_signal(int) {
  stop_flag.store(1, std::memory_order_relaxed);
}

// A signal ignored at start stays ignored, as shells expect: `nohup tavrel` must outlive
// its terminal.
static void catch_stop_signal(int signal_number) {
  struct sigaction previous {};
  if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

static void release_at_exit() {
  console_release_terminal();
}

void console_hold_terminal() {
  // A background job reads nothing and changes no mode (terminal_is_ours); with these
  // ignored, its writes with `stty tostop` and any race with a job change cannot stop it.
  signal(SIGTTIN, SIG_IGN);
  signal(SIGTTOU, SIG_IGN);
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) catch_stop_signal(s);
  if (!terminal_is_ours() || tcgetattr(STDIN_FILENO, &held.saved) != 0) return;
  termios quiet = held.saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL));
  if (tcsetattr(STDIN_FILENO, TCSANOW, &quiet) != 0) return;
  held.changed = true;
  std::atexit(release_at_exit);
}

void console_release_terminal() {
  if (!held.changed) return;
  held.changed = false;
  if (terminal_is_ours()) tcsetattr(STDIN_FILENO, TCSANOW, &held.saved);
}

bool console_stop_requested() {
  return stop_flag.load(std::memory_order_relaxed) != 0;
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
  if (!terminal_is_ours()) return false;
  // A terminal in canonical mode holds keys until Enter; switch to raw, no echo, for
  // the look, then put the mode back.
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
