#pragma once
// Draws a plot layout with cairo. Built into the picture module that plot_draw loads,
// and linked directly by the tests.

#include <string>

#include "plot/plot_layout.hpp"

namespace tavrel {

/// Draws `layout` into a PNG or SVG file, chosen by the name's ending, of `width` by
/// `height` pixels. Returns "" or what went wrong.
std::string plot_draw_cairo(const Layout& layout, const std::string& path, int width, int height);

}  // namespace tavrel

/// The module's one entry point, found by name: plot_draw_cairo with plain arguments.
extern "C" __attribute__((visibility("default"))) void tavrel_plot_draw(
    const tavrel::Layout* layout, const char* path, int width, int height, std::string* problem);
