#include "ui/widgets.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "media/errors.h"
#include "media/image.h"
#include "media/image_io.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "ui/cairo_guard.h"
#include "ui/draw.h"
#include "ui/frames.h"

namespace ui {

namespace {

// Palette.
constexpr uint32_t kPanel = 0x232B33;
constexpr uint32_t kNeutral = 0x2F3944;
constexpr uint32_t kOutline = 0x39434E;
constexpr uint32_t kPrimary = 0x2C6392;
constexpr uint32_t kPrimaryHover = 0x3F7CAE;
constexpr uint32_t kAccent = 0x5E9FD4;
constexpr uint32_t kTextSecondary = 0x8E9AA5;
constexpr uint32_t kText = 0xEDF1F4;

// A drag shorter than this (times s) still counts as a click: hands shake.
constexpr double kDragSlop = 4;
// Kinetic scrolling: velocity kept per second (0.6 % — a flick coasts about
// half a second), the speed below which a released drag does not coast, and
// the speed at which coasting stops.
constexpr double kCoastDecayPerSecond = 0.006;
constexpr double kCoastMinStart = 1.5;
constexpr double kCoastStop = 0.05;

// Label of buttons, chips and dropdowns.
TextStyle labelStyle(double size, bool bold, uint32_t color, double fitWidth, int align) {
  TextStyle st;
  st.size = size;
  st.bold = bold;
  st.color = color;
  st.align = align;
  st.fitWidth = fitWidth;
  st.minScale = 0.65;
  st.letterSpacing = 0.3;
  return st;
}

// Text left-aligned at x, centred vertically on cy.
void drawTextLeftCentred(cairo_t* cr, double x, double cy, const std::string& text, const TextStyle& st) {
  double tw = 0;
  double th = 0;
  measureText(cr, text, st, &tw, &th);
  drawText(cr, x, cy - th / 2, text, st);
}

// --- Tooltip state -----------------------------------------------------------
std::string g_tipText;
Rect g_tipRect;
double g_tipSince = -1;

// --- Application mark -----------------------------------------------------------
struct MarkCache {
  bool tried = false;
  SurfacePtr full;    // the file as loaded, premultiplied ARGB32
  SurfacePtr scaled;  // the last rounded copy …
  int scaledPixels = 0;  // … and its side in device pixels
};

MarkCache g_mark;

// RGBA with straight alpha to cairo's premultiplied native-endian ARGB32.
SurfacePtr surfaceFromImage(const media::Image& img) {
  SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.width, img.height));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(s.get());
  unsigned char* data = cairo_image_surface_get_data(s.get());
  const int stride = cairo_image_surface_get_stride(s.get());
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* src = img.row(y);
    auto* dst = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < img.width; ++x, src += 4) {
      const uint32_t a = img.hasAlpha ? src[3] : 255;
      auto pm = [a](uint32_t c) { return (c * a + 127) / 255; };
      dst[x] = a << 24 | pm(src[0]) << 16 | pm(src[1]) << 8 | pm(src[2]);
    }
  }
  cairo_surface_mark_dirty(s.get());
  return s;
}

void loadMark() {
  g_mark.tried = true;
  const std::string path = paths::asset("assets/icon/icon_512.png");
  media::Image img;
  std::string err;
  if (media::loadImage(path, &img, nullptr, &err)) g_mark.full = surfaceFromImage(img);
  if (!g_mark.full) {
    if (err.empty()) err = media::err::kOutOfMemory;
    diag::write("ui", "Bildmarke fehlt: " + path + " (" + err + ")");
  }
}

// The mark rounded at px × px device pixels, cached for the next frames.
cairo_surface_t* roundedMark(int px) {
  if (g_mark.scaled && g_mark.scaledPixels == px) return g_mark.scaled.get();
  SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, px, px));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_t* cr = cairo_create(s.get());
  roundedRectPath(cr, Rect{0, 0, static_cast<double>(px), static_cast<double>(px)}, 0.22 * px);
  cairo_clip(cr);
  cairo_scale(cr, static_cast<double>(px) / cairo_image_surface_get_width(g_mark.full.get()),
              static_cast<double>(px) / cairo_image_surface_get_height(g_mark.full.get()));
  cairo_set_source_surface(cr, g_mark.full.get(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  // Padding keeps the filter from blending the edge pixels with the
  // transparent outside of the image.
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_destroy(cr);
  g_mark.scaled = std::move(s);
  g_mark.scaledPixels = px;
  return g_mark.scaled.get();
}

}  // namespace

// --- Buttons -------------------------------------------------------------------------

