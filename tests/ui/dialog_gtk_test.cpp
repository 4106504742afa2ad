// The GTK dialog answering the worker's invert question across its lifetime: before it
// exists, while it runs, for a question still open as it ends, and after. Runs on a
// private X server (Xvfb) started for the test process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/dialog.hpp"
#include "ui/invert_query.hpp"
#include "ui/status_dialog.hpp"

extern char** environ;

// The libraries under GTK are not built with the sanitizers. Fontconfig's start-up thread
// (run by Pango) hands its caches to the main thread in ways ThreadSanitizer cannot see
// and keeps them to the end; GObject's type locks nest in an order it takes for a possible
// deadlock (our code takes no lock, so it cannot be part of one).
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libfontconfig.so.1\n"
         "deadlock:libgobject-2.0.so.0\n";
}
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so.1\n";
}

namespace tavrel {
namespace {

using namespace std::chrono_literals;

// Starts Xvfb on a display it picks itself and points DISPLAY at it.
class XServer : public ::testing::Environment {
 public:
  void SetUp() override {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",       "-displayfd", fd.c_str(), "-screen", "0",
                          "800x200x24", "-nolisten",  "tcp",      nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int failed =
        posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string display;
    char c;
    while (!failed && read(fds[0], &c, 1) == 1 && c != '\n') display += c;
    close(fds[0]);
    if (failed || display.empty()) {
      pid_ = 0;
      return;
    }
    setenv("DISPLAY", (":" + display).c_str(), 1);
    // No accessibility bus here; its bridge would only keep a few strings to the end.
    setenv("NO_AT_BRIDGE", "1", 1);
  }
  void TearDown() override {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool running() const { return pid_ != 0; }

 private:
  pid_t pid_ = 0;
};

XServer* x_server = static_cast<XServer*>(::testing::AddGlobalTestEnvironment(new XServer));

void require_display() {
  if (!x_server->running()) GTEST_SKIP() << "Xvfb could not be started";
}

// Runs `step` on the main thread every 10 ms while the dialog runs.
template <typename Step>
void every_10_ms(Step& step) {
  g_timeout_add(
      10,
      [](gpointer data) {
        return (*static_cast<Step*>(data))() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
      },
      &step);
}

TEST(GtkDialog, InvertStateFollowsBoxAndIsZeroWithoutDialog) {
  require_display();
  EXPECT_EQ(invert_state(), 0) << "before the dialog";

  // 0: worker asks with the box clear; 1: main ticks it; 2: worker asks again;
  // 3: main is busy (4) and ends the dialog once the worker's question is open.
  std::atomic<int> step{0};
  std::atomic<int32_t> answers[3] = {-1, -1, -1};
  std::thread worker([&] {
    while (status_dialog.window.load() == nullptr) std::this_thread::sleep_for(1ms);
    answers[0].store(invert_state());
    step.store(1);
    while (step.load() != 2) std::this_thread::sleep_for(1ms);
    answers[1].store(invert_state());
    step.store(3);
    while (step.load() != 4) std::this_thread::sleep_for(1ms);
    answers[2].store(invert_state());
  });
  auto main_step = [&] {
    if (step.load() == 1) {
      surface_set_check(status_dialog.window.load(), invert_control, 1);
      step.store(2);
    } else if (step.load() == 3) {
      // Busy here, the main loop cannot answer: end the dialog with the question open.
      step.store(4);
      const auto limit = std::chrono::steady_clock::now() + 5s;
      while (!invert_query_pending() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
      }
      EXPECT_TRUE(invert_query_pending());
      dialog_command(cancel_command);
      return false;
    }
    return true;
  };
  every_10_ms(main_step);
  run_status_dialog();
  worker.join();
  EXPECT_EQ(answers[0].load(), 0);
  EXPECT_EQ(answers[1].load(), 1);
  EXPECT_EQ(answers[2].load(), 0) << "a question open at the end must get 0";
  EXPECT_EQ(status_dialog.window.load(), nullptr);

  std::atomic<int32_t> after{-1};
  std::thread([&] { after.store(invert_state()); }).join();
  EXPECT_EQ(after.load(), 0) << "after the dialog";
}

TEST(GtkDialog, QuestionsRacingTheEndAllComeBack) {
  require_display();
  std::atomic<bool> stop{false};
  std::atomic<int> asked{0};
  std::thread worker([&] {
    while (!stop.load()) {
      invert_state();  // hangs here if the end loses a question
      asked.fetch_add(1);
    }
  });
  auto main_step = [&] {
    if (asked.load() < 200) return true;
    dialog_command(cancel_command);
    return false;
  };
  every_10_ms(main_step);
  run_status_dialog();
  const int at_end = asked.load();
  // Questions after the end come back at once.
  while (asked.load() < at_end + 1000) std::this_thread::yield();
  stop.store(true);
  worker.join();
}

}  // namespace
}  // namespace tavrel
