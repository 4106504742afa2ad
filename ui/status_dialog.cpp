// The status dialog's logic: the activity indicator, the number display and the two
// option boxes, drawn from the timer through the platform's surface.

#include "ui/status_dialog.hpp"

#include <cstdio>

#include "decode/half_bit_ring.hpp"
#include "decode/read_register.hpp"
#include "platform/dialog.hpp"

namespace tavrel {

StatusDialog status_dialog;

constexpr int32_t block_width = 10;       ///< pixels
constexpr int32_t block_height = 17;      ///< pixels
constexpr int32_t position_step = 2;      ///< pixels per tick with new reads
constexpr int32_t position_modulus = 82;  ///< keeps the block on odd positions 1..81
constexpr Rect text_area{10, 10, 478, 80};

static Rect block_at(int32_t position) {
  return {position, 0, position + block_width, block_height};
}

bool dialog_init(void* window) {
  status_dialog.window.store(window);
  surface_init(window);
  surface_set_check(window, crc_check_control, 1);
  return true;
}

bool dialog_command(uintptr_t command) {
  void* window = status_dialog.window.load(std::memory_order_relaxed);
  if (command == cancel_command) {
    surface_end_dialog(window);
    return true;
  }
  if (command == crc_check_control) {
    parity_check.store(surface_check(window, crc_check_control), std::memory_order_relaxed);
    return true;
  }
  return false;
}

// The number, or dashes when nothing new has come in since the last refresh. Each test
// reads the register anew: the worker may write it at any moment.
static void refresh_display(void* window, const Surface& display) {
  constexpr auto relaxed = std::memory_order_relaxed;
  const ReadRegister& r = read_register;
  StatusDialog& d = status_dialog;
  surface_fill(display, text_area, Brush::button_face);
  char text[32];
  char label[32];
  if ((d.shown_repeat == r.repeat_count.load(relaxed) &&
       r.last_high.load(relaxed) == d.shown_high && r.last_low.load(relaxed) == d.shown_low) ||
      (r.last_high.load(relaxed) == -1 && r.last_low.load(relaxed) == -1)) {
    std::snprintf(text, sizeof text, "- - - . - - -");
    std::snprintf(label, sizeof label, "Repeat:");
  } else {
    std::snprintf(text, sizeof text, "%d.%d", r.last_high.load(relaxed), r.last_low.load(relaxed));
    std::snprintf(label, sizeof label, "Repeat: %d", r.repeat_count.load(relaxed));
  }
  surface_set_label(window, label);
  surface_text(display, text);
  d.shown_high = r.last_high.load(relaxed);
  d.shown_low = r.last_low.load(relaxed);
  d.shown_repeat = r.repeat_count.load(relaxed);
}

void dialog_tick() {
  StatusDialog& d = status_dialog;
  void* window = d.window.load(std::memory_order_relaxed);
  d.tick += 1;

  Surface indicator;
  if (!surface_begin(window, indicator_control, indicator)) return;
  if (read_register.repeat_count.load(std::memory_order_relaxed) != d.shown_repeat) {
    // Reads came in since the last refresh: the block steps on, in red.
    surface_fill(indicator, block_at(d.position), Brush::button_face);
    d.position = (d.position + position_step) % position_modulus;
    surface_fill(indicator, block_at(d.position), Brush::red);
  } else {
    surface_fill(indicator, block_at(d.position), Brush::grey);
  }
  surface_end(indicator);

  Surface display;
  if (!surface_begin(window, display_control, display)) return;
  if (d.tick % refresh_ticks == 0) refresh_display(window, display);
  surface_end(display);
}

}  // namespace tavrel
