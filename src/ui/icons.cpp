#include "ui/icons.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <unordered_map>

#include "ui/cairo_guard.h"
#include "ui/draw.h"

namespace ui {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Pt {
  double x;
  double y;
};

// Draws one glyph around the origin. Coordinates are in units of r (half the
// icon's side); hw is half the line width in those units, for glyphs whose
// outline must stay inside the square.
class Glyph {
 public:
  Glyph(cairo_t* cr, double r, double lineWidth) : cr_(cr), r_(r), hw_(lineWidth / 2 / r) {}

  double hw() const { return hw_; }

  void line(double x0, double y0, double x1, double y1) const { polyline({{x0, y0}, {x1, y1}}); }

  void polyline(std::initializer_list<Pt> pts) const {
    path(pts, false);
    cairo_stroke(cr_);
  }

  void fillPolygon(std::initializer_list<Pt> pts) const {
    path(pts, true);
    cairo_fill_preserve(cr_);
    cairo_stroke(cr_);  // the stroke rounds the corners like the line glyphs
  }

  void circle(double cx, double cy, double radius) const {
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, cx * r_, cy * r_, radius * r_, 0, 2 * kPi);
    cairo_stroke(cr_);
  }

  void dot(double cx, double cy, double radius) const {
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, cx * r_, cy * r_, radius * r_, 0, 2 * kPi);
    cairo_fill(cr_);
  }

  // Outline whose outer edge is the rectangle (x0, y0)-(x1, y1).
  void frame(double x0, double y0, double x1, double y1, double radius) const {
    roundedRectPath(cr_, rectIn(x0, y0, x1, y1, hw_), radius * r_);
    cairo_stroke(cr_);
  }

  void fillRect(double x0, double y0, double x1, double y1, double radius) const {
    roundedRectPath(cr_, rectIn(x0, y0, x1, y1, 0), radius * r_);
    cairo_fill(cr_);
  }

  // Arc from a0 to a1 (radians, clockwise on screen).
  void arc(double cx, double cy, double radius, double a0, double a1) const {
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, cx * r_, cy * r_, radius * r_, a0, a1);
    cairo_stroke(cr_);
  }

  // Two wings of length len meeting at tip, pointing along (dx, dy).
  void arrowHead(double tipX, double tipY, double dx, double dy, double len) const {
    const double n = std::hypot(dx, dy);
    dx /= n;
    dy /= n;
    const double c = std::cos(kPi / 4);
    const double s = std::sin(kPi / 4);
    // The direction turned by ±45°, walked backwards from the tip.
    const Pt a{tipX - len * (dx * c - dy * s), tipY - len * (dx * s + dy * c)};
    const Pt b{tipX - len * (dx * c + dy * s), tipY - len * (-dx * s + dy * c)};
    polyline({a, {tipX, tipY}, b});
  }

  cairo_t* cr() const { return cr_; }
  double r() const { return r_; }

 private:
  void path(std::initializer_list<Pt> pts, bool close) const {
    cairo_new_path(cr_);
    for (const Pt& p : pts) cairo_line_to(cr_, p.x * r_, p.y * r_);
    if (close) cairo_close_path(cr_);
  }

  Rect rectIn(double x0, double y0, double x1, double y1, double inset) const {
    return Rect{(x0 + inset) * r_, (y0 + inset) * r_, (x1 - x0 - 2 * inset) * r_, (y1 - y0 - 2 * inset) * r_};
  }

  cairo_t* cr_;
  double r_;
  double hw_;
};

// Curved arrow turning back to the left: the upper half of a circle whose
// left end runs down into an arrow head.
void drawArcArrow(const Glyph& g) {
  const double cx = 0.12;  // shifted right so the head's wing stays inside
  const double cy = 0.2;
  const double rad = 0.72;
  g.arc(cx, cy, rad, kPi, 2 * kPi);
  g.line(cx - rad, cy, cx - rad, cy + 0.22);
  g.arrowHead(cx - rad, cy + 0.26, 0, 1, 0.32);
}

