#include "tests/fakes/fake_surface.hpp"

#include <cstdio>

namespace tavrel {

namespace test {

FakeSurface fake_surface;

void fake_surface_reset() {
  fake_surface = {};
}

std::vector<std::string> fake_surface_take() {
  std::vector<std::string> calls;
  calls.swap(fake_surface.calls);
  return calls;
}

}  // namespace test

using test::fake_surface;

static void note(const char* format, auto... values) {
  char line[128];
  std::snprintf(line, sizeof line, format, values...);
  fake_surface.calls.emplace_back(line);
}

static int32_t* check_slot(int32_t control) {
  if (control == crc_check_control) return &fake_surface.checks[0];
  if (control == invert_control) return &fake_surface.checks[1];
  return nullptr;
}

void surface_init(void*) {
  ++fake_surface.inits;
}

bool surface_begin(void*, int32_t control, Surface& surface) {
  if (control == fake_surface.refused_control) {
    note("refuse %d", control);
    return false;
  }
  if (fake_surface.refuse_context) {
    note("no context %d", control);
    return false;
  }
  note("begin %d", control);
  surface = {reinterpret_cast<void*>(static_cast<intptr_t>(control)), nullptr};
  return true;
}

static int32_t id_of(const Surface& surface) {
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(surface.control));
}

void surface_end(const Surface& surface) {
  note("end %d", id_of(surface));
}

void surface_fill(const Surface& surface, const Rect& r, Brush brush) {
  static const char* const names[] = {"face", "red", "grey"};
  note("fill %d %d %d %d %d %s", id_of(surface), r.left, r.top, r.right, r.bottom,
       names[static_cast<int>(brush)]);
}

void surface_text(const Surface& surface, const char* text) {
  note("text %d %s", id_of(surface), text);
  if (fake_surface.on_text) fake_surface.on_text();
}

void surface_set_label(void*, const char* text) {
  note("label %s", text);
}

int32_t surface_check(void*, int32_t control) {
  const int32_t* slot = check_slot(control);
  return slot ? *slot : 0;
}

void surface_set_check(void*, int32_t control, int32_t state) {
  if (int32_t* slot = check_slot(control)) *slot = state;
}

void surface_end_dialog(void*) {
  ++fake_surface.ends;
}

}  // namespace tavrel
