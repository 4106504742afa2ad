#include "report/sinks.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "decode/read_register.hpp"

namespace tavrel {

static const char* number_of(const TagRead& read) {
  const Field* number = field_find(read.fields, "number");
  return number ? number->text : "";
}

bool track_read(ReaderTrack& t, TagRead& read, double pause) {
  const char* number = number_of(read);
  const bool again = t.any && t.number == number;
  const bool first = !again || read.time - t.last >= pause;
  t.repeat = again ? t.repeat + 1 : 0;
  read.repeat = t.repeat;
  t.any = true;
  t.number = number;
  // A read may be of a frame older than the last one's (confirmed later, or from a lane
  // that decodes behind): the pause counts from the newest.
  t.last = again ? std::max(t.last, read.time) : read.time;
  return first;
}

void log_read(std::FILE* out, const TagRead& read) {
  // The log's repeat number counts from 0 at the first repetition: one behind `repeat`.
  write_log_line(out, number_of(read), read.repeat > 0, read.repeat - 1);
}

void wall_time_now(char (&text)[32]) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis));
}

static double tenths(double v) {
  return std::round(v * 10) / 10 + 0.0;  // no "-0.0"
}

std::string read_json(const std::string& input, const std::string& reader, const TagRead& read) {
  using json = nlohmann::ordered_json;
  json j;
  j["file"] = input;
  j["time"] = std::round(read.time * 1e6) / 1e6;  // microseconds are plenty
  if (read.wall[0]) j["wall"] = read.wall;
  if (!reader.empty()) j["reader"] = reader;
  j["family"] = read.family->name;
  for (int32_t i = 0; i < read.fields.count; ++i) {
    const Field& f = read.fields.items[i];
    const char* dot = std::strchr(f.name, '.');
    json& at = dot ? j[std::string(f.name, dot)][dot + 1] : j[f.name];
    if (f.kind == FieldKind::integer) {
      at = f.integer;
    } else {
      at = f.text;
    }
  }
  j["repeat"] = read.repeat;
  j["inverted"] = read.inverted;
  if (read.measured) {
    j["clock"] = read.clock;
    j["level"] = tenths(read.measure.level);
    j["offset"] = tenths(read.measure.offset);
    j["snr_db"] = tenths(read.measure.snr_db);
  }
  char raw[max_frame_symbols / 4 + 1];
  frame_hex(read.frame, raw);
  j["raw"] = raw;
  // A file name that is not UTF-8 gets U+FFFD for its stray bytes instead of an exception.
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace tavrel
