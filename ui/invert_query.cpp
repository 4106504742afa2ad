// Question and answer between the worker and the main loop, through three atomic words.
// Sequentially consistent throughout: the worker's "post, then look at open" and the main
// thread's "clear open, then read asked" must not both miss each other, or a question
// posted just as the dialog ends would never be answered.

#include "ui/invert_query.hpp"

namespace tavrel {

InvertQuery invert_query;

// Counts are kept shifted left by one, as in `answer`, so that wrapping stays harmless.
static bool answered(uint32_t answer, uint32_t ticket) {
  return static_cast<int32_t>((answer & ~1u) - (ticket << 1)) >= 0;
}

static void answer_all(int32_t state) {
  invert_query.answer.store(invert_query.asked.load() << 1 | static_cast<uint32_t>(state & 1));
  invert_query.answer.notify_all();
}

void invert_query_open() {
  invert_query.open.store(1);
}

void invert_query_close() {
  invert_query.open.store(0);
  answer_all(0);
}

bool invert_query_pending() {
  return !answered(invert_query.answer.load(), invert_query.asked.load());
}

void invert_query_answer(int32_t state) {
  if (invert_query.open.load()) answer_all(state);
}

bool invert_query_post(uint32_t& ticket) {
  if (!invert_query.open.load()) return false;
  ticket = invert_query.asked.fetch_add(1) + 1;
  return true;
}

int32_t invert_query_wait(uint32_t ticket) {
  for (;;) {
    const uint32_t answer = invert_query.answer.load();
    if (answered(answer, ticket)) return static_cast<int32_t>(answer & 1);
    // Nothing answers once the dialog has ended. A close that this load missed comes later,
    // stores a newer answer and wakes the wait below.
    if (!invert_query.open.load()) return 0;
    invert_query.answer.wait(answer);
  }
}

}  // namespace tavrel