bool primaryButton(Ctx& ctx, const Rect& r, const std::string& label, bool enabled, const char* id) {
  if (id) ctx.hit(id, r);
  const double s = ctx.uiScale;
  const uint32_t fill = !enabled ? kNeutral : ctx.hover(r) ? kPrimaryHover : kPrimary;
  fillRoundedRect(ctx.cr, r, 6 * s, fill, 1);
  drawTextIn(ctx.cr, r, label, labelStyle(14 * s, true, enabled ? kText : kTextSecondary, r.w - 16 * s, 1));
  return enabled && ctx.takeClick(r);
}

bool plainButton(Ctx& ctx, const Rect& r, const std::string& label, bool selected, bool enabled,
                 const char* id) {
  if (id) ctx.hit(id, r);
  const double s = ctx.uiScale;
  const double outlineAlpha = enabled ? 1.0 : 0.4;
  if (selected) {
    fillRoundedRect(ctx.cr, r, 6 * s, kPrimary, 0.85);
  } else if (enabled && ctx.hover(r)) {
    fillRoundedRect(ctx.cr, r, 6 * s, kNeutral, 0.7);
  }
  strokeRoundedRect(ctx.cr, r, 6 * s, s, selected ? kAccent : kOutline, outlineAlpha);
  drawTextIn(ctx.cr, r, label, labelStyle(14 * s, false, enabled ? kText : kTextSecondary, r.w - 14 * s, 1));
  return enabled && ctx.takeClick(r);
}

bool iconButton(Ctx& ctx, const Rect& r, Icon icon, bool enabled, bool active, const char* id) {
  if (id) ctx.hit(id, r);
  const double s = ctx.uiScale;
  const double glyph = 0.55 * std::min(r.w, r.h);
  const double cx = r.x + r.w / 2;
  const double cy = r.y + r.h / 2;
  if (active) fillRoundedRect(ctx.cr, r, 6 * s, kPrimary, 0.9);
  if (!enabled) {
    drawIcon(ctx.cr, icon, cx, cy, glyph, kTextSecondary, 0.4);
    return false;
  }
  if (!active && ctx.hover(r)) fillRoundedRect(ctx.cr, r, 6 * s, kNeutral, 0.8);
  drawIcon(ctx.cr, icon, cx, cy, glyph, kText, 1);
  return ctx.takeClick(r);
}

bool chip(Ctx& ctx, const Rect& r, const std::string& label, bool selected, const char* id) {
  if (id) ctx.hit(id, r);
  const double s = ctx.uiScale;
  fillRoundedRect(ctx.cr, r, r.h / 2, selected ? kPrimary : kPanel, 1);
  strokeRoundedRect(ctx.cr, r, r.h / 2, s, selected ? kAccent : kOutline, 1);
  drawTextIn(ctx.cr, r, label, labelStyle(12 * s, selected, kText, r.w - 10 * s, 1));
  return ctx.takeClick(r);
}

// --- Value pickers -------------------------------------------------------------------------

double slider(Ctx& ctx, const Rect& r, double value, double min, double max, const char* id) {
  if (id) ctx.hit(id, r);
  const double s = ctx.uiScale;
  const bool span = max > min;
  double t = span ? (value - min) / (max - min) : 0;
  if (!(t >= 0)) t = 0;  // NaN too
  t = std::min(t, 1.0);

  const double cy = r.y + r.h / 2;
  const double trackH = 6 * s;
  fillRoundedRect(ctx.cr, Rect{r.x, cy - trackH / 2, r.w, trackH}, trackH / 2, kNeutral, 1);
  if (t * r.w > 1) fillRoundedRect(ctx.cr, Rect{r.x, cy - trackH / 2, t * r.w, trackH}, trackH / 2, kAccent, 1);
  const double knobX = r.x + t * r.w;
  fillCircle(ctx.cr, knobX, cy, 9 * s, kText, 1);
  strokeCircle(ctx.cr, knobX, cy, 9 * s, s, kPrimaryHover, 1);

  // Widened so the knob can be caught at both ends.
  const Rect active{r.x - 9 * s, r.y, r.w + 18 * s, r.h};
  if ((ctx.in.pressed || ctx.in.held) && ctx.hover(active)) {
    double pt = r.w > 0 ? (ctx.in.mx - r.x) / r.w : 0;
    pt = std::clamp(pt, 0.0, 1.0);
    ctx.clickTaken = true;
    return span ? min + pt * (max - min) : min;
  }
  return value;
}

