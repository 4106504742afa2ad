#include "lf/family.hpp"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tavrel {

const char* modulation_name(Modulation m) {
  switch (m) {
    case Modulation::ask_manchester:
      return "ASK Manchester";
    case Modulation::ask_biphase:
      return "ASK biphase";
    case Modulation::ask_diphase:
      return "ASK differential biphase";
    case Modulation::ask_nrz:
      return "ASK NRZ";
    case Modulation::fsk:
      return "FSK (fc/8, fc/10)";
  }
  return "";
}

uint64_t frame_field(const FrameBits& f, int32_t first, int32_t n) {
  if (n <= 0) return 0;
  // From the word that holds the first symbol and, past its end, the next.
  const int32_t w = first >> 6;
  const int32_t s = first & 63;
  uint64_t v = f.words[w] << s;
  if (s + n > 64) v |= f.words[w + 1] >> (64 - s);
  return v >> (64 - n);
}

void frame_append(FrameBits& f, uint64_t value, int32_t n) {
  for (int32_t k = n - 1; k >= 0 && f.count < max_frame_symbols; --k, ++f.count) {
    uint64_t& word = f.words[f.count >> 6];
    const uint64_t bit = uint64_t{1} << (63 - (f.count & 63));
    word = (value >> k & 1) ? word | bit : word & ~bit;
  }
}

void frame_hex(const FrameBits& f, char* text) {
  static constexpr char digits[] = "0123456789ABCDEF";
  int32_t n = 0;
  for (int32_t i = 0; i + 4 <= f.count; i += 4) text[n++] = digits[frame_field(f, i, 4)];
  text[n] = 0;
}

bool frame_from_hex(const char* text, FrameBits& f) {
  f = FrameBits{};
  for (; *text; ++text) {
    const char c = *text;
    if (c == ' ' || c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)) || f.count + 4 > max_frame_symbols)
      return false;
    const int v = std::isdigit(static_cast<unsigned char>(c))
                      ? c - '0'
                      : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    frame_append(f, static_cast<uint64_t>(v), 4);
  }
  return f.count > 0;
}

static Field* next_field(Fields& f, const char* name, FieldKind kind) {
  if (f.count >= max_fields) return nullptr;
  Field& field = f.items[f.count++];
  field = Field{};
  field.name = name;
  field.kind = kind;
  return &field;
}

void field_integer(Fields& f, const char* name, int64_t value) {
  if (Field* field = next_field(f, name, FieldKind::integer)) field->integer = value;
}

void field_text(Fields& f, const char* name, const char* format, ...) {
  Field* field = next_field(f, name, FieldKind::text);
  if (!field) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(field->text, sizeof field->text, format, args);
  va_end(args);
}

const Field* field_find(const Fields& f, const char* name) {
  for (int32_t i = 0; i < f.count; ++i)
    if (std::strcmp(f.items[i].name, name) == 0) return &f.items[i];
  return nullptr;
}

bool form_frame(const Family& family, const char* text, FrameBits& frame) {
  frame = FrameBits{};
  return family.encode ? family.encode(text, frame) : frame_from_hex(text, frame);
}

bool example_frame(const Family& family, FrameBits& frame) {
  return form_frame(family, family.example, frame);
}

}  // namespace tavrel
