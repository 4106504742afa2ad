// The status dialog on GTK 3: one modal window laid out like the Windows dialog template,
// drawn from a 100 ms GLib timer into per-control backing surfaces that the controls'
// draw handlers show.
// Platform calls: gtk_init_check, gtk_window_new, gtk_window_set_title/move/set_modal/
// set_resizable, gtk_fixed_new, gtk_fixed_put, gtk_drawing_area_new,
// gtk_check_button_new_with_label, gtk_toggle_button_get_active/set_active,
// gtk_css_provider_load_from_data, gtk_style_context_add_provider_for_screen,
// gtk_widget_queue_draw, gtk_widget_hide, gtk_widget_destroy, gdk_display_flush, gtk_main,
// gtk_main_quit, g_timeout_add, g_source_new, g_source_attach, g_source_destroy,
// g_main_context_wakeup, cairo_image_surface_create, cairo_create, cairo_rectangle, cairo_fill,
// pango_cairo_create_layout, pango_cairo_show_layout, pango_context_get_metrics,
// gdk_screen_get_resolution, gdk_monitor_get_scale_factor, cairo_surface_set_device_scale,
// gdk_pixbuf_get_from_surface, gtk_window_set_default_icon_list.

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/console.hpp"
#include "platform/dialog.hpp"
#include "platform/dialog_layout.hpp"
#include "ui/invert_query.hpp"
#include "ui/status_dialog.hpp"

