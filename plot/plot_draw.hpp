#pragma once
// Pictures of a plot layout, drawn by the picture module (cairo), which is loaded only
// when a picture is asked for.

#include <string>

#include "plot/plot_layout.hpp"

namespace tavrel {

constexpr int plot_width = 1600;  ///< pixels, the default picture
constexpr int plot_height = 900;

/// Whether `path` names a picture plot_draw can write (.png or .svg).
bool plot_format_known(const std::string& path);

/// Draws `layout` into a PNG or SVG file, chosen by the name's ending, of `width` by
/// `height` pixels. Returns "" or what went wrong, including a module that cannot be loaded.
std::string plot_draw(const Layout& layout, const std::string& path, int width, int height);

}  // namespace tavrel
