#pragma once
// Points the console at a temporary file for one test and reads back what was written.

#include <cstdio>
#include <string>

namespace tavrel::test {

struct ConsoleCapture {
  std::FILE* file = nullptr;
  std::FILE* saved = nullptr;
};

void console_capture_start(ConsoleCapture& capture);
/// Everything written since the start, byte for byte.
std::string console_capture_text(ConsoleCapture& capture);
void console_capture_stop(ConsoleCapture& capture);

}  // namespace tavrel::test