void drawBracket(const Glyph& g) {
  g.polyline({{-0.2, -0.85}, {-0.55, -0.85}, {-0.55, 0.85}, {-0.2, 0.85}});
}

void drawFormat(const Glyph& g) {
  cairo_t* cr = g.cr();
  const double r = g.r();
  const double gap = 2 * g.hw();
  // The front frame hides the back frame's lines that run beneath it.
  cairo_save(cr);
  cairo_rectangle(cr, -r, -r, 2 * r, 2 * r);
  cairo_rectangle(cr, (-0.3 - gap) * r, (-0.2 - gap) * r, (1.12 + 2 * gap) * r, (0.98 + 2 * gap) * r);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  cairo_clip(cr);
  g.frame(-0.86, -0.86, 0.2, 0.56, 0.12);
  cairo_restore(cr);
  g.frame(-0.3, -0.2, 0.82, 0.78, 0.12);
}

void drawTransform(const Glyph& g) {
  const double rad = 0.75;
  const double a0 = 27 * kPi / 180;
  const double a1 = 315 * kPi / 180;
  g.arc(0, 0, rad, a0, a1);
  const Pt end{rad * std::cos(a1), rad * std::sin(a1)};
  const Pt dir{-std::sin(a1), std::cos(a1)};  // the arc's direction of travel at its end
  g.arrowHead(end.x + 0.06 * dir.x, end.y + 0.06 * dir.y, dir.x, dir.y, 0.34);
}

void drawScissors(const Glyph& g) {
  const double ringR = 0.26;
  for (double side : {-1.0, 1.0}) {
    const Pt c{0.42 * side, 0.5};
    g.circle(c.x, c.y, ringR);
    const Pt tip{-0.52 * side, -0.85};
    const double dx = tip.x - c.x;
    const double dy = tip.y - c.y;
    const double n = std::hypot(dx, dy);
    g.line(c.x + ringR * dx / n, c.y + ringR * dy / n, tip.x, tip.y);
  }
}

void drawPicture(const Glyph& g) {
  g.frame(-0.9, -0.7, 0.9, 0.7, 0.14);
  g.dot(-0.38, -0.22, 0.18);
  const double inner = 0.7 - 2 * g.hw();
  g.polyline({{-0.62, inner - 0.06}, {-0.18, 0.02}, {0.12, 0.3}, {0.36, 0.1}, {0.9 - 2 * g.hw(), 0.42}});
}

void drawVideo(const Glyph& g) {
  g.frame(-0.92, -0.6, 0.33, 0.6, 0.14);
  cairo_t* cr = g.cr();
  const double r = g.r();
  cairo_new_path(cr);
  cairo_move_to(cr, 0.44 * r, 0);
  cairo_line_to(cr, 0.92 * r, -0.42 * r);
  cairo_line_to(cr, 0.92 * r, 0.42 * r);
  cairo_close_path(cr);
  cairo_fill(cr);
}

void drawGear(const Glyph& g) {
  g.circle(0, 0, 0.36);
  const double outer = std::min(0.92, 1 - g.hw());  // round caps stay inside the square
  for (int i = 0; i < 6; ++i) {
    const double a = i * kPi / 3;
    g.line(0.55 * std::cos(a), 0.55 * std::sin(a), outer * std::cos(a), outer * std::sin(a));
  }
}

void drawAdjust(const Glyph& g) {
  g.circle(0, 0, 0.85);
  cairo_t* cr = g.cr();
  cairo_new_path(cr);
  cairo_arc(cr, 0, 0, 0.85 * g.r(), -kPi / 2, kPi / 2);
  cairo_close_path(cr);
  cairo_fill(cr);
}