namespace tavrel {

// How big a pixel of the Windows dialog is here. Windows lays the template out in dialog
// units of its 8 pt "MS Sans Serif" font, whose base units are 6 x 13 pixels at 96 dpi and
// grow with the display's DPI; so does the font here, at GTK's font resolution (the Xft DPI
// setting). Everything the dialog draws in pixels grows with it, as Windows scales a
// program that does not declare itself DPI-aware. The GDK scale factor (GDK_SCALE, a 2x
// desktop) GDK applies to every pixel on its own; the drawn surfaces take it on so that
// they stay sharp.
struct DialogScale {
  double pixel = 1.0;   ///< logical pixels per pixel at 96 dpi
  int32_t base_x = 6;   ///< logical pixels per 4 horizontal dialog units
  int32_t base_y = 13;  ///< logical pixels per 8 vertical dialog units
  int32_t device = 1;   ///< device pixels per logical pixel: the GDK scale factor
};

static DialogScale scale;

static void measure_scale() {
  const double dpi = gdk_screen_get_resolution(gdk_screen_get_default());
  scale.pixel = dpi > 0 ? dpi / 96.0 : 1.0;
  scale.base_x = static_cast<int32_t>(std::lround(6 * scale.pixel));
  scale.base_y = static_cast<int32_t>(std::lround(13 * scale.pixel));
  GdkMonitor* monitor = gdk_display_get_monitor(gdk_display_get_default(), 0);
  scale.device = monitor ? std::max(1, gdk_monitor_get_scale_factor(monitor)) : 1;
}

// Dialog units to logical pixels, rounded to the nearest pixel as Windows' MapDialogRect
// rounds: x units become x * base_x / 4 pixels and y units y * base_y / 8.
static int32_t px_x(int32_t units) {
  return (units * scale.base_x + 2) / 4;
}
static int32_t px_y(int32_t units) {
  return (units * scale.base_y + 4) / 8;
}

// A length of the dialog's pixels in logical pixels, whole so that edges stay sharp.
static int32_t px(int32_t pixels) {
  return static_cast<int32_t>(std::lround(pixels * scale.pixel));
}

struct Rgb {
  double red, green, blue;  ///< 0..1
};
static constexpr Rgb rgb(int r, int g, int b) {
  return {r / 255.0, g / 255.0, b / 255.0};
}

// Windows' standard 3D colours, so that the edges and the face look the same on both.
constexpr Rgb button_face = rgb(240, 240, 240);
constexpr Rgb button_shadow = rgb(160, 160, 160);
constexpr Rgb dark_shadow = rgb(105, 105, 105);
constexpr Rgb light = rgb(227, 227, 227);
constexpr Rgb highlight = rgb(255, 255, 255);
constexpr Rgb brush_colours[] = {button_face, rgb(255, 0, 0), rgb(128, 128, 128)};

constexpr int32_t client_edge = 2;  ///< pixels of a sunken client edge
constexpr int32_t static_edge = 1;  ///< pixels of a static edge

// The display font: a heavy condensed face with a 62-pixel character cell and an average
// character width of 36 pixels, as the Windows build asks for "impact". Impact is used
// where it is installed; DejaVu Sans Condensed Bold is the closest common fallback.
constexpr const char* display_families = "Impact, DejaVu Sans Condensed";
constexpr int32_t display_cell_height = 62;  ///< pixels, ascent + descent
constexpr int32_t display_char_width = 36;   ///< pixels, average character width
constexpr int32_t text_left = 10;            ///< pixels, where the number's cell starts
constexpr int32_t text_top = 10;

constexpr int32_t check_size = 13;  ///< pixels, the check box's square
constexpr int32_t check_gap = 4;    ///< pixels between the square and the text

// The check box's pixels, scaled, go in at the two %d.
constexpr const char* dialog_css =
    "window { background-color: rgb(240, 240, 240); }\n"
    "* { font-family: \"MS Sans Serif\", sans-serif; font-size: 8pt; }\n"
    "checkbutton { padding: 0; min-height: 0; }\n"
    "checkbutton check { margin: 0 %dpx 0 0; min-width: %dpx; min-height: %dpx; }\n";

/// One of the three statics: the number display, the indicator or the repeat label.
struct StaticControl {
  GtkWidget* widget;
  int32_t edge;              ///< pixels of sunken border around the client area
  cairo_surface_t* backing;  ///< the client area as the timer drew it; null for the label
  cairo_t* context;          ///< draws into backing
};

struct DisplayFont {
  PangoFontDescription* description;  ///< null until the first dialog
  double scale_x;                     ///< stretch to the average character width
};

struct GtkDialog {
  GtkWidget* window;
  GtkWidget* crc_box;
  GtkWidget* invert_box;
  StaticControl display;
  StaticControl indicator;
  StaticControl label;
  PangoLayout* label_layout;    ///< the repeat label's text in the dialog font
  PangoLayout* display_layout;  ///< the number in the display font
  guint timer;
  GSource* invert_source;  ///< answers the worker's invert question on this thread
};

static GtkDialog dialog;
static DisplayFont display_font;

static void set_colour(cairo_t* cr, const Rgb& colour) {
  cairo_set_source_rgb(cr, colour.red, colour.green, colour.blue);
}

static void fill(cairo_t* cr, const Rgb& colour, int32_t x, int32_t y, int32_t w, int32_t h) {
  set_colour(cr, colour);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

// A sunken edge: shadow top and left, highlight bottom and right; a client edge adds a
// dark-shadow/light ring inside. Each ring is a dialog pixel wide: `a` logical pixels for
// the outer one, the inner one up to `b`.
static void draw_edge(cairo_t* cr, int32_t edge, int32_t w, int32_t h) {
  const int32_t a = px(1);
  const int32_t b = px(2);
  fill(cr, button_shadow, 0, 0, w - a, a);
  fill(cr, button_shadow, 0, 0, a, h - a);
  fill(cr, highlight, 0, h - a, w, a);
  fill(cr, highlight, w - a, 0, a, h);
  if (edge < client_edge) return;
  fill(cr, dark_shadow, a, a, w - b - a, b - a);
  fill(cr, dark_shadow, a, a, b - a, h - b - a);
  fill(cr, light, a, h - b, w - 2 * a, b - a);
  fill(cr, light, w - b, a, b - a, h - 2 * a);
}

static gboolean draw_static(GtkWidget* widget, cairo_t* cr, gpointer data) {
  const StaticControl& control = *static_cast<const StaticControl*>(data);
  const int32_t w = gtk_widget_get_allocated_width(widget);
  const int32_t h = gtk_widget_get_allocated_height(widget);
  const int32_t e = px(control.edge);
  fill(cr, button_face, 0, 0, w, h);
  if (control.backing) {
    cairo_set_source_surface(cr, control.backing, e, e);
    cairo_rectangle(cr, e, e, w - 2 * e, h - 2 * e);
    cairo_fill(cr);
  } else {
    // The label: left-aligned and vertically centred in its client area.
    int text_w = 0;
    int text_h = 0;
    pango_layout_get_pixel_size(dialog.label_layout, &text_w, &text_h);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, e, e + (h - 2 * e - text_h) / 2);
    pango_cairo_show_layout(cr, dialog.label_layout);
  }
  draw_edge(cr, control.edge, w, h);
  return TRUE;
}

// A client area of w x h logical pixels, in device pixels.
static cairo_surface_t* make_backing(int32_t w, int32_t h) {
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, w * scale.device, h * scale.device);
  cairo_surface_set_device_scale(surface, scale.device, scale.device);
  return surface;
}

