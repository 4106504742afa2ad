#pragma once
// A tag family as the tolerant path knows it: one constant row of the family table. A
// family file fills one row; the demodulators, the frame search and the sure-read rules
// know no family, and the sinks print its fields without knowing what they mean.
//
// A frame is held as its symbols, first sent first, exactly as the family's worked
// examples write it in hex: 4 symbols to a digit, the first sent the highest bit of the
// first digit. For Manchester and biphase codes a symbol is a decoded bit; for NRZ and FSK
// it is what the demodulator decided for one symbol period (FSK: the low tone, fc/10, is 1),
// so that Manchester carried on FSK is paired up by the family itself.

#include <cstdint>

namespace tavrel {

/// The symbol stream a family's frames are read from.
enum class Modulation : uint8_t {
  ask_manchester,  ///< a bit per symbol, its mid-symbol change: high then low is a 1
  ask_biphase,     ///< a change at every boundary; one mid-symbol as well is a 1
  ask_diphase,     ///< differential biphase: as biphase, but a mid-symbol change is a 0
  ask_nrz,         ///< the level for the whole symbol: high is a 1
  fsk,             ///< one tone per symbol: fc/10 is a 1, fc/8 a 0
};
constexpr int modulation_count = static_cast<int>(Modulation::fsk) + 1;

/// How people name a modulation: "ASK Manchester", "FSK".
const char* modulation_name(Modulation m);

/// Longest frame of any family, in symbols.
constexpr int32_t max_frame_symbols = 256;

/// A frame's symbols, first sent first: symbol i is bit 63 - i % 64 of words[i / 64].
struct FrameBits {
  uint64_t words[max_frame_symbols / 64];
  int32_t count;  ///< symbols held
};

/// Symbol `i` of `f`, 0 or 1.
inline int frame_symbol(const FrameBits& f, int32_t i) {
  return static_cast<int>(f.words[i >> 6] >> (63 - (i & 63)) & 1);
}

/// `n` (up to 64) symbols of `f` from `first` on, the first the highest bit.
uint64_t frame_field(const FrameBits& f, int32_t first, int32_t n);

/// Appends the low `n` bits of `value`, highest first.
void frame_append(FrameBits& f, uint64_t value, int32_t n);

/// The symbols as hex digits, 4 to a digit, into `text` (room for count / 4 + 1 chars).
void frame_hex(const FrameBits& f, char* text);

/// Reads hex digits (any case; ' ', ':', '-' between them ignored) into `f`; false when
/// the text holds anything else or more than max_frame_symbols symbols.
bool frame_from_hex(const char* text, FrameBits& f);

/// One value a read carries, as JSON gives it.
enum class FieldKind : uint8_t { integer, text };

struct Field {
  const char* name;  ///< JSON key; "a.b" is key b of the object a
  FieldKind kind;
  int64_t integer;
  char text[48];
};

constexpr int32_t max_fields = 12;

/// The fields a family read from one frame, in the order JSON shows them. `number` is
/// always among them: the form printed on cards or by readers, which the log shows.
struct Fields {
  Field items[max_fields];
  int32_t count;
};

void field_integer(Fields& f, const char* name, int64_t value);
void field_text(Fields& f, const char* name, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
/// The field named `name`, or null.
const Field* field_find(const Fields& f, const char* name);

/// A family's verdict on one frame: 0 for a frame that passed, otherwise the index of its
/// rejection reason in Family::reasons.
using Verdict = int32_t;
constexpr Verdict frame_passed = 0;

struct Family {
  const char* name;       ///< "em4100": --family, JSON's "family", tavrel-gen's FAMILY:RAW
  const char* title;      ///< "EM4100", as people write it
  Modulation modulation;  ///< the symbol stream its frames come from
  int32_t rates[3];       ///< RF/n dividers of the 125 kHz field it is sent at; 0 = unused
  int32_t frame_symbols;  ///< symbols in one frame, from its first sync symbol
  int32_t gap_symbols;    ///< symbols between repetitions (a sequence terminator), or 0
  int32_t sure_frames;    ///< identical frames in a row that make a read sure
  uint64_t sync;          ///< the frame's first sync_symbols symbols, first sent highest
  int32_t sync_symbols;   ///< 1 to 64
  bool either_polarity;   ///< also search the complement (ASK Manchester and NRZ levels
                          ///< come upside down from some front ends)
  bool animal_field;      ///< also at 134.2 kHz, the field of animal-tag readers, which
                          ///< makes every symbol 7 % shorter
  /// Checks one frame (frame_symbols symbols, sync first) and, when it passes, fills
  /// `fields`. Returns frame_passed or the reason it failed.
  Verdict (*decode)(const FrameBits& frame, Fields& fields);
  /// A frame from the family's friendly form of a tag (EM4100: its 10 hex digits; others
  /// as their file says), for tavrel-gen; false when the text is no such form. May be null.
  bool (*encode)(const char* text, FrameBits& frame);
  const char* encode_form;     ///< that form, for tavrel-gen's help, e.g. "FC:CN"
  const char* example;         ///< a tag in that form (or RAW), a worked example
  const char* printed;         ///< what its `number` shows, for the help and the README
  const char* const* reasons;  ///< names of its verdicts, [0] = "passed"
  int32_t reason_count;
  const char* const* fields;  ///< the JSON fields its reads carry, null-terminated
};

/// A tag in the family's form (or as RAW, for a family without one) as its frame.
bool form_frame(const Family& family, const char* text, FrameBits& frame);

/// The frame of the family's worked example.
bool example_frame(const Family& family, FrameBits& frame);

}  // namespace tavrel
