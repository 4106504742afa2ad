// The dialog logic against a recording stand-in for the window system: what each timer
// tick draws, when the display refreshes, and what the commands do.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "platform/dialog.hpp"
#include "tests/fakes/fake_surface.hpp"
#include "ui/status_dialog.hpp"

namespace tavrel {
namespace {

using test::fake_surface;
using test::fake_surface_take;
using Calls = std::vector<std::string>;

int window_stand_in;

void set_register(int32_t high, int32_t low, int32_t repeat) {
  read_register.last_high.store(high);
  read_register.last_low.store(low);
  read_register.repeat_count.store(repeat);
}

Calls ticks(int n) {
  for (int i = 0; i < n; ++i) dialog_tick();
  return fake_surface_take();
}

// Ticks up to and including the next refresh; returns what that last tick drew.
Calls next_refresh() {
  while ((status_dialog.tick + 1) % 4 != 0) dialog_tick();
  fake_surface_take();
  return ticks(1);
}

// The calls between getting the display and giving it back.
Calls display_part(const Calls& calls) {
  const auto begin = std::find(calls.begin(), calls.end(), "begin 1000");
  if (begin == calls.end() || calls.back() != "end 1000") return {"display not drawn"};
  return Calls(begin + 1, calls.end() - 1);
}

Calls refresh(const std::string& text, const std::string& label) {
  return {"fill 1000 10 10 478 80 face", "label " + label, "text 1000 " + text};
}

const Calls dashes = refresh("- - - . - - -", "Repeat:");

std::string block(int32_t x, const char* brush) {
  return "fill 1002 " + std::to_string(x) + " 0 " + std::to_string(x + 10) + " 17 " + brush;
}

class StatusDialogLogic : public ::testing::Test {
 protected:
  void SetUp() override {
    test::fake_surface_reset();
    status_dialog.window.store(nullptr);
    status_dialog.tick = 0;
    status_dialog.position = 1;
    status_dialog.shown_high = -1;
    status_dialog.shown_low = -1;
    status_dialog.shown_repeat = 0;
    set_register(-1, -1, 0);
    parity_check.store(1);
    ASSERT_TRUE(dialog_init(&window_stand_in));
    fake_surface_take();
  }
};

TEST_F(StatusDialogLogic, InitKeepsWindowStartsSurfaceAndTicksOnlyCrcCheck) {
  EXPECT_EQ(status_dialog.window.load(), &window_stand_in);
  EXPECT_EQ(fake_surface.inits, 1);
  EXPECT_EQ(fake_surface.checks[0], 1);
  EXPECT_EQ(fake_surface.checks[1], 0);
}

TEST_F(StatusDialogLogic, GreyBlockFromFirstTickAndDashesFirstOnFourth) {
  const Calls quiet = {"begin 1002", block(1, "grey"), "end 1002", "begin 1000", "end 1000"};
  for (int tick = 1; tick <= 3; ++tick) EXPECT_EQ(ticks(1), quiet) << "tick " << tick;
  EXPECT_EQ(display_part(ticks(1)), dashes);
  for (int tick = 5; tick <= 7; ++tick) EXPECT_EQ(ticks(1), quiet) << "tick " << tick;
  EXPECT_EQ(display_part(ticks(1)), dashes);
}

TEST_F(StatusDialogLogic, BlockStepsByTwoThroughOddPositionsAndWrapsToOne) {
  int32_t from = 1;
  for (int step = 0; step < 45; ++step) {
    read_register.repeat_count.fetch_add(1);  // a read before every tick
    const int32_t to = from == 81 ? 1 : from + 2;
    const Calls drawn = ticks(1);
    ASSERT_GE(drawn.size(), 4u);
    ASSERT_EQ(Calls(drawn.begin(), drawn.begin() + 4),
              (Calls{"begin 1002", block(from, "face"), block(to, "red"), "end 1002"}))
        << "step " << step;
    from = to;
  }
  EXPECT_EQ(status_dialog.position, 9);  // 40 steps to 81, then 1, 3, 5, 7, 9
}

TEST_F(StatusDialogLogic, RefreshShowsNumberAndCountThenDashesOnceNothingNew) {
  set_register(4, 14614, 3);
  const Calls fourth = next_refresh();
  EXPECT_EQ(Calls(fourth.begin(), fourth.begin() + 4),
            (Calls{"begin 1002", block(7, "face"), block(9, "red"), "end 1002"}));
  EXPECT_EQ(display_part(fourth), refresh("4.14614", "Repeat: 3"));
  EXPECT_EQ(status_dialog.shown_high, 4);
  EXPECT_EQ(status_dialog.shown_low, 14614);
  EXPECT_EQ(status_dialog.shown_repeat, 3);

  // Nothing new: the block stands grey where it stopped and the display falls back.
  const Calls quiet = next_refresh();
  EXPECT_EQ(quiet[1], block(9, "grey"));
  EXPECT_EQ(display_part(quiet), dashes);

  // The same tag read again: the changed count alone brings the number back.
  read_register.repeat_count.store(4);
  EXPECT_EQ(display_part(next_refresh()), refresh("4.14614", "Repeat: 4"));
}

TEST_F(StatusDialogLogic, NewTagWithCountStillZeroShowsForOneRefreshWithoutStepping) {
  next_refresh();  // dashes shown, shown_repeat 0
  set_register(7, 99, 0);
  const Calls first = next_refresh();
  EXPECT_EQ(first[1], block(1, "grey"));
  EXPECT_EQ(display_part(first), refresh("7.99", "Repeat: 0"));
  EXPECT_EQ(display_part(next_refresh()), dashes);
  EXPECT_EQ(status_dialog.position, 1);
}

TEST_F(StatusDialogLogic, ReadLandingInsideRefreshCountsAsShownWithoutBeingDrawn) {
  set_register(4, 100, 0);
  fake_surface.on_text = [] {
    set_register(5, 200, 0);
    fake_surface.on_text = nullptr;
  };
  EXPECT_EQ(display_part(next_refresh()), refresh("4.100", "Repeat: 0"));
  EXPECT_EQ(status_dialog.shown_high, 5);
  EXPECT_EQ(status_dialog.shown_low, 200);
  EXPECT_EQ(display_part(next_refresh()), dashes);
}

TEST_F(StatusDialogLogic, RefusedIndicatorEndsTickAndSkipsDisplay) {
  set_register(4, 100, 2);
  fake_surface.refused_control = indicator_control;
  EXPECT_EQ(ticks(2), Calls(2, "refuse 1002"));
  EXPECT_EQ(status_dialog.position, 1);
  // The refused ticks still count: the refresh comes at the fourth tick overall.
  fake_surface.refused_control = 0;
  EXPECT_EQ(display_part(ticks(1)), Calls{});
  EXPECT_EQ(display_part(ticks(1)), refresh("4.100", "Repeat: 2"));
}

TEST_F(StatusDialogLogic, RefusedDisplayKeepsIndicatorAndLeavesReadUnshown) {
  set_register(4, 100, 2);
  fake_surface.refused_control = display_control;
  const Calls fourth = next_refresh();
  EXPECT_EQ(fourth,
            (Calls{"begin 1002", block(7, "face"), block(9, "red"), "end 1002", "refuse 1000"}));
  EXPECT_EQ(status_dialog.shown_repeat, 0);
  fake_surface.refused_control = 0;
  EXPECT_EQ(display_part(next_refresh()), refresh("4.100", "Repeat: 2"));
}

TEST_F(StatusDialogLogic, MissingDrawingContextEndsTickAtIndicator) {
  fake_surface.refuse_context = true;
  EXPECT_EQ(ticks(4), Calls(4, "no context 1002"));
}

TEST_F(StatusDialogLogic, CommandsCompareWholeParameter) {
  EXPECT_FALSE(dialog_command(ok_command));  // Enter: nothing happens
  EXPECT_EQ(fake_surface.ends, 0);

  fake_surface.checks[0] = 0;  // the click has just cleared the box
  EXPECT_TRUE(dialog_command(crc_check_control));
  EXPECT_EQ(parity_check.load(), 0);
  fake_surface.checks[0] = 1;
  EXPECT_TRUE(dialog_command(crc_check_control));
  EXPECT_EQ(parity_check.load(), 1);

  // The same id with a notification code in the high word is another command.
  fake_surface.checks[0] = 0;
  EXPECT_FALSE(dialog_command(uintptr_t{1} << 16 | crc_check_control));
  EXPECT_FALSE(dialog_command(uintptr_t{1} << 16 | cancel_command));
  EXPECT_EQ(parity_check.load(), 1);
  EXPECT_EQ(fake_surface.ends, 0);

  EXPECT_TRUE(dialog_command(cancel_command));
  EXPECT_EQ(fake_surface.ends, 1);
}

}  // namespace
}  // namespace tavrel
