// widget_gallery: draws every widget in each of its states and every icon
// into one PNG, offscreen (no window), to look the toolkit over at a glance.
// A developer tool; the program never runs it.
//
//   korvelle_widget_gallery <out.png> [--scale <device pixels per pixel>] [--ui <interface scale>]
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/cairo_guard.h"
#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/icons.h"
#include "ui/widgets.h"

namespace {

constexpr double kWidth = 1280;
constexpr double kHeight = 1240;

constexpr const char* kIconNames[ui::kIconCount] = {
    "Close", "UndoArc", "RedoArc", "Save",  "Info",    "More",     "Play",  "Pause",
    "Cut",   "MarkIn",  "MarkOut", "Size",  "Format",  "Crop",     "Adjust", "Transform",
    "Export", "Image",  "Video",   "Settings", "Check", "Chevron", "Plus",  "Minus"};

// Draws widgets with a scripted pointer: each call places the mouse (or
// keeps it away) before drawing one widget.
class Gallery {
 public:
  Gallery(cairo_t* cr, double uiScale) {
    ctx_.cr = cr;
    ctx_.w = kWidth;
    ctx_.h = kHeight;
    ctx_.uiScale = uiScale;
    ctx_.now = 10;
  }

  ui::Ctx& away() {
    ctx_.in = ui::Input{};
    ctx_.in.mx = -1e9;
    ctx_.in.my = -1e9;
    ctx_.clickTaken = false;
    return ctx_;
  }

  ui::Ctx& over(double x, double y, bool held = false) {
    away();
    ctx_.in.mx = x;
    ctx_.in.my = y;
    ctx_.in.held = held;
    return ctx_;
  }

  ui::Ctx& over(const ui::Rect& r) { return over(r.x + r.w / 2, r.y + r.h / 2); }

  ui::Ctx& ctx() { return ctx_; }
  double s() const { return ctx_.uiScale; }

  void heading(double x, double y, const char* text) {
    ui::TextStyle st;
    st.size = 16;
    st.bold = true;
    st.color = 0xEDF1F4;
    ui::drawText(ctx_.cr, x, y, text, st);
  }

  void caption(const ui::Rect& under, const char* text) {
    ui::TextStyle st;
    st.size = 11;
    st.color = 0x8E9AA5;
    st.align = 1;
    ui::drawText(ctx_.cr, under.x + under.w / 2, under.y + under.h + 6, text, st);
  }