static void add_static(GtkWidget* fixed, StaticControl& control, int32_t edge, bool backing,
                       const DialogUnits& box) {
  control.widget = gtk_drawing_area_new();
  control.edge = edge;
  const int32_t width = px_x(box.width);
  const int32_t height = px_y(box.height);
  gtk_widget_set_size_request(control.widget, width, height);
  gtk_fixed_put(GTK_FIXED(fixed), control.widget, px_x(box.left), px_y(box.top));
  g_signal_connect(control.widget, "draw", G_CALLBACK(draw_static), &control);
  if (!backing) return;
  control.backing = make_backing(width - 2 * px(edge), height - 2 * px(edge));
  control.context = cairo_create(control.backing);
  // The dialog logic draws in the dialog's pixels; whole logical pixels, so that a block
  // filled over leaves no shaded rim where its edges fell between pixels.
  cairo_scale(control.context, scale.pixel, scale.pixel);
  cairo_set_antialias(control.context, CAIRO_ANTIALIAS_NONE);
  set_colour(control.context, button_face);
  cairo_paint(control.context);
}

static GtkWidget* add_check_box(GtkWidget* fixed, const char* text, const DialogUnits& units) {
  GtkWidget* box = gtk_check_button_new_with_label(text);
  gtk_widget_set_size_request(box, px_x(units.width), px_y(units.height));
  gtk_fixed_put(GTK_FIXED(fixed), box, px_x(units.left), px_y(units.top));
  return box;
}

static void on_crc_clicked(GtkButton*, gpointer) {
  dialog_command(crc_check_control);
}

// Escape is cancel and Enter is the (ignored) OK command, as in a Windows dialog; taken
// here before a focused check box could treat Enter as a click.
static gboolean on_key(GtkWidget*, GdkEventKey* event, gpointer) {
  switch (event->keyval) {
    case GDK_KEY_Escape:
      dialog_command(cancel_command);
      return TRUE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
      dialog_command(ok_command);
      return TRUE;
    default:
      return FALSE;
  }
}

// The close box is cancel too; the window is destroyed once the main loop has returned.
// So is a window destroyed from outside (`xdotool windowclose`; no desktop does that) when
// GTK learns of it before it next draws there: GTK then leaves the widgets alone until the
// loop has returned instead of freeing them under the running timer. Drawing first, GTK
// ends the program on the X error, which is why the tests close the window as a desktop
// does.
static gboolean on_delete(GtkWidget*, GdkEvent*, gpointer) {
  dialog_command(cancel_command);
  return TRUE;
}

// A stop asked for from the terminal (Ctrl-C, SIGTERM, SIGHUP) ends the dialog like a
// cancel; the signal handler only raises a flag, looked at here.
static gboolean on_timer(gpointer) {
  if (console_stop_requested()) {
    dialog_command(cancel_command);
    return G_SOURCE_CONTINUE;
  }
  dialog_tick();
  return G_SOURCE_CONTINUE;
}

static gboolean invert_prepare(GSource*, gint* timeout) {
  *timeout = -1;
  return invert_query_pending();
}

static gboolean invert_check(GSource*) {
  return invert_query_pending();
}

static gboolean invert_dispatch(GSource*, GSourceFunc, gpointer) {
  invert_query_answer(surface_check(dialog.window, invert_control));
  return G_SOURCE_CONTINUE;
}

static GSourceFuncs invert_source_funcs = {invert_prepare, invert_check, invert_dispatch,
                                           nullptr,        nullptr,      nullptr};

// Tavrel's icon as app/share/tavrel.svg draws it for the desktop entry, on its 64 x 64
// grid: a reader's face with a tag's square wave across it. Drawn here, so that the window
// has it without an image loader or an installed file.
constexpr double icon_grid = 64;
constexpr double icon_face[] = {4, 14, 56, 36, 6};  ///< left, top, width, height, corner
constexpr double icon_wave[][2] = {{10, 32}, {16, 32}, {16, 24}, {22, 24}, {22, 40},
                                   {28, 40}, {28, 24}, {34, 24}, {34, 32}, {40, 32},
                                   {40, 40}, {46, 40}, {46, 32}, {54, 32}};
constexpr double icon_line = 3;  ///< width of both strokes
constexpr int32_t icon_sizes[] = {16, 24, 32, 48, 64, 128};

