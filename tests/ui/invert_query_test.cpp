// The worker's invert question and the main loop's answer at the dialog's end, with a
// thread standing in for the main loop; many rounds, which the GTK dialog test cannot
// afford. Run under ThreadSanitizer as well.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui/invert_query.hpp"

namespace tavrel {
namespace {

// Asks as the worker does: post, then wait (the wake-up is the main loop's business).
int32_t ask() {
  uint32_t ticket = 0;
  if (!invert_query_post(ticket)) return 0;
  return invert_query_wait(ticket);
}

// Answers questions with `state` until told to stop, as the main loop would.
struct MainLoop {
  std::atomic<int32_t> state{0};
  std::atomic<bool> stop{false};
  std::thread thread;

  void start() {
    thread = std::thread([this] {
      while (!stop.load()) {
        if (invert_query_pending()) invert_query_answer(state.load());
        std::this_thread::yield();
      }
    });
  }
  void join() {
    stop.store(true);
    thread.join();
  }
};

TEST(InvertQuery, QuestionOpenWhenDialogEndsGetsZero) {
  invert_query_open();
  std::atomic<int32_t> answer{-1};
  std::thread worker([&] { answer.store(ask()); });
  while (!invert_query_pending()) std::this_thread::yield();
  // The box is ticked, but the dialog ends before it answers.
  invert_query_close();
  worker.join();
  EXPECT_EQ(answer.load(), 0);
  invert_query_answer(1);  // a late answer from a main loop still running finds it closed
  EXPECT_EQ(ask(), 0);
}

TEST(InvertQuery, QuestionsRacingTheEndNeverHang) {
  for (int round = 0; round < 200; ++round) {
    invert_query_open();
    MainLoop loop;
    loop.state.store(1);
    loop.start();
    std::atomic<bool> ended{false};
    std::atomic<int32_t> after_end{0};
    std::thread worker([&] {
      for (int i = 0; i < 50; ++i) {
        const bool was_ended = ended.load();
        const int32_t answer = ask();
        if (was_ended) after_end.fetch_add(answer);
      }
    });
    for (int i = 0; i < round % 7; ++i) std::this_thread::yield();
    loop.join();  // the main loop stops answering, as when the dialog's loop returns
    invert_query_close();
    ended.store(true);
    worker.join();  // hangs here if a question was lost
    EXPECT_EQ(after_end.load(), 0) << "round " << round;
  }
}

}  // namespace
}  // namespace tavrel