 private:
  ui::Ctx ctx_;
};

void drawIcons(Gallery& g, double y) {
  g.heading(24, y, "Icons (cell = the icon's square; 32 px white, 16 px secondary)");
  cairo_t* cr = g.ctx().cr;
  const double cell = 44;
  for (int i = 0; i < ui::kIconCount; ++i) {
    const double x = 24 + (i % 12) * 104.0;
    const double top = y + 32 + (i / 12) * 96.0;
    const ui::Rect box{x, top, cell, cell};
    ui::strokeRoundedRect(cr, ui::Rect{x + 6 - 0.5, top + 6 - 0.5, 33, 33}, 0, 1, 0x39434E, 1);
    ui::drawIcon(cr, static_cast<ui::Icon>(i), x + 22.5, top + 22.5, 32, 0xEDF1F4, 1);
    ui::drawIcon(cr, static_cast<ui::Icon>(i), x + 66, top + 22, 16, 0x8E9AA5, 1);
    std::string label = std::to_string(i) + " " + kIconNames[i];
    g.caption(ui::Rect{x, box.y, 88, box.h}, label.c_str());
  }
}

void drawButtons(Gallery& g, double y) {
  const double s = g.s();
  g.heading(24, y, "Buttons");
  y += 32;
  const double w = 150 * s;
  const double h = 40 * s;
  double x = 24;
  auto next = [&](const char* caption) {
    g.caption(ui::Rect{x, y, w, h}, caption);
    x += w + 16;
  };
  ui::Rect r{x, y, w, h};
  ui::primaryButton(g.away(), r, "Export", true, nullptr);
  next("primary");
  r.x = x;
  ui::primaryButton(g.over(r), r, "Export", true, nullptr);
  next("primary, hovered");
  r.x = x;
  ui::primaryButton(g.over(r), r, "Export", false, nullptr);
  next("primary, disabled");
  r.x = x;
  ui::primaryButton(g.away(), r, "A label far too long to fit", true, nullptr);
  next("primary, long label");

  x = 24;
  y += h + 40;
  struct PlainState {
    bool selected;
    bool enabled;
    bool hovered;
    const char* caption;
  };
  const PlainState plain[] = {{false, true, false, "plain"},
                              {false, true, true, "plain, hovered"},
                              {true, true, false, "plain, selected"},
                              {false, false, false, "plain, disabled"},
                              {true, false, false, "selected, disabled"}};
  for (const PlainState& p : plain) {
    r = ui::Rect{x, y, w, h};
    ui::plainButton(p.hovered ? g.over(r) : g.away(), r, "Original", p.selected, p.enabled, nullptr);
    next(p.caption);
  }

  x = 24;
  y += h + 40;
  struct IconState {
    bool enabled;
    bool active;
    bool hovered;
    const char* caption;
  };
  const IconState icons[] = {{true, false, false, "icon"},
                             {true, false, true, "hovered"},
                             {true, true, false, "active"},
                             {true, true, true, "active, hovered"},
                             {false, false, false, "disabled"},
                             {false, true, false, "active, disabled"}};
  const double side = 44 * s;
  for (const IconState& b : icons) {
    r = ui::Rect{x, y, side, side};
    ui::iconButton(b.hovered ? g.over(r) : g.away(), r, ui::Icon::Crop, b.enabled, b.active, nullptr);
    g.caption(ui::Rect{x - 30, y, side + 60, side}, b.caption);
    x += side + 70;
  }

  x = 24 + 6 * (side + 70) + 20;
  const double chipW = 110 * s;
  const double chipH = 30 * s;
  const struct {
    const char* label;
    bool selected;
  } chips[] = {{"16:9", false}, {"Instagram", true}, {"A much longer chip label", false}};
  for (const auto& c : chips) {
    r = ui::Rect{x, y + (side - chipH) / 2, chipW, chipH};
    ui::chip(g.away(), r, c.label, c.selected, nullptr);
    g.caption(r, c.selected ? "chip, selected" : "chip");
    x += chipW + 16;
  }
}

void drawPickers(Gallery& g, double y) {
  const double s = g.s();
  g.heading(24, y, "Sliders and dropdowns");
  y += 36;
  const double w = 200 * s;
  const double h = 24 * s;
  double x = 24 + 9 * s;
  const struct {
    double value;
    double min;
    double max;
    bool pressed;
    const char* caption;
  } sliders[] = {{0, 0, 100, false, "at min"},
                 {35, 0, 100, false, "35 of 100"},
                 {100, 0, 100, false, "at max"},
                 {5, 5, 5, false, "min = max"},
                 {0, -100, 100, true, "held at 80 %"}};
  for (const auto& sl : sliders) {
    ui::Rect r{x, y, w, h};
    ui::Ctx& ctx = sl.pressed ? g.over(x + 0.8 * w, y + h / 2, true) : g.away();
    ui::slider(ctx, r, sl.value, sl.min, sl.max, nullptr);
    g.caption(r, sl.caption);
    x += w + 40;
  }

  y += h + 44;
  x = 24;
  const std::vector<std::string> options = {"Original", "1080p", "720p", "480p", "A long option that is shrunk"};
  const double dw = 220 * s;
  const double dh = 36 * s;
  bool closed = false;
  ui::Rect r{x, y, dw, dh};
  ui::dropdown(g.away(), r, options, 1, &closed, nullptr);
  g.caption(r, "dropdown, closed");
  x += dw + 30;
  r = ui::Rect{x, y, dw, dh};
  ui::dropdown(g.away(), r, options, 4, &closed, nullptr);
  g.caption(r, "closed, long choice");
  x += dw + 30;
  bool open = true;
  r = ui::Rect{x, y, dw, dh};
  ui::dropdown(g.over(x + 40, y + dh + 4 * s + 34 * s * 2.5), r, options, 1, &open, nullptr);
  g.caption(ui::Rect{x, y + dh + 8 * s + 34 * s * 5, dw, 0}, "open, item 2 hovered");
}

void drawSheet(Gallery& g, double y) {
  const double s = g.s();
  g.heading(24, y, "Sheet, scroll list, tooltip");
  y += 32;
  const ui::Rect sheet{24, y, 380 * s, 300 * s};
  ui::sheetBox(g.over(sheet.x + sheet.w - 32 * s, sheet.y + 24 * s), sheet, "Adjust colours", nullptr);
  g.caption(sheet, "sheet, close hovered");

  const ui::Rect view{sheet.x + 16 * s, sheet.y + 60 * s, sheet.w - 32 * s, sheet.h - 76 * s};
  const double rowH = 44 * s;
  const int rows = 12;
  double offset = 90 * s;
  ui::applyScroll(g.away(), view, rows * rowH, &offset);
  cairo_t* cr = g.ctx().cr;
  cairo_save(cr);
  cairo_rectangle(cr, view.x, view.y, view.w, view.h);
  cairo_clip(cr);
  for (int i = 0; i < rows; ++i) {
    const ui::Rect row{view.x, view.y + i * rowH - offset, view.w - 12 * s, rowH - 6 * s};
    const std::string label = "Row " + std::to_string(i + 1);
    ui::plainButton(i == 3 ? g.over(row) : g.away(), row, label, i == 4, true, nullptr);
  }
  cairo_restore(cr);
  ui::scrollbar(g.away(), view, rows * rowH, offset);

  const ui::Rect sheet2{sheet.x + sheet.w + 40, y, 300 * s, 160 * s};
  ui::sheetBox(g.away(), sheet2, "A sheet title long enough to be shrunk", nullptr);
  g.caption(sheet2, "sheet, long title");

  // The tooltip: armed while hovered, drawn once the pointer has rested.
  const ui::Rect tipAt{sheet2.x + 40, sheet2.y + 80 * s, 44 * s, 44 * s};
  ui::Ctx& ctx = g.over(tipAt);
  ui::iconButton(ctx, tipAt, ui::Icon::Transform, true, false, nullptr);
  ui::tooltip(ctx, tipAt, "Rotate and flip");
  ctx.now += ui::kTooltipDelay;
  ui::drawTooltip(ctx);
}

void drawMarks(Gallery& g, double y) {
  g.heading(800, y, "Application mark");
  double x = 800;
  for (double side : {128.0, 64.0, 32.0, 16.0}) {
    const ui::Rect r{x, y + 36, side, side};
    ui::drawAppMark(g.away(), r);
    const std::string caption = std::to_string(static_cast<int>(side)) + " px";
    g.caption(r, caption.c_str());
    x += side + 30;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <out.png> [--scale <n>] [--ui <scale>]\n", argv[0]);
    return 2;
  }
  const char* out = argv[1];
  double deviceScale = 1;
  double uiScale = 1;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--scale") == 0) deviceScale = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--ui") == 0) uiScale = std::atof(argv[i + 1]);
  }
  if (!(deviceScale > 0) || !(uiScale > 0)) {
    std::fputs("widget_gallery: scales must be positive\n", stderr);
    return 2;
  }
  if (!ui::registerBundledFonts()) std::fputs("widget_gallery: shipped fonts missing\n", stderr);

  ui::SurfacePtr surface(cairo_image_surface_create(
      CAIRO_FORMAT_ARGB32, static_cast<int>(kWidth * deviceScale), static_cast<int>(kHeight * deviceScale)));
  ui::CairoPtr cr(cairo_create(surface.get()));
  cairo_scale(cr.get(), deviceScale, deviceScale);
  ui::fillRect(cr.get(), ui::Rect{0, 0, kWidth, kHeight}, 0x14181C, 1);

  Gallery g(cr.get(), uiScale);
  drawIcons(g, 20);
  drawButtons(g, 260);
  drawPickers(g, 545);
  drawMarks(g, 645);
  drawSheet(g, 880);

  cr.reset();
  if (cairo_surface_write_to_png(surface.get(), out) != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "widget_gallery: %s not written\n", out);
    return 1;
  }
  std::printf("%s\n", out);
  return 0;
}