void drawGlyph(const Glyph& g, Icon icon) {
  switch (icon) {
    case Icon::Close:
      g.line(-0.7, -0.7, 0.7, 0.7);
      g.line(0.7, -0.7, -0.7, 0.7);
      break;
    case Icon::UndoArc:
      drawArcArrow(g);
      break;
    case Icon::RedoArc:
      cairo_scale(g.cr(), -1, 1);
      drawArcArrow(g);
      break;
    case Icon::Save:
      g.line(0, -0.82, 0, 0.38);
      g.arrowHead(0, 0.42, 0, 1, 0.5);
      g.line(-0.75, 0.82, 0.75, 0.82);
      break;
    case Icon::Info:
      g.circle(0, 0, 0.85);
      g.line(0, -0.05, 0, 0.45);
      g.dot(0, -0.42, 0.62 * 2 * g.hw());
      break;
    case Icon::More:
      for (double y : {-0.62, 0.0, 0.62}) g.dot(0, y, 0.62 * 2 * g.hw());
      break;
    case Icon::Play:
      g.fillPolygon({{-0.5, -0.8}, {0.82, 0}, {-0.5, 0.8}});
      break;
    case Icon::Pause:
      g.fillRect(-0.58, -0.78, -0.16, 0.78, 0.1);
      g.fillRect(0.16, -0.78, 0.58, 0.78, 0.1);
      break;
    case Icon::Cut:
      drawScissors(g);
      break;
    case Icon::MarkIn:
      drawBracket(g);
      break;
    case Icon::MarkOut:
      cairo_scale(g.cr(), -1, 1);
      drawBracket(g);
      break;
    case Icon::Size:
      g.line(-0.62, 0.62, 0.62, -0.62);
      g.polyline({{0.12, -0.68}, {0.68, -0.68}, {0.68, -0.12}});
      g.polyline({{-0.12, 0.68}, {-0.68, 0.68}, {-0.68, 0.12}});
      break;
    case Icon::Format:
      drawFormat(g);
      break;
    case Icon::Crop:
      g.polyline({{-0.45, -0.85}, {-0.45, 0.45}, {0.85, 0.45}});
      g.polyline({{-0.85, -0.45}, {0.45, -0.45}, {0.45, 0.85}});
      break;
    case Icon::Adjust:
      drawAdjust(g);
      break;
    case Icon::Transform:
      drawTransform(g);
      break;
    case Icon::Export:
      g.line(0, 0.38, 0, -0.78);
      g.arrowHead(0, -0.82, 0, -1, 0.5);
      g.line(-0.75, 0.82, 0.75, 0.82);
      break;
    case Icon::Image:
      drawPicture(g);
      break;
    case Icon::Video:
      drawVideo(g);
      break;
    case Icon::Settings:
      drawGear(g);
      break;
    case Icon::Check:
      g.polyline({{-0.75, 0}, {-0.15, 0.6}, {0.8, -0.65}});
      break;
    case Icon::Chevron:
      g.polyline({{-0.3, -0.6}, {0.35, 0}, {-0.3, 0.6}});
      break;
    case Icon::Plus:
      g.line(-0.7, 0, 0.7, 0);
      g.line(0, -0.7, 0, 0.7);
      break;
    case Icon::Minus:
      g.line(-0.7, 0, 0.7, 0);
      break;
  }
}

// Strokes the glyph around the origin (the caller saves the cairo state).
void strokeGlyph(cairo_t* cr, Icon icon, double size, uint32_t color, double alpha) {
  const double lineWidth = std::max(0.11 * size, 1.0);
  setColor(cr, color, alpha);
  cairo_set_line_width(cr, lineWidth);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  drawGlyph(Glyph(cr, size / 2, lineWidth), icon);
}

// One look of a glyph on the pixel grid: the same key rasterises to the same
// pixels, up to a whole-pixel shift.
struct IconKey {
  int icon;
  uint32_t color;
  double alpha;
  double size;   // logical pixels
  double scale;  // device pixels per logical pixel
  int phaseX;    // the centre's position within its pixel, in 1/256 (cairo's own precision)
  int phaseY;
  bool operator==(const IconKey& o) const {
    return icon == o.icon && color == o.color && alpha == o.alpha && size == o.size && scale == o.scale &&
           phaseX == o.phaseX && phaseY == o.phaseY;
  }
};

