#pragma once
// Where reads go: the console log, JSON lines, one line per presentation of a tag. Every
// sink takes the same read record and knows no family: it prints the family's fields.

#include <cstdio>
#include <string>

#include "lf/read.hpp"

namespace tavrel {

/// What one reader has read so far: the line the log is on, and when the tag was last seen.
struct ReaderTrack {
  bool any = false;
  std::string number;  ///< `number` of the last read
  int32_t repeat = 0;  ///< reads of it in a row before the last
  double last = 0;     ///< stream seconds of the last read
};

/// Takes `read` on its reader: sets read.repeat (0 for a new number, as the program's
/// log counts) and returns whether it begins a presentation of the tag: a new number, or
/// the same after `pause` seconds or more without reads, when the window falls back to
/// dashes.
bool track_read(ReaderTrack& track, TagRead& read, double pause);

/// The read's line of the console log, written to `out` as the program writes it.
void log_read(std::FILE* out, const TagRead& read);

/// The read as one JSON object on one line, without the line end: the input's name, the
/// times, the reader's name when given, the family and its fields, and how it was found.
std::string read_json(const std::string& input, const std::string& reader, const TagRead& read);

/// The wall-clock time now, ISO 8601 in UTC to the millisecond: 2026-12-09T05:03:12.345Z.
void wall_time_now(char (&text)[32]);

}  // namespace tavrel
