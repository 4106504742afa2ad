// Presco: Manchester at RF/32, 128 symbols, each repetition after a sequence terminator
// (every 132 symbols):
//
//   symbols  0-31    10D00000, the sync
//            32-95   zeros
//            96-127  code C: site C >> 24, user C & 0xFFFF (bits 16-23 unknown)
//
// The card's printed number is a keypad string (0-9, * for 10, # for 11) read in base 12,
// whose value is C; readers show C in hex as well ("full code").

#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "lf/families/overlaps.hpp"
#include "lf/family_table.hpp"

namespace tavrel {
namespace {

enum : Verdict { passed, length, sync, zeros, reason_end };
constexpr const char* reasons[] = {"passed", "length", "sync", "zeros"};
static_assert(std::size(reasons) == reason_end);

constexpr const char* fields[] = {"number", "id", "site", "user", nullptr};

constexpr char keys[] = "0123456789*#";

Verdict decode(const FrameBits& f, Fields& out) {
  if (f.count != 128) return length;
  if (frame_field(f, 0, 32) != 0x10D00000) return sync;
  if (frame_field(f, 32, 64) != 0) return zeros;
  const uint64_t c = frame_field(f, 96, 32);
  char text[16];
  int32_t n = 0;
  uint64_t v = c;
  do {
    text[n++] = keys[v % 12];
    v /= 12;
  } while (v);
  for (int32_t i = 0; i < n / 2; ++i) std::swap(text[i], text[n - 1 - i]);
  text[n] = 0;
  field_text(out, "number", "%s", text);
  field_text(out, "id", "%08llX", static_cast<unsigned long long>(c));
  field_integer(out, "site", static_cast<int64_t>(c >> 24));
  field_integer(out, "user", static_cast<int64_t>(c & 0xFFFF));
  return passed;
}

// The keypad string printed on the card, e.g. 123456789.
bool encode(const char* text, FrameBits& f) {
  uint64_t c = 0;
  if (!*text) return false;
  for (; *text; ++text) {
    const char* key = std::strchr(keys, *text);
    if (!key) return false;
    c = c * 12 + static_cast<uint64_t>(key - keys);
    if (c >> 32) return false;
  }
  f = FrameBits{};
  frame_append(f, 0x10D00000, 32);
  frame_append(f, 0, 64);
  frame_append(f, c, 32);
  return true;
}

}  // namespace

// Nothing checks the code, only the 96 fixed symbols say the frame is Presco's: a wrong
// code needs the same error in every frame, so four frames in a row, the most of any
// family here.
extern const Family family_presco = {
    .name = "presco",
    .title = "Presco",
    .modulation = Modulation::ask_manchester,
    .rates = {32, 0, 0},
    .frame_symbols = 128,
    .gap_symbols = 4,
    .sure_frames = 4,
    .sync = 0x10D00000,
    .sync_symbols = 32,
    .either_polarity = true,
    .animal_field = false,
    .decode = decode,
    .encode = encode,
    .encode_form = "the keypad number printed on the card, e.g. 123456789",
    .example = "123456789",
    .printed = "the keypad number printed on the card (digits, * and #)",
    .reasons = reasons,
    .reason_count = reason_end,
    .fields = fields,
};

}  // namespace tavrel
