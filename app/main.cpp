// Tavrel: reads 125 kHz proximity tags through the sound input. No command line, no
// files, no settings: the two options live in the window.

#include "app/lifecycle.hpp"
#include "frontend/capture_worker.hpp"
#include "platform/console.hpp"

int main() {
  tavrel::console_setup();
  tavrel::console_hold_terminal();
  const int code = tavrel::run_program(tavrel::capture_worker);
  tavrel::console_release_terminal();
  return code;
}