int dropdown(Ctx& ctx, const Rect& r, const std::vector<std::string>& options, int selected, bool* open,
             const char* id) {
  bool closedFlag = false;
  if (!open) open = &closedFlag;
  if (id) ctx.hit(id, r);
  const double s = ctx.uiScale;
  cairo_t* cr = ctx.cr;

  fillRoundedRect(cr, r, 6 * s, kPanel, 1);
  strokeRoundedRect(cr, r, 6 * s, s, *open ? kAccent : kOutline, 1);
  const double cy = r.y + r.h / 2;
  if (selected >= 0 && selected < static_cast<int>(options.size())) {
    drawTextLeftCentred(cr, r.x + 10 * s, cy, options[static_cast<size_t>(selected)],
                        labelStyle(14 * s, false, kText, r.w - 34 * s, 0));
  }
  drawIcon(cr, *open ? Icon::Minus : Icon::Plus, r.x + r.w - 16 * s, cy, 12 * s, kTextSecondary, 1);
  if (ctx.takeClick(r)) *open = !*open;

  int chosen = -1;
  if (*open && !options.empty()) {
    const double itemH = 34 * s;
    const double listH = std::min(static_cast<double>(options.size()) * itemH, ctx.h / 2);
    const double below = r.y + r.h + 4 * s;
    const double top = below + listH < ctx.h - 10 * s ? below : r.y - listH - 4 * s;
    const Rect list{r.x, top, r.w, listH};
    fillRoundedRect(cr, list, 6 * s, kNeutral, 1);
    strokeRoundedRect(cr, list, 6 * s, s, kOutline, 1);
    const double bottom = top + listH + 1e-6;  // an exact fit is not cut by rounding
    for (size_t i = 0; i < options.size(); ++i) {
      const Rect item{r.x, top + static_cast<double>(i) * itemH, r.w, itemH};
      if (item.y + item.h > bottom) break;
      if (id) ctx.hit((std::string(id) + "." + std::to_string(i)).c_str(), item);
      if (ctx.hover(item)) fillRoundedRect(cr, item, 6 * s, kPrimary, 0.5);
      drawTextLeftCentred(cr, item.x + 10 * s, item.y + itemH / 2, options[i],
                          labelStyle(14 * s, static_cast<int>(i) == selected, kText, r.w - 20 * s, 0));
      if (ctx.takeClick(item)) {
        chosen = static_cast<int>(i);
        *open = false;
      }
    }
    // A click anywhere else closes the list.
    if (*open && ctx.in.released && !ctx.clickTaken) *open = false;
  }
  return chosen;
}

// --- Panels -------------------------------------------------------------------------------

bool sheetBox(Ctx& ctx, const Rect& r, const std::string& title, const char* id) {
  if (id) ctx.hit(id, r);
  const double s = ctx.uiScale;
  cairo_t* cr = ctx.cr;
  fillRoundedRect(cr, r, 12 * s, kPanel, 1);
  strokeRoundedRect(cr, r, 12 * s, s, kOutline, 1);
  TextStyle titleStyle;
  titleStyle.size = 20 * s;
  titleStyle.bold = true;
  titleStyle.color = kText;
  titleStyle.fitWidth = r.w - 72 * s;
  titleStyle.minScale = 0.65;
  // A title too long even when shrunk is cut short of the close button.
  cairo_save(cr);
  cairo_rectangle(cr, r.x, r.y, std::max(r.w - 56 * s, 0.0), r.h);
  cairo_clip(cr);
  drawText(cr, r.x + 16 * s, r.y + 16 * s, title, titleStyle);
  cairo_restore(cr);

  const Rect close{r.x + r.w - 48 * s, r.y + 8 * s, 32 * s, 32 * s};
  if (id) ctx.hit("sheet.close", close);
  if (ctx.hover(close)) fillRoundedRect(cr, close, 6 * s, kNeutral, 0.8);
  drawIcon(cr, Icon::Close, close.x + close.w / 2, close.y + close.h / 2, 16 * s, kTextSecondary, 1);
  return ctx.takeClick(close);
}

// --- Tooltip -----------------------------------------------------------------------------

void tooltip(Ctx& ctx, const Rect& r, const std::string& text) {
  if (text.empty() || !ctx.hover(r)) return;
  if (text != g_tipText) {
    g_tipText = text;
    g_tipSince = ctx.now;
    requestFrameWithin(kTooltipDelay);  // the mouse may rest without sending events
  }
  g_tipRect = r;
}

