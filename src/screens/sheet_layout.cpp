#include "screens/sheet_layout.h"

#include <algorithm>
#include <cstdio>

#include "ui/draw.h"

namespace ui::sheet {

namespace {

constexpr uint32_t kText = 0xEDF1F4;
constexpr uint32_t kTextSecondary = 0x8E9AA5;

TextStyle style(const Ctx& ctx, bool secondary) {
  TextStyle st;
  st.size = 14 * ctx.uiScale;
  st.color = secondary ? kTextSecondary : kText;
  return st;
}

}  // namespace

std::string sizeLabel(int width, int height) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d × %d", width, height);
  return buf;
}

void rowText(Ctx& ctx, const Rect& r, const std::string& text, bool secondary, int align) {
  TextStyle st = style(ctx, secondary);
  st.fitWidth = r.w;
  st.align = align;
  double w = 0, h = 0;
  measureText(ctx.cr, text, st, &w, &h);
  const double x = align == 2 ? r.x + r.w : align == 1 ? r.x + r.w / 2 : r.x;
  drawText(ctx.cr, x, r.y + (r.h - h) / 2, text, st);
}

double wrappedText(Ctx& ctx, const Rect& r, const std::string& text) {
  TextStyle st = style(ctx, true);
  st.size = 13 * ctx.uiScale;
  st.wrapWidth = r.w;
  drawText(ctx.cr, r.x, r.y, text, st);
  double w = 0, h = 0;
  measureText(ctx.cr, text, st, &w, &h);
  return h;
}

double hintHeight(Ctx& ctx, const std::string& text, double width) {
  TextStyle st = style(ctx, true);
  st.size = 13 * ctx.uiScale;
  st.wrapWidth = width;
  double w = 0, h = 0;
  measureText(ctx.cr, text, st, &w, &h);
  return h;
}

Rect slotFromRight(const Rect& row, int i, int n, double maxW, double gap) {
  const double w = std::max(0.0, std::min(maxW, (row.w - gap * (n - 1)) / std::max(n, 1)));
  const double left = row.x + row.w - n * w - (n - 1) * gap;
  return {left + i * (w + gap), row.y, w, row.h};
}

}  // namespace ui::sheet
