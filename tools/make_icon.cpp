// make_icon: draws the application mark into <out-dir>/icon_<size>.png for
// the sizes the program and the desktop use. A build step; the mark exists
// only as this code, so no picture is kept in the repository.
//
//   make_icon <out-dir>
//
// The mark: a rounded tile in the program's blues holding a photo print
// (sky, sun, two hills), turned slightly, with a round play badge over its lower right corner —
// a still and a moving picture. Every size is drawn from the vectors, so
// small sizes stay crisp instead of being shrunk from the largest.
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "ui/cairo_guard.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kSizes[] = {512, 256, 128, 64, 48};

// The program's palette.
constexpr uint32_t kWindow = 0x14181C;
constexpr uint32_t kSurface = 0x1C2229;
constexpr uint32_t kPrimary = 0x2C6392;
constexpr uint32_t kPrimaryLight = 0x3F7CAE;
constexpr uint32_t kAccent = 0x5E9FD4;
constexpr uint32_t kWarm = 0xC0483F;
constexpr uint32_t kText = 0xEDF1F4;

void setColor(cairo_t* cr, uint32_t c, double alpha = 1.0) {
  cairo_set_source_rgba(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0, alpha);
}

void addStop(cairo_pattern_t* p, double at, uint32_t c) {
  cairo_pattern_add_color_stop_rgb(p, at, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0,
                                   (c & 0xFF) / 255.0);
}

void roundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

// The tile: the same rounding (0.22 of the side) the program clips the mark
// with, so both agree.
void drawTile(cairo_t* cr, double S) {
  roundedRect(cr, 0, 0, S, S, 0.22 * S);
  ui::PatternPtr sky(cairo_pattern_create_linear(0, 0, S, S));
  addStop(sky.get(), 0.0, kPrimaryLight);
  addStop(sky.get(), 0.55, kPrimary);
  addStop(sky.get(), 1.0, kSurface);
  cairo_set_source(cr, sky.get());
  cairo_fill(cr);
}

// The print: a white card whose inset picture shows sky, sun and two hills,
// turned a little as if just straightened in the editor.
void drawPrint(cairo_t* cr, double S) {
  cairo_save(cr);
  cairo_translate(cr, 0.45 * S, 0.44 * S);
  cairo_rotate(cr, -7 * kPi / 180);
  cairo_translate(cr, -0.45 * S, -0.44 * S);
  const double x = 0.15 * S;
  const double y = 0.2 * S;
  const double w = 0.6 * S;
  const double h = 0.48 * S;
  const double border = 0.045 * S;

  // A soft shadow lifts the card off the tile.
  setColor(cr, kWindow, 0.35);
  roundedRect(cr, x + 0.012 * S, y + 0.02 * S, w, h, 0.06 * S);
  cairo_fill(cr);

  setColor(cr, kText);
  roundedRect(cr, x, y, w, h, 0.06 * S);
  cairo_fill(cr);

  const double px = x + border;
  const double py = y + border;
  const double pw = w - 2 * border;
  const double ph = h - 2 * border;
  cairo_save(cr);
  roundedRect(cr, px, py, pw, ph, 0.025 * S);
  cairo_clip(cr);
  setColor(cr, kAccent);
  cairo_paint(cr);

  setColor(cr, kText);
  cairo_new_sub_path(cr);
  cairo_arc(cr, px + 0.27 * pw, py + 0.3 * ph, 0.11 * ph, 0, 2 * kPi);
  cairo_fill(cr);

  setColor(cr, kPrimaryLight);  // far hill
  cairo_move_to(cr, px + 0.25 * pw, py + ph);
  cairo_line_to(cr, px + 0.7 * pw, py + 0.32 * ph);
  cairo_line_to(cr, px + 1.2 * pw, py + ph);
  cairo_close_path(cr);
  cairo_fill(cr);

  setColor(cr, kPrimary);  // near hill
  cairo_move_to(cr, px - 0.1 * pw, py + ph);
  cairo_line_to(cr, px + 0.32 * pw, py + 0.52 * ph);
  cairo_line_to(cr, px + 0.75 * pw, py + ph);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_restore(cr);
}

// The play badge over the print's lower right corner, set off by a ring of
// the tile's dark colour.
void drawBadge(cairo_t* cr, double S) {
  const double cx = 0.69 * S;
  const double cy = 0.69 * S;
  const double r = 0.19 * S;
  setColor(cr, kSurface);
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r + 0.04 * S, 0, 2 * kPi);
  cairo_fill(cr);
  setColor(cr, kWarm);
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
  cairo_fill(cr);

  // The triangle's centroid sits on the badge's centre, which looks centred.
  const double t = 0.5 * r;
  setColor(cr, kText);
  cairo_move_to(cr, cx - 0.5 * t, cy - 0.866 * t);
  cairo_line_to(cr, cx + t, cy);
  cairo_line_to(cr, cx - 0.5 * t, cy + 0.866 * t);
  cairo_close_path(cr);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_width(cr, 0.12 * t);
  cairo_fill_preserve(cr);
  cairo_stroke(cr);
}

bool writeMark(int size, const std::string& path) {
  ui::SurfacePtr surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
  ui::CairoPtr cr(cairo_create(surface.get()));
  const double S = size;
  drawTile(cr.get(), S);
  drawPrint(cr.get(), S);
  drawBadge(cr.get(), S);
  cr.reset();
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
  return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <out-dir>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  for (int size : kSizes) {
    const std::string path = dir + "/icon_" + std::to_string(size) + ".png";
    if (!writeMark(size, path)) {
      std::fprintf(stderr, "make_icon: %s not written\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
