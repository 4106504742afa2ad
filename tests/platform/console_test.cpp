// The one keystroke taken at teardown: never waits, takes one character, leaves the rest
// and the terminal's mode as they were.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "platform/console.hpp"

namespace tavrel {
namespace {

// Puts `fd` in place of standard input for the life of the object.
struct StdinFrom {
  explicit StdinFrom(int fd) : saved(dup(STDIN_FILENO)) { dup2(fd, STDIN_FILENO); }
  ~StdinFrom() {
    dup2(saved, STDIN_FILENO);
    close(saved);
  }
  int saved;
};

std::string drain(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::string rest;
  char c;
  while (read(fd, &c, 1) == 1) rest.push_back(c);
  return rest;
}

TEST(ConsoleKey, TakesOneWaitingByteFromPipeAndLeavesTheRest) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  ASSERT_EQ(write(p[1], "ab", 2), 2);
  {
    StdinFrom in(p[0]);
    EXPECT_TRUE(console_take_key());
  }
  EXPECT_EQ(drain(p[0]), "b");
  close(p[0]);
  close(p[1]);
}

TEST(ConsoleKey, NeverWaitsForInput) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);  // open, but nothing written: reading would block
  {
    StdinFrom in(p[0]);
    EXPECT_FALSE(console_take_key());
  }
  close(p[0]);
  close(p[1]);
  const int null = open("/dev/null", O_RDONLY);
  StdinFrom in(null);
  EXPECT_FALSE(console_take_key());  // end of input is no keystroke
  close(null);
}

TEST(ConsoleKey, TakesKeyTypedWithoutEnterAndRestoresTerminalMode) {
  int master, slave;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios before{};
  tcgetattr(slave, &before);
  ASSERT_TRUE(before.c_lflag & ICANON);
  ASSERT_EQ(write(master, "xy", 2), 2);  // typed, no Enter: held by the line discipline
  usleep(20000);
  {
    StdinFrom in(slave);
    EXPECT_TRUE(console_take_key());
  }
  termios after{};
  tcgetattr(slave, &after);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
  {
    // Without Enter the rest stays in the line; in raw mode it can be seen.
    termios raw = after;
    raw.c_lflag &= static_cast<tcflag_t>(~ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(slave, TCSANOW, &raw);
    EXPECT_EQ(drain(slave), "y");
  }
  close(master);
  close(slave);
}

}  // namespace
}  // namespace tavrel