void drawTooltip(Ctx& ctx) {
  if (g_tipText.empty() || g_tipSince < 0) return;
  const double waited = ctx.now - g_tipSince;
  if (waited < kTooltipDelay) {
    requestFrameWithin(kTooltipDelay - waited);
    return;
  }
  if (!ctx.hover(g_tipRect)) {
    g_tipText.clear();
    g_tipSince = -1;
    return;
  }
  const double s = ctx.uiScale;
  TextStyle st;
  st.size = 12 * s;
  st.color = kText;
  st.align = 1;
  double tw = 0;
  double th = 0;
  measureText(ctx.cr, g_tipText, st, &tw, &th);
  const double w = tw + 16 * s;
  const double h = th + 8 * s;
  double x = g_tipRect.x + g_tipRect.w / 2 - w / 2;
  x = std::max(4 * s, std::min(x, ctx.w - 4 * s - w));
  double y = g_tipRect.y + g_tipRect.h + 6 * s;
  if (y + h > ctx.h - 4 * s) y = g_tipRect.y - 6 * s - h;
  const Rect box{x, y, w, h};
  fillRoundedRect(ctx.cr, box, 6 * s, kNeutral, 0.97);
  strokeRoundedRect(ctx.cr, box, 6 * s, s, kOutline, 1);
  drawTextIn(ctx.cr, box, g_tipText, st);
}

// --- Scrolling -----------------------------------------------------------------------------

void applyScroll(Ctx& ctx, const Rect& view, double contentHeight, double* offset) {
  if (!offset) return;
  const double s = ctx.uiScale;
  const double maxOffset = std::max(contentHeight - view.h, 0.0);
  const Input& in = ctx.in;

  if (ctx.hover(view) && in.wheel != 0) {
    *offset -= 48 * s * in.wheel;
    ctx.scrollVelocity = 0;
  }
  if (in.pressed && ctx.hover(view) && maxOffset > 0) {
    ctx.scrollDragging = true;
    ctx.scrollTarget = offset;
    ctx.scrollDragDistance = 0;
    ctx.scrollVelocity = 0;
  }
  if (ctx.scrollTarget == offset) {
    if (ctx.scrollDragging && in.held) {
      *offset -= in.dy;
      ctx.scrollDragDistance += std::fabs(in.dy);
      ctx.scrollVelocity = 0.6 * ctx.scrollVelocity + 0.4 * in.dy;
      if (ctx.scrollDragDistance > kDragSlop * s) ctx.clickTaken = true;  // a drag is not a click
    } else if (ctx.scrollDragging) {
      ctx.scrollDragging = false;
      if (ctx.scrollDragDistance > kDragSlop * s) ctx.clickTaken = true;
      if (std::fabs(ctx.scrollVelocity) < kCoastMinStart) ctx.scrollVelocity = 0;
      if (ctx.scrollVelocity != 0) requestFrame();
    } else if (std::fabs(ctx.scrollVelocity) > kCoastStop) {
      *offset -= ctx.scrollVelocity;
      ctx.scrollVelocity *= std::pow(kCoastDecayPerSecond, std::clamp(ctx.dt, 0.0, 0.1));
      if (*offset < 0 || *offset > maxOffset) ctx.scrollVelocity = 0;
      if (std::fabs(ctx.scrollVelocity) > kCoastStop) requestFrame();
    }
  }
  *offset = std::clamp(*offset, 0.0, maxOffset);
}

void scrollbar(Ctx& ctx, const Rect& view, double contentHeight, double offset) {
  if (view.h >= contentHeight) return;
  const double s = ctx.uiScale;
  const double thumbH = std::max(view.h * view.h / contentHeight, 28 * s);
  const double along = std::clamp(offset / (contentHeight - view.h), 0.0, 1.0);
  const double top = view.y + along * (view.h - thumbH);
  fillRoundedRect(ctx.cr, Rect{view.x + view.w - 6 * s, top, 4 * s, thumbH}, 2 * s, kTextSecondary, 0.5);
}

// --- Application mark ---------------------------------------------------------------------

void drawAppMark(Ctx& ctx, const Rect& r) {
  if (!g_mark.tried) loadMark();
  if (!g_mark.full) return;
  const double side = std::max(16.0, std::round(std::min(r.w, r.h)));
  // Built at device resolution, so the mark stays sharp on scaled displays.
  double dx = 1;
  double dy = 0;
  cairo_user_to_device_distance(ctx.cr, &dx, &dy);
  const double deviceScale = std::max(std::hypot(dx, dy), 1e-3);
  const int px = std::max(1, static_cast<int>(std::lround(side * deviceScale)));
  cairo_surface_t* mark = roundedMark(px);
  if (!mark) return;
  cairo_save(ctx.cr);
  cairo_translate(ctx.cr, r.x + (r.w - side) / 2, r.y + (r.h - side) / 2);
  cairo_scale(ctx.cr, side / px, side / px);
  cairo_set_source_surface(ctx.cr, mark, 0, 0);
  cairo_paint(ctx.cr);
  cairo_restore(ctx.cr);
}

}  // namespace ui
