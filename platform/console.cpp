#include "platform/console.hpp"

#include <cstdarg>

namespace tavrel {

std::FILE* console_stream = stdout;

// A redirected log is written out when this fills and at exit; static, so that no
// allocation happens on the first write.
static char redirected_buffer[BUFSIZ];

void console_setup() {
  if (prepare_stdout()) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  } else {
    std::setvbuf(stdout, redirected_buffer, _IOFBF, sizeof redirected_buffer);
  }
}

void console_flush() {
  std::fflush(console_stream);
}

void console_print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(console_stream, format, args);
  va_end(args);
}

}  // namespace tavrel