static GdkPixbuf* draw_icon(int32_t size) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, size / icon_grid, size / icon_grid);
  const auto [x, y, w, h, r] = icon_face;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -G_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, G_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, G_PI / 2, G_PI);
  cairo_arc(cr, x + r, y + r, r, G_PI, 3 * G_PI / 2);
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 0xf0 / 255.0, 0xf0 / 255.0, 0xf0 / 255.0);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0x40 / 255.0, 0x40 / 255.0, 0x40 / 255.0);
  cairo_set_line_width(cr, icon_line);
  cairo_stroke(cr);
  for (const auto& [wx, wy] : icon_wave) cairo_line_to(cr, wx, wy);
  cairo_set_source_rgb(cr, 0xd0 / 255.0, 0, 0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
  cairo_destroy(cr);
  GdkPixbuf* icon = gdk_pixbuf_get_from_surface(surface, 0, 0, size, size);
  cairo_surface_destroy(surface);
  return icon;
}

// Every window of the program, the dialog included, carries the icon.
static void set_icon() {
  GList* icons = nullptr;
  for (const int32_t size : icon_sizes) icons = g_list_append(icons, draw_icon(size));
  gtk_window_set_default_icon_list(icons);
  g_list_free_full(icons, g_object_unref);
}

static void build_window() {
  char css_text[512];
  std::snprintf(css_text, sizeof css_text, dialog_css, px(check_gap), px(check_size),
                px(check_size));
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, css_text, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  dialog.window = window;
  gtk_window_set_title(GTK_WINDOW(window), "Tavrel");
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_modal(GTK_WINDOW(window), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_move(GTK_WINDOW(window), px_x(window_units.left), px_y(window_units.top));
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, px_x(window_units.width), px_y(window_units.height));
  gtk_container_add(GTK_CONTAINER(window), fixed);

  // Template order, which is also the keyboard focus order.
  add_static(fixed, dialog.display, client_edge, true, display_units);
  add_static(fixed, dialog.indicator, client_edge, true, indicator_units);
  add_static(fixed, dialog.label, static_edge, false, label_units);
  dialog.label_layout = gtk_widget_create_pango_layout(dialog.label.widget, "Repeat:");
  dialog.crc_box = add_check_box(fixed, "CRC Check", crc_check_units);
  dialog.invert_box = add_check_box(fixed, "Invert Signal", invert_units);

  g_signal_connect(dialog.crc_box, "clicked", G_CALLBACK(on_crc_clicked), nullptr);
  g_signal_connect(window, "key-press-event", G_CALLBACK(on_key), nullptr);
  g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), nullptr);
  g_signal_connect(window, "destroy-event", G_CALLBACK(on_delete), nullptr);
}

static void free_window() {
  for (StaticControl* control : {&dialog.display, &dialog.indicator}) {
    cairo_destroy(control->context);
    cairo_surface_destroy(control->backing);
  }
  g_object_unref(dialog.label_layout);
  if (dialog.display_layout) g_object_unref(dialog.display_layout);
  gtk_widget_destroy(dialog.window);
  dialog = {};
  // The main loop does not run again: without a flush the window would stay on the
  // screen until the worker has finished, up to half a minute with a silent device.
  gdk_display_flush(gdk_display_get_default());
}

// Sizes the display font by its cell, as the Windows font mapper does for a positive
// height, and finds the stretch that gives the asked-for average character width.
static void make_display_font() {
  PangoFontDescription* font = pango_font_description_from_string(display_families);
  pango_font_description_set_weight(font, PANGO_WEIGHT_ULTRABOLD);
  pango_font_description_set_absolute_size(font, display_cell_height * PANGO_SCALE);
  PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
  PangoFontMetrics* metrics = pango_context_get_metrics(context, font, nullptr);
  const double cell =
      pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
  pango_font_metrics_unref(metrics);
  if (cell > 0) {
    const double pixels = display_cell_height * (display_cell_height * PANGO_SCALE / cell);
    pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
  }
  metrics = pango_context_get_metrics(context, font, nullptr);
  const double width = pango_font_metrics_get_approximate_char_width(metrics);
  pango_font_metrics_unref(metrics);
  g_object_unref(context);
  display_font = {font, width > 0 ? display_char_width * PANGO_SCALE / width : 1.0};
}

static StaticControl* drawn_control(void* window, int32_t control) {
  if (window == nullptr || window != dialog.window) return nullptr;
  if (control == display_control) return &dialog.display;
  if (control == indicator_control) return &dialog.indicator;
  return nullptr;
}

