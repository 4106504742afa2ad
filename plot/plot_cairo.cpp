// The plot layout drawn with cairo, on an image surface written as PNG or on an SVG
// surface. Every kind of mark differs from the others in shape or place as well as in
// colour, so that the picture reads the same printed in grey.

#include "plot/plot_cairo.hpp"

#include <cairo-svg.h>
#include <cairo.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace tavrel {

namespace {

constexpr Rgb ink{0.1, 0.1, 0.1};
constexpr Rgb faint{0.55, 0.55, 0.55};
constexpr Rgb grid{0.9, 0.9, 0.9};
constexpr Rgb band{0.86, 0.86, 0.86};
constexpr Rgb threshold_colour{0.75, 0.1, 0.1};
constexpr Rgb high_colour{0.12, 0.3, 0.68};
constexpr Rgb low_colour{0.96, 0.66, 0.22};
constexpr Rgb dropped_colour{0.85, 0.0, 0.0};
constexpr Rgb half_fill{0.75, 0.82, 0.93};
constexpr Rgb read_colour{0.05, 0.5, 0.15};
constexpr Rgb levels_colour{0.45, 0.15, 0.65};
constexpr Rgb symbol_one{0.12, 0.3, 0.68};    ///< filled cells
constexpr Rgb symbol_zero{0.45, 0.45, 0.45};  ///< hollow cells
constexpr double swing_dash[] = {2, 3};       ///< dotted: apart from the thresholds' dashes in grey
// By test result, as every report colours them.
constexpr Rgb check_colour(int result) {
  return frame_check_reasons[result].colour;
}
constexpr const char* font = "DejaVu Sans";

constexpr double label_width = 150;  ///< px left of the plot for lane names and scales
constexpr double right_margin = 20;
constexpr double lane_gap = 10;

struct Frame {
  cairo_t* cr;
  double left, right;  ///< plot area, px
  double from, to;     ///< ms at left and right
  double x(double ms) const { return left + (ms - from) / (to - from) * (right - left); }
};

struct Box {
  double top, bottom;
};

void colour(cairo_t* cr, Rgb c) {
  cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

double text_width(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  return e.x_advance;
}

void text_at(cairo_t* cr, double x, double y, const std::string& text, double size,
             double align = 0, bool bold = false) {
  cairo_select_font_face(cr, font, CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_move_to(cr, x - align * text_width(cr, text), y);
  cairo_show_text(cr, text.c_str());
}

void line(cairo_t* cr, double x0, double y0, double x1, double y1, double width) {
  cairo_set_line_width(cr, width);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

void cross(cairo_t* cr, double x, double y, double r, double width) {
  line(cr, x - r, y - r, x + r, y + r, width);
  line(cr, x - r, y + r, x + r, y - r, width);
}

// Shapes that tell the rare test results apart in grey.
void result_shape(cairo_t* cr, int result, double x, double y, double r) {
  switch (static_cast<FrameCheck>(result)) {
    case FrameCheck::manchester:
      cross(cr, x, y, r, 1.6);
      break;
    case FrameCheck::row_parity:
      cairo_move_to(cr, x, y - r);
      cairo_line_to(cr, x + r, y + r);
      cairo_line_to(cr, x - r, y + r);
      cairo_close_path(cr);
      cairo_fill(cr);
      break;
    case FrameCheck::column_parity:
      cairo_rectangle(cr, x - r, y - r, 2 * r, 2 * r);
      cairo_fill(cr);
      break;
    case FrameCheck::stop_bit:
      // A triangle pointing down, the row parity's upside down.
      cairo_move_to(cr, x, y + r);
      cairo_line_to(cr, x + r, y - r);
      cairo_line_to(cr, x - r, y - r);
      cairo_close_path(cr);
      cairo_fill(cr);
      break;
    case FrameCheck::ok:
      cairo_arc(cr, x, y, r, 0, 2 * M_PI);
      cairo_fill(cr);
      break;
    case FrameCheck::too_few:
    case FrameCheck::header:
      break;
  }
}

// A tolerant-path frame's result (-1: failed its family's checks, else a SureCheck), as
// every report colours it.
Rgb frame_colour(int result) {
  return result < 0 ? family_check_reason.colour : sure_check_reasons[result].colour;
}

// Shapes that tell the frames' results apart in grey: a cross for a failed frame, and for
// one that passed a hollow circle (not yet sure), a triangle (a weak symbol), a square (the
// line code), a triangle pointing down (repeated) or a filled circle (read).
void frame_shape(cairo_t* cr, int result, double x, double y, double r) {
  switch (result) {
    case -1:
      cross(cr, x, y, r, 1.6);
      return;
    case static_cast<int>(SureCheck::alone):
      cairo_arc(cr, x, y, r - 0.6, 0, 2 * M_PI);
      cairo_set_line_width(cr, 1.3);
      cairo_stroke(cr);
      return;
    case static_cast<int>(SureCheck::read):
      cairo_arc(cr, x, y, r, 0, 2 * M_PI);
      cairo_fill(cr);
      return;
    case static_cast<int>(SureCheck::weak_symbol):
      result_shape(cr, static_cast<int>(FrameCheck::row_parity), x, y, r);
      return;
    case static_cast<int>(SureCheck::line_code):
      result_shape(cr, static_cast<int>(FrameCheck::column_parity), x, y, r);
      return;
    default:
      result_shape(cr, static_cast<int>(FrameCheck::stop_bit), x, y, r);
      return;
  }
}

double lane_weight(const Lane& lane) {
  switch (lane.kind) {
    case LaneKind::signal:
      return 3.6;
    case LaneKind::runs:
      return 2.0;
    case LaneKind::half_bits:
      return 0.55;
    case LaneKind::windows:
      return 0.4 + 0.2 * std::min(lane.rows, 8);
    case LaneKind::tests:
      return 0.22 * lane.rows;
    case LaneKind::reads:
      return 0.45;
    case LaneKind::symbols:
      return 0.9;
    case LaneKind::frames:
      return 0.3 + 0.25 * lane.rows;
  }
  return 1.0;
}

// A step between axis labels that leaves at least `px` between them.
double tick_step(double span_ms, double width_px, double px) {
  const double wanted = span_ms * px / width_px;
  double step = std::pow(10.0, std::floor(std::log10(wanted)));
  for (const double f : {1.0, 2.0, 5.0, 10.0}) {
    if (step * f >= wanted) return step * f;
  }
  return step * 10;
}

std::string number_text(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// y of a value in a lane whose scale runs from `low` (bottom) to `high` (top).
double scaled(const Box& box, double low, double high, double v) {
  return box.bottom - (v - low) / (high - low) * (box.bottom - box.top);
}

double row_y(const Box& box, int32_t rows, double row, double within) {
  const double h = (box.bottom - box.top) / rows;
  return box.top + h * (row + within);
}

constexpr double signal_ticks[] = {-128, -64, 0, 64, 127};

// The tolerant path's middle (solid) and middle +- swing (dotted) as steps, block by block.
void draw_levels(const Frame& f, const Layout& layout, const Box& box) {
  cairo_t* cr = f.cr;
  for (const double side : {-1.0, 0.0, 1.0}) {
    bool open = false;
    double last_end = 0;
    for (const Mark& m : layout.marks) {
      if (m.kind != MarkKind::levels) continue;
      const double y = scaled(box, -128, 128, std::clamp(m.low + side * m.high, -128.0, 128.0));
      if (!open || m.start > last_end + 1e-9)
        cairo_move_to(cr, f.x(m.start), y);
      else
        cairo_line_to(cr, f.x(m.start), y);
      cairo_line_to(cr, f.x(m.end), y);
      open = true;
      last_end = m.end;
    }
    if (!open) continue;
    colour(cr, levels_colour);
    if (side != 0) cairo_set_dash(cr, swing_dash, 2, 0);
    cairo_set_line_width(cr, side == 0 ? 2.0 : 1.6);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
  }
}

void draw_signal(const Frame& f, const Layout& layout, const Box& box) {
  cairo_t* cr = f.cr;
  constexpr double low = -128;
  constexpr double high = 128;
  for (const double v : signal_ticks) {
    colour(cr, grid);
    line(cr, f.left, scaled(box, low, high, v), f.right, scaled(box, low, high, v), 1);
  }
  for (const Mark& m : layout.marks) {
    if (m.kind == MarkKind::dead_band) {
      const double top = scaled(box, low, high, m.high);
      const double bottom = scaled(box, low, high, m.low);
      colour(cr, band);
      cairo_rectangle(cr, f.x(m.start), top, f.x(m.end) - f.x(m.start), bottom - top);
      cairo_fill(cr);
      // Diagonal hatching: the band stays visible in any print.
      cairo_save(cr);
      cairo_rectangle(cr, f.x(m.start), top, f.x(m.end) - f.x(m.start), bottom - top);
      cairo_clip(cr);
      colour(cr, {0.75, 0.75, 0.75});
      for (double x = f.x(m.start) - (bottom - top); x < f.x(m.end); x += 14)
        line(cr, x, bottom, x + (bottom - top), top, 1);
      cairo_restore(cr);
    }
  }
  colour(cr, grid);
  for (const Mark& m : layout.marks) {
    if (m.kind != MarkKind::threshold) continue;
    const double y = scaled(box, low, high, m.low);
    colour(cr, threshold_colour);
    const double dash[] = {8, 4};
    cairo_set_dash(cr, dash, 2, 0);
    line(cr, f.x(m.start), y, f.x(m.end), y, 1.6);
    cairo_set_dash(cr, nullptr, 0, 0);
  }
  // The samples: a line while they are few per pixel, else each column's extremes.
  if (layout.trace.empty()) return;
  colour(cr, ink);
  const double per_px = static_cast<double>(layout.trace.size()) / (f.right - f.left);
  cairo_set_line_width(cr, per_px > 3 ? 1.0 : 1.3);
  if (per_px <= 3) {
    for (size_t i = 0; i < layout.trace.size(); ++i) {
      const double x = f.x(layout.from + static_cast<double>(i) * layout.sample_ms);
      const double y = scaled(box, low, high, layout.trace[i]);
      if (i == 0)
        cairo_move_to(cr, x, y);
      else
        cairo_line_to(cr, x, y);
    }
  } else {
    for (double px = 0; px < f.right - f.left; ++px) {
      const auto a = static_cast<size_t>(px * per_px);
      const auto b = std::min(layout.trace.size(), static_cast<size_t>((px + 1) * per_px) + 1);
      if (a >= b) continue;
      const auto [lo, hi] = std::minmax_element(layout.trace.begin() + static_cast<ptrdiff_t>(a),
                                                layout.trace.begin() + static_cast<ptrdiff_t>(b));
      cairo_move_to(cr, f.left + px + 0.5, scaled(box, low, high, *lo) + 0.5);
      cairo_line_to(cr, f.left + px + 0.5, scaled(box, low, high, *hi) - 0.5);
    }
  }
  cairo_stroke(cr);
  draw_levels(f, layout, box);
}

void draw_runs(const Frame& f, const Layout& layout, int32_t lane, const Box& box) {
  cairo_t* cr = f.cr;
  const double top = shown_run;
  int bands = 0;
  for (const Mark& m : layout.marks) {
    if (m.lane != lane || m.kind != MarkKind::run_band) continue;
    const double y0 = scaled(box, 0, top, m.high + 0.5);
    const double y1 = scaled(box, 0, top, m.low - 0.5);
    colour(cr, bands++ % 2 ? Rgb{0.9, 0.93, 0.99} : Rgb{0.9, 0.96, 0.9});
    cairo_rectangle(cr, f.left, y0, f.right - f.left, y1 - y0);
    cairo_fill(cr);
    colour(cr, faint);
    line(cr, f.left, y0, f.right, y0, 0.8);
    line(cr, f.left, y1, f.right, y1, 0.8);
  }
  cairo_select_font_face(cr, font, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 9);
  for (const Mark& m : layout.marks) {
    if (m.lane != lane) continue;
    const double x0 = f.x(m.start);
    const double x1 = f.x(m.end);
    const double y = scaled(box, 0, top, std::min(m.low, top));
    if (m.kind == MarkKind::high_run || m.kind == MarkKind::low_run) {
      colour(cr, m.kind == MarkKind::high_run ? high_colour : low_colour);
      cairo_rectangle(cr, x0, y, std::max(x1 - x0 - 0.4, 0.6), box.bottom - y);
      cairo_fill(cr);
      if (x1 - x0 > text_width(cr, m.text) + 3) {
        colour(cr, ink);
        cairo_move_to(cr, (x0 + x1 - text_width(cr, m.text)) / 2, y - 2);
        cairo_show_text(cr, m.text.c_str());
      }
    } else if (m.kind == MarkKind::dropped) {
      colour(cr, dropped_colour);
      cross(cr, (x0 + x1) / 2, std::max(y - 6, box.top + 4), 3.5, 1.6);
    }
  }
}

void draw_half_bits(const Frame& f, const Layout& layout, int32_t lane, const Box& box) {
  cairo_t* cr = f.cr;
  const double y1 = box.top + 3;
  const double y0 = box.bottom - 3;
  colour(cr, half_fill);
  for (const Mark& m : layout.marks) {
    if (m.lane == lane && m.kind == MarkKind::half_bit && m.low != 0) {
      cairo_rectangle(cr, f.x(m.start), y1, f.x(m.end) - f.x(m.start), y0 - y1);
    }
  }
  cairo_fill(cr);
  colour(cr, ink);
  cairo_set_line_width(cr, 1.3);
  bool first = true;
  for (const Mark& m : layout.marks) {
    if (m.lane != lane || m.kind != MarkKind::half_bit) continue;
    const double y = m.low != 0 ? y1 : y0;
    if (first) {
      cairo_move_to(cr, f.x(m.start), y);
      first = false;
    }
    cairo_line_to(cr, f.x(m.start), y);
    cairo_line_to(cr, f.x(m.end), y);
  }
  cairo_stroke(cr);
}

void draw_windows(const Frame& f, const Layout& layout, const Lane& lane_info, int32_t lane,
                  const Box& box) {
  cairo_t* cr = f.cr;
  const int32_t rows = lane_info.rows;
  // Windows one bit apart often pass the header together: their labels would overlap.
  struct Taken {
    double x0, x1, y0, y1;
  };
  std::vector<Taken> labels;
  // Bits of a window that failed are drawn paler than those of a frame read.
  std::vector<bool> row_read(static_cast<size_t>(rows), false);
  for (const Mark& m : layout.marks) {
    if (m.lane != lane) continue;
    const double x0 = f.x(m.start);
    const double x1 = f.x(m.end);
    const double top = row_y(box, rows, m.low, 0.15);
    const double bottom = row_y(box, rows, m.low, 0.85);
    switch (m.kind) {
      case MarkKind::window: {
        row_read[static_cast<size_t>(m.low)] = static_cast<FrameCheck>(m.high) == FrameCheck::ok;
        const Rgb c = check_colour(static_cast<int>(m.high));
        colour(cr, c);
        // Windows that failed are the many; the frame read stands out.
        const double width = row_read[static_cast<size_t>(m.low)] ? 2 : 0.8;
        line(cr, x0, bottom + 1, x1, bottom + 1, width);
        line(cr, x0, top, x0, bottom + 2, width);
        line(cr, x1, top, x1, bottom + 2, width);
        result_shape(cr, static_cast<int>(m.high), x1 + 7, (top + bottom) / 2, 4);
        const Taken label{x1 + 14, x1 + 14 + text_width(cr, m.text), (top + bottom) / 2 - 7,
                          (top + bottom) / 2 + 5};
        const bool clear = std::none_of(labels.begin(), labels.end(), [&](const Taken& t) {
          return t.x0 < label.x1 && label.x0 < t.x1 && t.y0 < label.y1 && label.y0 < t.y1;
        });
        if (clear) {
          text_at(cr, label.x0, label.y1 - 1, m.text, 11, 0, true);
          labels.push_back(label);
        }
        break;
      }
      case MarkKind::bit_one:
        colour(cr, row_read[static_cast<size_t>(m.low)] ? ink : faint);
        cairo_rectangle(cr, x0 + 0.5, top, std::max(x1 - x0 - 1, 0.5), bottom - top);
        cairo_fill(cr);
        break;
      case MarkKind::bit_zero:
        colour(cr, row_read[static_cast<size_t>(m.low)] ? ink : faint);
        cairo_set_line_width(cr, 0.8);
        cairo_rectangle(cr, x0 + 1, top + 0.5, std::max(x1 - x0 - 2, 0.5), bottom - top - 1);
        cairo_stroke(cr);
        break;
      case MarkKind::bit_invalid:
        colour(cr, dropped_colour);
        cairo_rectangle(cr, x0, top - 2, x1 - x0, bottom - top + 4);
        cairo_fill(cr);
        colour(cr, {1, 1, 1});
        cross(cr, (x0 + x1) / 2, (top + bottom) / 2, std::min((x1 - x0) / 2 - 0.5, 4.0), 1.2);
        break;
      default:
        break;
    }
  }
}

void draw_tests(const Frame& f, const Layout& layout, const Lane& lane_info, int32_t lane,
                const Box& box) {
  cairo_t* cr = f.cr;
  const int32_t rows = lane_info.rows;
  for (int32_t r = 0; r < rows; ++r) {
    colour(cr, r % 2 ? Rgb{0.97, 0.97, 0.97} : Rgb{0.93, 0.93, 0.93});
    cairo_rectangle(cr, f.left, row_y(box, rows, r, 0), f.right - f.left,
                    row_y(box, rows, r, 1) - row_y(box, rows, r, 0));
    cairo_fill(cr);
  }
  for (const Mark& m : layout.marks) {
    if (m.lane != lane || m.kind != MarkKind::test) continue;
    const int result = static_cast<int>(m.low);
    colour(cr, check_colour(result));
    const double x = f.x(m.start);
    line(cr, x, row_y(box, rows, m.low, 0.1), x, row_y(box, rows, m.low, 0.9), 1.2);
    result_shape(cr, result, x, row_y(box, rows, m.low, 0.5), 3.5);
  }
}

// Each symbol a cell from the lane's foot, as high as its margin: filled for a 1, hollow
// for a 0; a cross over it where the line code is broken.
void draw_symbols(const Frame& f, const Layout& layout, int32_t lane, const Box& box) {
  cairo_t* cr = f.cr;
  const double foot = box.bottom - 2;
  const double head = box.top + 12;  // room for the crosses
  colour(cr, faint);
  line(cr, f.left, foot + 0.5, f.right, foot + 0.5, 0.6);
  for (const Mark& m : layout.marks) {
    if (m.lane != lane) continue;
    const double x0 = f.x(m.start);
    const double x1 = f.x(m.end);
    const double w = std::max(x1 - x0 - 1, 0.6);
    if (m.kind == MarkKind::symbol) {
      const double top = foot - std::max(m.high, 0.03) * (foot - head);
      if (m.low != 0) {
        colour(cr, symbol_one);
        cairo_rectangle(cr, x0 + 0.5, top, w, foot - top);
        cairo_fill(cr);
      } else {
        colour(cr, symbol_zero);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, x0 + 1, top + 0.5, std::max(w - 1, 0.5), foot - top - 0.5);
        cairo_stroke(cr);
      }
    } else if (m.kind == MarkKind::line_fault) {
      colour(cr, dropped_colour);
      cross(cr, (x0 + x1) / 2, box.top + 5, std::clamp((x1 - x0) / 2, 2.0, 4.0), 1.4);
    }
  }
}

// The windows tested, bracketed in their rows in the colour and shape of their result,
// with the family and the result's name inside.
void draw_frames(const Frame& f, const Layout& layout, const Lane& lane_info, int32_t lane,
                 const Box& box) {
  cairo_t* cr = f.cr;
  const int32_t rows = lane_info.rows;
  for (const Mark& m : layout.marks) {
    if (m.lane != lane || m.kind != MarkKind::frame) continue;
    const auto result = static_cast<int>(m.high);
    const double x0 = f.x(m.start);
    const double x1 = f.x(m.end);
    const double top = row_y(box, rows, m.low, 0.12);
    const double bottom = row_y(box, rows, m.low, 0.88);
    const double width = result == static_cast<int>(SureCheck::read) ? 2.2 : 1.0;
    colour(cr, frame_colour(result));
    line(cr, x0 + 1, bottom, x1 - 1, bottom, width);
    line(cr, x0 + 1, top, x0 + 1, bottom, width);
    line(cr, x1 - 1, top, x1 - 1, bottom, width);
    cairo_save(cr);
    cairo_rectangle(cr, x0 + 2, top - 2, std::max(x1 - x0 - 4, 0.0), bottom - top + 2);
    cairo_clip(cr);
    const double mid = (top + bottom) / 2 - 1;
    frame_shape(cr, result, std::max(x0, f.left) + 9, mid, 4);
    colour(cr, ink);
    text_at(cr, std::max(x0, f.left) + 17, mid + 4, m.text, 10, 0, result >= 0);
    cairo_restore(cr);
  }
}

void draw_reads(const Frame& f, const Layout& layout, int32_t lane, const Box& box) {
  cairo_t* cr = f.cr;
  for (const Mark& m : layout.marks) {
    if (m.lane != lane || m.kind != MarkKind::read) continue;
    const double x0 = f.x(m.start);
    const double x1 = f.x(m.end);
    const double y = box.bottom - 4;
    colour(cr, read_colour);
    line(cr, x0, box.top + 2, x0, y, 2);
    line(cr, x0, y, x1, y, 2);
    line(cr, x1, box.top + 2, x1, y, 2);
    // The number goes over the part of the frame in view.
    const double middle = (std::max(x0, f.left) + std::min(x1, f.right)) / 2;
    text_at(cr, middle, y - 5, m.text, 14, 0.5, true);
  }
}

// What stands left of a lane: its name and its scale or row names.
void draw_scale(const Frame& f, const Layout& layout, const Lane& lane, int32_t index,
                const Box& box) {
  cairo_t* cr = f.cr;
  const double mid = (box.top + box.bottom) / 2;
  const double x = f.left - 6;
  colour(cr, ink);
  switch (lane.kind) {
    case LaneKind::signal:
      text_at(cr, 10, box.top + 12, lane.name, 12, 0, true);
      text_at(cr, 10, box.top + 28, "steps from 128", 10);
      colour(cr, faint);
      for (const double v : signal_ticks) {
        if (v != 0) text_at(cr, x, scaled(box, -128, 128, v) + 4, number_text(v), 10, 1);
      }
      for (const Mark& m : layout.marks) {
        if (m.kind == MarkKind::threshold) {
          colour(cr, threshold_colour);
          text_at(cr, x, scaled(box, -128, 128, m.low) + 4, "threshold " + m.text, 10, 1, true);
        } else if (m.kind == MarkKind::dead_band) {
          colour(cr, ink);
          text_at(cr, x, scaled(box, -128, 128, (m.low + m.high) / 2) + 4, "dead band", 10, 1);
        }
      }
      break;
    case LaneKind::runs:
      text_at(cr, 10, box.top + 12, lane.name, 12, 0, true);
      colour(cr, faint);
      text_at(cr, x, box.bottom + 4, "0", 10, 1);
      for (const Mark& m : layout.marks) {
        if (m.lane != index || m.kind != MarkKind::run_band) continue;
        const double bottom = scaled(box, 0, shown_run, m.low - 0.5);
        const double top = scaled(box, 0, shown_run, m.high + 0.5);
        colour(cr, faint);
        text_at(cr, x, bottom + 4, number_text(m.low), 10, 1);
        // The last band's top; the others' tops are the next band's bottom.
        if (m.high >= max_run) text_at(cr, x, top + 4, number_text(m.high), 10, 1);
        colour(cr, ink);
        text_at(cr, 10, (top + bottom) / 2 + 4, m.text, 10);
      }
      break;
    case LaneKind::half_bits:
      text_at(cr, 10, mid + 4, lane.name, 12, 0, true);
      colour(cr, faint);
      text_at(cr, x, box.top + 11, "1", 10, 1);
      text_at(cr, x, box.bottom - 3, "0", 10, 1);
      break;
    case LaneKind::tests:
      text_at(cr, 10, box.top - 1, lane.name, 12, 0, true);
      for (int32_t r = 0; r < lane.rows; ++r)
        text_at(cr, x, row_y(box, lane.rows, r, 0.5) + 4,
                reason_of(static_cast<FrameCheck>(r)).label, 10, 1);
      break;
    case LaneKind::windows:
    case LaneKind::reads:
      text_at(cr, 10, mid + 4, lane.name, 12, 0, true);
      break;
    case LaneKind::symbols:
    case LaneKind::frames:
      // The note (what the lane carries) may be longer than the room: it runs small below.
      text_at(cr, 10, box.top + 12, lane.name, 12, 0, true);
      if (!lane.note.empty()) {
        cairo_save(cr);
        cairo_rectangle(cr, 0, box.top, f.left - 4, box.bottom - box.top);
        cairo_clip(cr);
        text_at(cr, 10, box.top + 26, lane.note, 9);
        cairo_restore(cr);
      }
      if (lane.kind == LaneKind::symbols) {
        colour(cr, faint);
        text_at(cr, x, box.top + 22, "clear", 9, 1);
        text_at(cr, x, box.bottom - 1, "weak", 9, 1);
      }
      break;
  }
}

// A lane with nothing in it says so, for a picture that has to explain an empty result.
void draw_empty(const Frame& f, const Layout& layout, const Lane& lane, int32_t index,
                const Box& box) {
  const char* text = lane.kind == LaneKind::runs
                         ? "no runs: the signal never crosses both thresholds"
                     : lane.kind == LaneKind::half_bits ? "no half-bits stored"
                     : lane.kind == LaneKind::windows   ? "no window passed the header test"
                     : lane.kind == LaneKind::reads     ? "no frame read"
                     : lane.kind == LaneKind::symbols   ? "no symbols decided here"
                     : lane.kind == LaneKind::frames    ? "no window began with a family's sync"
                                                        : nullptr;
  if (!text) return;
  const bool any = std::any_of(layout.marks.begin(), layout.marks.end(), [&](const Mark& m) {
    return m.lane == index && m.kind != MarkKind::run_band;
  });
  if (any) return;
  colour(f.cr, faint);
  cairo_select_font_face(f.cr, font, CAIRO_FONT_SLANT_ITALIC, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(f.cr, 12);
  cairo_move_to(f.cr, f.left + 12, (box.top + box.bottom) / 2 + 4);
  cairo_show_text(f.cr, text);
}

// The time axis under the lanes, with a faint line for each label through them.
void draw_axis(const Frame& f, double lanes_top, double y) {
  cairo_t* cr = f.cr;
  const double step = tick_step(f.to - f.from, f.right - f.left, 90);
  colour(cr, ink);
  line(cr, f.left, y, f.right, y, 1);
  for (double t = std::ceil(f.from / step) * step; t <= f.to + step * 1e-6; t += step) {
    const double x = f.x(t);
    colour(cr, {0.8, 0.8, 0.8});
    line(cr, x, lanes_top, x, y, 0.6);
    colour(cr, ink);
    line(cr, x, y, x, y + 5, 1);
    text_at(cr, x, y + 18, number_text(std::round(t / step * 1e6) / 1e6 * step), 11, 0.5);
  }
  text_at(cr, 10, y + 18, "time (ms)", 11, 0, true);
}

void draw_blocks(const Frame& f, const Layout& layout, double top, double bottom) {
  cairo_t* cr = f.cr;
  for (const Mark& m : layout.marks) {
    if (m.kind != MarkKind::block) continue;
    const double x = f.x(m.start);
    colour(cr, {0.3, 0.3, 0.3});
    const double dash[] = {3, 3};
    cairo_set_dash(cr, dash, 2, 0);
    line(cr, x, top, x, bottom, 1.2);
    cairo_set_dash(cr, nullptr, 0, 0);
    text_at(cr, x + 4, top + 12, "new block: window emptied", 10);
  }
}

// One legend entry: a swatch drawn by `draw` at (x, y), then its text; returns the next x.
template <typename Draw>
double legend_entry(cairo_t* cr, double x, double y, const char* text, Draw draw) {
  draw(x, y);
  colour(cr, ink);
  text_at(cr, x + 26, y + 4, text, 11);
  return x + 26 + text_width(cr, text) + 22;
}

// The legend of what the picture holds: an entry for each kind of mark drawn.
void draw_legend(cairo_t* cr, double left, double right, double y, const Layout& layout) {
  constexpr int any = -9;
  struct Entry {
    const char* text;
    int what;
    MarkKind shown_by;  ///< the entry is drawn when the layout holds such a mark
    int value = any;    ///< and, unless any, with this `low` (or `high`, when by_high)
    bool by_high = false;
  };
  static constexpr Entry entries[] = {
      {"samples", 0, MarkKind::trace},
      {"threshold", 1, MarkKind::threshold},
      {"dead band", 2, MarkKind::dead_band},
      {"high run", 3, MarkKind::run_band},
      {"low run", 4, MarkKind::run_band},
      {"dropped run", 5, MarkKind::run_band},
      {"half-bit 1", 6, MarkKind::run_band},
      {"bit 1", 7, MarkKind::run_band},
      {"bit 0", 8, MarkKind::run_band},
      {"equal pair: no bit", 9, MarkKind::run_band},
      {"header passed, then failed", 10, MarkKind::run_band},
      {"frame read", 11, MarkKind::trace},
      {"new block", 12, MarkKind::run_band},
      {"measured middle, middle ± swing", 13, MarkKind::levels},
      {"symbol 1, as high as its margin", 14, MarkKind::symbol, 1},
      {"symbol 0", 15, MarkKind::symbol, 0},
      {"line code broken", 16, MarkKind::line_fault},
      {"frame failed its family's checks", 17, MarkKind::frame, -1, true},
      {"passed, not yet sure", 17, MarkKind::frame, 0, true},
      {"passed, a weak symbol", 17, MarkKind::frame, 1, true},
      {"passed, line code broken", 17, MarkKind::frame, 2, true},
      {"passed, read already", 17, MarkKind::frame, 3, true},
      {"passed: read", 17, MarkKind::frame, 4, true}};
  static_assert(sure_check_count == 5, "an entry for each sure-read result");
  double x = left;
  for (const Entry& e : entries) {
    if (std::none_of(layout.marks.begin(), layout.marks.end(), [&e](const Mark& m) {
          return m.kind == e.shown_by &&
                 (e.value == any || (e.by_high ? m.high : m.low) == e.value);
        }))
      continue;
    cairo_select_font_face(cr, font, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11);
    if (x + 48 + text_width(cr, e.text) > right) {
      x = left;
      y += 20;
    }
    x = legend_entry(cr, x, y, e.text, [&](double sx, double sy) {
      switch (e.what) {
        case 0:
          colour(cr, ink);
          line(cr, sx, sy, sx + 20, sy, 1.3);
          break;
        case 1: {
          colour(cr, threshold_colour);
          const double dash[] = {6, 3};
          cairo_set_dash(cr, dash, 2, 0);
          line(cr, sx, sy, sx + 20, sy, 1.6);
          cairo_set_dash(cr, nullptr, 0, 0);
          break;
        }
        case 2:
          colour(cr, band);
          cairo_rectangle(cr, sx, sy - 6, 20, 12);
          cairo_fill(cr);
          break;
        case 3:
        case 4:
          colour(cr, e.what == 3 ? high_colour : low_colour);
          cairo_rectangle(cr, sx, sy - 6, 20, 12);
          cairo_fill(cr);
          break;
        case 5:
          colour(cr, dropped_colour);
          cross(cr, sx + 10, sy, 4, 1.6);
          break;
        case 6:
          colour(cr, half_fill);
          cairo_rectangle(cr, sx, sy - 6, 20, 12);
          cairo_fill(cr);
          colour(cr, ink);
          line(cr, sx, sy - 6, sx + 20, sy - 6, 1.3);
          break;
        case 7:
          colour(cr, ink);
          cairo_rectangle(cr, sx + 5, sy - 6, 10, 12);
          cairo_fill(cr);
          break;
        case 8:
          colour(cr, ink);
          cairo_set_line_width(cr, 0.8);
          cairo_rectangle(cr, sx + 5, sy - 6, 10, 12);
          cairo_stroke(cr);
          break;
        case 9:
          colour(cr, dropped_colour);
          cairo_rectangle(cr, sx + 5, sy - 7, 10, 14);
          cairo_fill(cr);
          colour(cr, {1, 1, 1});
          cross(cr, sx + 10, sy, 3.5, 1.2);
          break;
        case 10:
          colour(cr, check_colour(static_cast<int>(FrameCheck::row_parity)));
          line(cr, sx, sy + 5, sx + 18, sy + 5, 2);
          line(cr, sx, sy - 5, sx, sy + 6, 1.5);
          line(cr, sx + 18, sy - 5, sx + 18, sy + 6, 1.5);
          break;
        case 11:
          colour(cr, read_colour);
          line(cr, sx, sy - 5, sx, sy + 5, 2);
          line(cr, sx, sy + 5, sx + 20, sy + 5, 2);
          line(cr, sx + 20, sy - 5, sx + 20, sy + 5, 2);
          break;
        case 13:
          colour(cr, levels_colour);
          line(cr, sx, sy, sx + 20, sy, 2);
          cairo_set_dash(cr, swing_dash, 2, 0);
          line(cr, sx, sy - 5, sx + 20, sy - 5, 1.6);
          line(cr, sx, sy + 5, sx + 20, sy + 5, 1.6);
          cairo_set_dash(cr, nullptr, 0, 0);
          break;
        case 14:
          colour(cr, symbol_one);
          cairo_rectangle(cr, sx + 3, sy - 2, 6, 8);
          cairo_rectangle(cr, sx + 11, sy - 7, 6, 13);
          cairo_fill(cr);
          break;
        case 15:
          colour(cr, symbol_zero);
          cairo_set_line_width(cr, 1);
          cairo_rectangle(cr, sx + 6.5, sy - 6.5, 7, 12);
          cairo_stroke(cr);
          break;
        case 16:
          colour(cr, dropped_colour);
          cross(cr, sx + 10, sy, 4, 1.4);
          break;
        case 17:
          colour(cr, frame_colour(e.value));
          line(cr, sx, sy + 6, sx + 20, sy + 6, e.value == 4 ? 2.2 : 1);
          line(cr, sx, sy - 6, sx, sy + 6, e.value == 4 ? 2.2 : 1);
          line(cr, sx + 20, sy - 6, sx + 20, sy + 6, e.value == 4 ? 2.2 : 1);
          frame_shape(cr, e.value, sx + 10, sy, 4);
          break;
        default: {
          colour(cr, {0.3, 0.3, 0.3});
          const double dash[] = {3, 3};
          cairo_set_dash(cr, dash, 2, 0);
          line(cr, sx + 10, sy - 7, sx + 10, sy + 7, 1.2);
          cairo_set_dash(cr, nullptr, 0, 0);
          break;
        }
      }
    });
  }
}

void draw(cairo_t* cr, const Layout& layout, int width, int height) {
  colour(cr, {1, 1, 1});
  cairo_paint(cr);

  colour(cr, ink);
  text_at(cr, 12, 26, layout.title, 16, 0, true);
  double lanes_top = 40;
  if (!layout.hint.empty()) {
    colour(cr, threshold_colour);
    // A long hint is set smaller rather than cut off at the edge.
    const std::string line = "nothing read: " + layout.hint;
    cairo_select_font_face(cr, font, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 14);
    const double room = width - 12 - right_margin;
    const double wide = text_width(cr, line);
    text_at(cr, 12, 52, line, wide > room ? std::max(8.0, 14 * room / wide) : 14, 0, true);
    lanes_top = 66;
  } else if (!layout.outcome.empty()) {
    colour(cr, read_colour);
    text_at(cr, 12, 52, layout.outcome, 14, 0, true);
    lanes_top = 66;
  }
  constexpr double axis_height = 30;
  constexpr double legend_height = 48;
  const double lanes_bottom = height - axis_height - legend_height;

  Frame f{cr, label_width, width - right_margin, layout.from, layout.to};
  double total = 0;
  for (const Lane& lane : layout.lanes) total += lane_weight(lane);
  const double room =
      lanes_bottom - lanes_top - lane_gap * static_cast<double>(layout.lanes.size());
  double y = lanes_top;
  for (size_t i = 0; i < layout.lanes.size(); ++i) {
    const Lane& lane = layout.lanes[i];
    const Box box{y + lane_gap, y + lane_gap + room * lane_weight(lane) / total};
    y = box.bottom;
    const auto index = static_cast<int32_t>(i);
    draw_scale(f, layout, lane, index, box);
    cairo_save(cr);
    cairo_rectangle(cr, f.left, box.top - 2, f.right - f.left, box.bottom - box.top + 4);
    cairo_clip(cr);
    switch (lane.kind) {
      case LaneKind::signal:
        draw_signal(f, layout, box);
        break;
      case LaneKind::runs:
        draw_runs(f, layout, index, box);
        break;
      case LaneKind::half_bits:
        draw_half_bits(f, layout, index, box);
        break;
      case LaneKind::windows:
        draw_windows(f, layout, lane, index, box);
        break;
      case LaneKind::tests:
        draw_tests(f, layout, lane, index, box);
        break;
      case LaneKind::reads:
        draw_reads(f, layout, index, box);
        break;
      case LaneKind::symbols:
        draw_symbols(f, layout, index, box);
        break;
      case LaneKind::frames:
        draw_frames(f, layout, lane, index, box);
        break;
    }
    cairo_restore(cr);
    draw_empty(f, layout, lane, index, box);
  }
  draw_blocks(f, layout, lanes_top, lanes_bottom);
  draw_axis(f, lanes_top, lanes_bottom + 4);
  draw_legend(cr, 12, width - right_margin, lanes_bottom + axis_height + 20, layout);
}

// Where a picture's bytes go, and why writing them failed.
struct PictureFile {
  std::FILE* file = nullptr;
  int error = 0;  ///< errno of the first failed write; 0 none
};

cairo_status_t write_picture(void* closure, const unsigned char* data, unsigned int length) {
  auto& picture = *static_cast<PictureFile*>(closure);
  if (picture.error == 0 && std::fwrite(data, 1, length, picture.file) != length)
    picture.error = errno != 0 ? errno : EIO;
  return picture.error == 0 ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

std::string plot_draw_cairo(const Layout& layout, const std::string& path, int width, int height) {
  // The file is opened and written here rather than by cairo, whose one word for every
  // failure is "error while writing to output stream": the system's reason (no such
  // folder, no space left) says what to change.
  PictureFile picture{std::fopen(path.c_str(), "wb")};
  if (!picture.file) return std::strerror(errno);
  const bool svg = path.ends_with(".svg");
  cairo_surface_t* surface =
      svg ? cairo_svg_surface_create_for_stream(write_picture, &picture, width, height)
          : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (svg) cairo_svg_surface_set_document_unit(surface, CAIRO_SVG_UNIT_PX);
  cairo_t* cr = cairo_create(surface);
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) draw(cr, layout, width, height);
  cairo_destroy(cr);
  cairo_status_t status = cairo_surface_status(surface);
  if (status == CAIRO_STATUS_SUCCESS && !svg)
    status = cairo_surface_write_to_png_stream(surface, write_picture, &picture);
  cairo_surface_finish(surface);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (std::fclose(picture.file) != 0 && picture.error == 0) picture.error = errno;
  if (picture.error == 0 && status == CAIRO_STATUS_SUCCESS) return "";
  // No half picture is left behind for a viewer to show as if it were whole.
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(path.c_str());
  return picture.error != 0 ? std::strerror(picture.error) : cairo_status_to_string(status);
}

}  // namespace tavrel

void tavrel_plot_draw(const tavrel::Layout* layout, const char* path, int width, int height,
                      std::string* problem) {
  *problem = tavrel::plot_draw_cairo(*layout, path, width, height);
}