struct IconKeyHash {
  size_t operator()(const IconKey& k) const {
    size_t h = std::hash<double>()(k.size) ^ std::hash<double>()(k.scale) * 31 ^ std::hash<double>()(k.alpha) * 7;
    return h ^ (static_cast<size_t>(k.icon) << 48) ^ (static_cast<size_t>(k.color) << 16) ^
           (static_cast<size_t>(k.phaseX) << 8) ^ static_cast<size_t>(k.phaseY);
  }
};

// A screen shows a few dozen icons; sliding and scrolling add a few per frame
// until the cache is dropped whole.
constexpr size_t kIconCacheLimit = 256;
// Larger icons (none in the interface today) are stroked: 256 pictures of
// this side stay under 20 MB.
constexpr double kIconCacheSide = 128;

std::unordered_map<IconKey, SurfacePtr, IconKeyHash>& iconCache() {
  static std::unordered_map<IconKey, SurfacePtr, IconKeyHash> cache;
  return cache;
}

// The glyph's pixels with its centre at (cx, cy) inside the picture.
SurfacePtr rasterise(const IconKey& k, double cx, double cy, int side) {
  SurfacePtr picture(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side));
  CairoPtr cr(cairo_create(picture.get()));
  cairo_translate(cr.get(), cx, cy);
  cairo_scale(cr.get(), k.scale, k.scale);
  strokeGlyph(cr.get(), static_cast<Icon>(k.icon), k.size, k.color, k.alpha);
  cr.reset();
  cairo_surface_flush(picture.get());
  return picture;
}

}  // namespace

void drawIconStrokes(cairo_t* cr, Icon icon, double cx, double cy, double size, uint32_t color, double alpha) {
  const int value = static_cast<int>(icon);
  if (value < 0 || value >= kIconCount || !(size > 0)) return;
  cairo_save(cr);
  cairo_translate(cr, cx, cy);
  strokeGlyph(cr, icon, size, color, alpha);
  cairo_restore(cr);
}

// Stroking every icon anew cost a tenth of an editor frame: an icon drawn
// upright at an even scale is painted from its rasterised picture instead.
// The picture keeps the centre's place within its pixel, so the pixels are
// those the strokes give.
void drawIcon(cairo_t* cr, Icon icon, double cx, double cy, double size, uint32_t color, double alpha) {
  const int value = static_cast<int>(icon);
  if (value < 0 || value >= kIconCount || !(size > 0)) return;
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  if (m.xy != 0 || m.yx != 0 || !(m.xx > 0) || m.xx != m.yy || !(size * m.xx <= kIconCacheSide)) {
    drawIconStrokes(cr, icon, cx, cy, size, color, alpha);
    return;
  }
  double dx = cx;
  double dy = cy;
  cairo_user_to_device(cr, &dx, &dy);
  const double qx = std::round(dx * 256) / 256;
  const double qy = std::round(dy * 256) / 256;
  const double ink = size * m.xx;
  // One pixel of room around the square: antialiasing may reach into it.
  const double originX = std::floor(qx - ink / 2) - 1;
  const double originY = std::floor(qy - ink / 2) - 1;
  const double localX = qx - originX;
  const double localY = qy - originY;
  const IconKey key{value, color, alpha, size, m.xx, static_cast<int>(std::lround((qx - std::floor(qx)) * 256)),
                    static_cast<int>(std::lround((qy - std::floor(qy)) * 256))};
  auto& cache = iconCache();
  auto it = cache.find(key);
  if (it == cache.end()) {
    if (cache.size() >= kIconCacheLimit) cache.clear();
    const int side = static_cast<int>(std::ceil(std::max(localX, localY) + ink / 2)) + 2;
    SurfacePtr picture = rasterise(key, localX, localY, side);
    if (cairo_surface_status(picture.get()) != CAIRO_STATUS_SUCCESS) {  // out of memory: a failed source would fail cr
      drawIconStrokes(cr, icon, cx, cy, size, color, alpha);
      return;
    }
    it = cache.emplace(key, std::move(picture)).first;
  }
  cairo_save(cr);
  cairo_identity_matrix(cr);
  cairo_set_source_surface(cr, it->second.get(), originX, originY);
  cairo_paint(cr);
  cairo_restore(cr);
}

}  // namespace ui
