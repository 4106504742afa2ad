#pragma once
// The console: standard output for the read log and every message, and the
// console's keyboard for the one keystroke taken at teardown.

#include <cstdio>

namespace tavrel {

/// Where console_print writes; standard output unless a test or tool points it elsewhere.
extern std::FILE* console_stream;

/// Chooses the buffering of standard output: none on a terminal, so that the "\r"
/// rewrites show at once; a full buffer when redirected. Call once, before any output.
void console_setup();

/// printf to the console stream. Any thread.
void console_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Puts standard output in byte-exact mode where the OS has a text mode, and returns
/// true when it is a terminal. Implemented per OS.
bool prepare_stdout();

/// Reads and discards one pending keystroke if there is one, without echo and without
/// waiting. Returns true when one was taken. Worker thread, at teardown. Implemented per OS.
bool console_take_key();

}  // namespace tavrel
