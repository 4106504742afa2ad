#include "tests/support/console_capture.hpp"

#include "platform/console.hpp"

namespace tavrel::test {

void console_capture_start(ConsoleCapture& capture) {
  capture.saved = console_stream;
  capture.file = std::tmpfile();
  console_stream = capture.file;
}

std::string console_capture_text(ConsoleCapture& capture) {
  std::fflush(capture.file);
  std::string text;
  std::rewind(capture.file);
  for (int c; (c = std::fgetc(capture.file)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

void console_capture_stop(ConsoleCapture& capture) {
  console_stream = capture.saved;
  std::fclose(capture.file);
  capture.file = nullptr;
}

}  // namespace tavrel::test
