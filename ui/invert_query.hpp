#pragma once
// The worker's question for the "Invert Signal" box, for window systems whose widgets may
// be touched on the main thread only. The worker posts a question, wakes the main loop and
// waits; the main loop answers every question posted so far. When the dialog ends, every
// open question is answered with 0, and later ones get 0 at once: the worker never waits
// for a dialog that has gone, so shutdown cannot hang on it. Atomics only, no lock.

#include <atomic>
#include <cstdint>

namespace tavrel {

struct InvertQuery {
  std::atomic<uint8_t> open{0};     ///< 1 while a dialog exists that answers
  std::atomic<uint32_t> asked{0};   ///< questions posted so far
  std::atomic<uint32_t> answer{0};  ///< questions answered so far << 1 | the latest answer
};

extern InvertQuery invert_query;

/// The dialog exists from now on. Main thread.
void invert_query_open();

/// The dialog has ended: answers every open question with 0. Main thread.
void invert_query_close();

/// True when a question waits for its answer. Main thread.
bool invert_query_pending();

/// Answers every question posted so far with `state` (0 or 1); ignored once closed. Main
/// thread.
void invert_query_answer(int32_t state);

/// Posts a question and gives its ticket; false when no dialog exists (the answer is then
/// 0). The caller wakes the main loop next. Worker thread.
bool invert_query_post(uint32_t& ticket);

/// Waits for the answer to question `ticket`: the box's state, or 0 when the dialog ends
/// first. Worker thread.
int32_t invert_query_wait(uint32_t ticket);

}  // namespace tavrel
