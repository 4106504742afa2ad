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

/// Writes out what the console stream holds: a redirected log reaches its file even if
/// the process is ended from outside afterwards. Any thread.
void console_flush();

/// printf to the console stream. Any thread.
void console_print(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Puts standard output in byte-exact mode where the OS has a text mode, and returns
/// true when it is a terminal. Implemented per OS.
bool prepare_stdout();

/// The window program's hold on its terminal, once at start on the main thread before any
/// other thread: keys typed into the terminal are not echoed into the log line (when
/// standard input is the terminal and this process is in its foreground), the terminal
/// never stops the process (SIGTTIN, SIGTTOU), and the user's requests to end it from the
/// terminal (Ctrl-C, SIGTERM, SIGHUP; on Windows Ctrl-C, Ctrl-Break, closing the console)
/// only raise console_stop_requested. Implemented per OS.
void console_hold_terminal();

/// Puts back the terminal's mode as console_hold_terminal found it, if this process is
/// still in the terminal's foreground. Main thread, at the end; also run at exit.
/// Implemented per OS.
void console_release_terminal();

/// True once the user asked, through the terminal, for the program to end; the dialog
/// then ends as if cancelled. Any thread.
bool console_stop_requested();

/// Reads and discards one pending keystroke if there is one, without echo and without
/// waiting. Returns true when one was taken. Worker thread, at teardown. Implemented per OS.
bool console_take_key();

}  // namespace tavrel