static GtkWidget* check_box(void* window, int32_t control) {
  if (window == nullptr || window != dialog.window) return nullptr;
  if (control == crc_check_control) return dialog.crc_box;
  if (control == invert_control) return dialog.invert_box;
  return nullptr;
}

void surface_init(void* window) {
  if (window != dialog.window) return;
  dialog.timer = g_timeout_add(tick_ms, on_timer, nullptr);
  if (!display_font.description) make_display_font();
  dialog.display_layout = pango_cairo_create_layout(dialog.display.context);
  pango_layout_set_font_description(dialog.display_layout, display_font.description);
}

bool surface_begin(void* window, int32_t control, Surface& surface) {
  StaticControl* c = drawn_control(window, control);
  if (!c || !c->context || cairo_status(c->context) != CAIRO_STATUS_SUCCESS) return false;
  cairo_save(c->context);
  surface = {c, c->context};
  return true;
}

void surface_end(const Surface& surface) {
  const auto* control = static_cast<StaticControl*>(surface.control);
  cairo_restore(control->context);
  gtk_widget_queue_draw(control->widget);
}

void surface_fill(const Surface& surface, const Rect& rect, Brush brush) {
  fill(static_cast<cairo_t*>(surface.context), brush_colours[static_cast<int>(brush)], rect.left,
       rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

void surface_text(const Surface& surface, const char* text) {
  auto* cr = static_cast<cairo_t*>(surface.context);
  PangoLayout* layout = dialog.display_layout;
  if (!layout) return;
  cairo_save(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_translate(cr, text_left, text_top);
  // The layout keeps the unscaled matrix it was made with: told of the stretch, Pango
  // would keep the advances as they were and only widen the glyphs, so that they overlap.
  cairo_scale(cr, display_font.scale_x, 1);
  cairo_move_to(cr, 0, 0);
  pango_layout_set_text(layout, text, -1);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
}

void surface_set_label(void* window, const char* text) {
  if (window == nullptr || window != dialog.window) return;
  pango_layout_set_text(dialog.label_layout, text, -1);
  gtk_widget_queue_draw(dialog.label.widget);
}

int32_t surface_check(void* window, int32_t control) {
  GtkWidget* box = check_box(window, control);
  return box && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(box)) ? 1 : 0;
}

// Setting a box is no click: a Windows check box reports no command for it either.
void surface_set_check(void* window, int32_t control, int32_t state) {
  GtkWidget* box = check_box(window, control);
  if (!box) return;
  g_signal_handlers_block_by_func(box, reinterpret_cast<gpointer>(on_crc_clicked), nullptr);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(box), state != 0);
  g_signal_handlers_unblock_by_func(box, reinterpret_cast<gpointer>(on_crc_clicked), nullptr);
}

void surface_end_dialog(void* window) {
  if (window == nullptr || window != dialog.window) return;
  invert_query_close();
  gtk_widget_hide(dialog.window);
  gtk_main_quit();
}

void init_common_controls() {}

// Standard error, not the console log: standard output stays the log alone.
static void report_no_display() {
  const char* x11 = g_getenv("DISPLAY");
  const char* wayland = g_getenv("WAYLAND_DISPLAY");
  if (!x11 && !wayland) {
    std::fprintf(stderr,
                 "tavrel: cannot open the display (DISPLAY and WAYLAND_DISPLAY are not set)\n");
  } else {
    std::fprintf(stderr, "tavrel: cannot open the display (DISPLAY=%s, WAYLAND_DISPLAY=%s)\n",
                 x11 ? x11 : "(not set)", wayland ? wayland : "(not set)");
  }
}

void run_status_dialog() {
  if (!gtk_init_check(nullptr, nullptr)) {
    report_no_display();
    return;
  }
  measure_scale();
  set_icon();
  build_window();
  dialog.invert_source = g_source_new(&invert_source_funcs, sizeof(GSource));
  g_source_attach(dialog.invert_source, nullptr);
  invert_query_open();
  dialog_init(dialog.window);
  gtk_widget_show_all(dialog.window);
  gtk_widget_grab_focus(dialog.crc_box);
  gtk_main();

  status_dialog.window.store(nullptr);
  invert_query_close();
  g_source_remove(dialog.timer);
  g_source_destroy(dialog.invert_source);
  g_source_unref(dialog.invert_source);
  free_window();
}

int32_t invert_state() {
  uint32_t ticket = 0;
  if (!invert_query_post(ticket)) return 0;
  g_main_context_wakeup(nullptr);
  return invert_query_wait(ticket);
}

}  // namespace tavrel
