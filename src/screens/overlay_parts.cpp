#include "screens/overlay_parts.h"

#include <SDL_keycode.h>

#include <algorithm>
#include <cstdio>

#include "core/i18n.h"
#include "platform/log.h"
#include "platform/uri.h"
#include "ui/draw.h"
#include "ui/icons.h"
#include "ui/widgets.h"

namespace ui::overlay {

namespace {

constexpr double kHeaderH = 56;
constexpr double kColumnMaxW = 720;

TextStyle style(double size, bool bold, uint32_t color) {
  TextStyle st;
  st.size = size;
  st.bold = bold;
  st.color = color;
  return st;
}

// Extra letter spacing tears joined scripts apart (Arabic letters, the
// Devanagari head stroke) and puts gaps between marks and their letters:
// only texts of alphabetic scripts below U+0580 get it. Any UTF-8 lead byte
// from 0xD6 on starts a code point at or above U+0580.
bool spacingSuits(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0xD6) return false;
  }
  return true;
}

}  // namespace

bool mirrored() { return i18n::rightToLeft(); }

void drawChevron(cairo_t* cr, double cx, double cy, double size, uint32_t color) {
  if (!mirrored()) {
    drawIcon(cr, Icon::Chevron, cx, cy, size, color, 1.0);
    return;
  }
  cairo_save(cr);
  cairo_translate(cr, cx, cy);
  cairo_scale(cr, -1, 1);
  drawIcon(cr, Icon::Chevron, 0, 0, size, color, 1.0);
  cairo_restore(cr);
}

// --- Frame and scrolling ---------------------------------------------------------

Rect overlayFrame(Ctx& ctx, const std::string& title, bool* closed, const char* hitPrefix) {
  const double s = ctx.uiScale;
  cairo_t* cr = ctx.cr;
  const double headerH = kHeaderH * s;
  const std::string screenId = std::string("screen.") + hitPrefix;
  ctx.hit(screenId.c_str(), Rect{0, 0, ctx.w, ctx.h});
  fillRect(cr, Rect{0, 0, ctx.w, ctx.h}, kBackground, 1.0);
  fillRect(cr, Rect{0, 0, ctx.w, headerH}, kHeader, 1.0);
  drawLine(cr, 0, headerH - s / 2, ctx.w, headerH - s / 2, s, kOutline, 1.0);

  TextStyle titleStyle = style(20 * s, true, kText);
  titleStyle.fitWidth = ctx.w - 96 * s;
  titleStyle.minScale = 0.6;
  double tw = 0;
  double th = 0;
  measureText(cr, title, titleStyle, &tw, &th);
  drawText(cr, 16 * s, (headerH - th) / 2, title, titleStyle);

  const double side = 38 * s;
  Rect close{ctx.w - 16 * s - side, (headerH - side) / 2, side, side};
  std::string closeId = std::string(hitPrefix) + ".close";
  ctx.hit(closeId.c_str(), close);
  if (ctx.hover(close)) fillRoundedRect(cr, close, 6 * s, kNeutral, 0.8);
  drawIcon(cr, Icon::Close, close.x + side / 2, close.y + side / 2, 20 * s, kText, 1.0);

  const bool clicked = ctx.takeClick(close);
  if (closed) *closed = clicked || ctx.in.hasKey(SDLK_ESCAPE);
  return Rect{0, headerH, ctx.w, std::max(0.0, ctx.h - headerH)};
}

Column::Column(Ctx& ctx, const Rect& content, Scroll* scroll) : ctx_(ctx), content_(content), scroll_(scroll) {
  const double s = ctx.uiScale;
  const double w = std::max(0.0, std::min(kColumnMaxW * s, content.w - 48 * s));
  applyScroll(ctx, content, scroll->contentH, &scroll->offset);
  column_ = Rect{content.x + (content.w - w) / 2, content.y, w, content.h};
  cairo_save(ctx.cr);
  cairo_rectangle(ctx.cr, content.x, content.y, content.w, content.h);
  cairo_clip(ctx.cr);
  top_ = content.y + 24 * s - scroll->offset;
  y = top_;
}

Column::~Column() { finish(); }

void Column::finish() {
  if (finished_) return;
  finished_ = true;
  const double s = ctx_.uiScale;
  scroll_->contentH = (y + 48 * s) - top_ + 24 * s;
  cairo_restore(ctx_.cr);
  scrollbar(ctx_, content_, scroll_->contentH, scroll_->offset);
}

// --- Text blocks -----------------------------------------------------------------

double sectionHead(Ctx& ctx, const Rect& column, double y, const std::string& title, const std::string& hint) {
  const double s = ctx.uiScale;
  TextStyle head = style(12 * s, true, kAccent);
  head.letterSpacing = spacingSuits(title) ? 1.2 * s : 0;
  head.fitWidth = column.w;
  if (mirrored()) head.align = 2;
  drawText(ctx.cr, mirrored() ? column.x + column.w : column.x, y, title, head);
  const double lineY = y + 18 * s;
  drawLine(ctx.cr, column.x, lineY, column.x + column.w, lineY, s, kOutline, 1.0);
  y = lineY + 10 * s;
  if (!hint.empty()) {
    TextStyle hs = style(12 * s, false, kTextSecondary);
    hs.wrapWidth = column.w;
    double hh = 0;
    measureText(ctx.cr, hint, hs, nullptr, &hh);
    drawText(ctx.cr, column.x, y, hint, hs);
    y += hh + 8 * s;
  }
  return y;
}

double paragraph(Ctx& ctx, const Rect& column, const std::string& text, double y, double size, bool bold,
                 uint32_t color) {
  const double s = ctx.uiScale;
  TextStyle st = style(size * s, bold, color);
  st.wrapWidth = column.w;
  double h = 0;
  measureText(ctx.cr, text, st, nullptr, &h);
  drawText(ctx.cr, column.x, y, text, st);
  return y + h + 6 * s;
}

double groupHeading(Ctx& ctx, const Rect& column, double y, const std::string& text) {
  const double s = ctx.uiScale;
  y += 12 * s;  // a group starts a new part of the page: more air above than between sections
  TextStyle st = style(20 * s, true, kText);
  st.wrapWidth = column.w;
  double h = 0;
  measureText(ctx.cr, text, st, nullptr, &h);
  drawText(ctx.cr, column.x, y, text, st);
  return y + h + 14 * s;
}

double linkLine(Ctx& ctx, const Rect& column, double y, const std::string& text, const std::string& uri,
                const char* id, const char* logPrefix, bool ltrContent) {
  TextStyle st = style(16 * ctx.uiScale, false, kAccent);
  st.fitWidth = column.w;
  double w = 0;
  double h = 0;
  measureText(ctx.cr, text, st, &w, &h);
  Rect box{mirrored() && !ltrContent ? column.x + column.w - w : column.x, y, w, h};
  ctx.hit(id, box);
  drawText(ctx.cr, box.x, y, text, st);
  if (ctx.hover(box)) drawLine(ctx.cr, box.x, y + h, box.x + w, y + h, ctx.uiScale, kAccent, 0.8);
  if (ctx.takeClick(box)) {
    diag::action(std::string(logPrefix) + uri);
    platform::openUri(uri);
  }
  return y + h + 6 * ctx.uiScale;
}

// --- Rows ------------------------------------------------------------------------

void hoverFill(Ctx& ctx, const Rect& r) { fillRoundedRect(ctx.cr, r, 6 * ctx.uiScale, kNeutral, 0.5); }

bool visible(const Rect& r, const Rect& viewport) {
  return r.y + r.h > viewport.y && r.y < viewport.y + viewport.h;
}

bool inViewport(const Ctx& ctx, const Rect& viewport) { return viewport.contains(ctx.in.mx, ctx.in.my); }

int segmentRow(Ctx& ctx, const Rect& column, double* y, const Rect& viewport,
               const std::vector<std::string>& labels, int selected, const char* hitPrefix) {
  const double s = ctx.uiScale;
  cairo_t* cr = ctx.cr;
  Rect bar{column.x, *y, column.w, 38 * s};
  *y += 44 * s;
  if (labels.empty()) return -1;
  fillRoundedRect(cr, bar, 6 * s, kPanel, 1.0);
  const double segW = bar.w / static_cast<double>(labels.size());
  int clicked = -1;
  for (size_t i = 0; i < labels.size(); ++i) {
    Rect seg{bar.x + segW * static_cast<double>(i), bar.y, segW, bar.h};
    char id[128];
    std::snprintf(id, sizeof id, "%s.%zu", hitPrefix, i);
    const bool shown = visible(seg, viewport);
    if (shown) ctx.hit(id, seg);
    const bool isSel = static_cast<int>(i) == selected;
    if (isSel) fillRoundedRect(cr, seg, 6 * s, kPrimary, 0.95);
    if (i > 0) drawLine(cr, seg.x, seg.y + 8 * s, seg.x, seg.y + seg.h - 8 * s, s, kOutline, 1.0);
    TextStyle st = style(14 * s, false, isSel ? kText : kTextSecondary);
    st.fitWidth = segW - 8 * s;
    drawTextIn(cr, seg, labels[i], st);
    if (shown && inViewport(ctx, viewport) && ctx.takeClick(seg)) clicked = static_cast<int>(i);
  }
  strokeRoundedRect(cr, bar, 6 * s, s, kOutline, 1.0);
  return clicked;
}

bool choiceRow(Ctx& ctx, const Rect& column, double* y, const Rect& viewport, const std::string& title,
               const std::string& subtitle, bool selected, const char* hitId, bool last) {
  const double s = ctx.uiScale;
  cairo_t* cr = ctx.cr;
  TextStyle ts = style(16 * s, selected, selected ? kAccent : kText);
  ts.fitWidth = column.w - 40 * s;
  TextStyle ss = style(12 * s, false, kTextSecondary);
  ss.fitWidth = column.w - 40 * s;
  double th = 0;
  double sh = 0;
  measureText(cr, title, ts, nullptr, &th);
  if (!subtitle.empty()) measureText(cr, subtitle, ss, nullptr, &sh);
  const double h = std::max(44 * s, th + (subtitle.empty() ? 0 : 4 * s + sh) + 18 * s);
  Rect row{column.x, *y, column.w, h};
  *y += h;

  const bool shown = visible(row, viewport);
  if (shown) ctx.hit(hitId, row);
  const bool active = shown && inViewport(ctx, viewport);
  if (active && ctx.hover(row)) hoverFill(ctx, row);
  // Right to left: the texts start at the right edge and the check mark moves left.
  const bool rtl = mirrored();
  if (rtl) ts.align = ss.align = 2;
  const double textX = rtl ? row.x + row.w - 6 * s : row.x + 6 * s;
  drawText(cr, textX, row.y + 9 * s, title, ts);
  if (!subtitle.empty()) drawText(cr, textX, row.y + 9 * s + th + 3 * s, subtitle, ss);
  const double checkX = rtl ? row.x + 18 * s : row.x + row.w - 18 * s;
  if (selected) drawIcon(cr, Icon::Check, checkX, row.y + h / 2, 15 * s, kAccent, 1.0);
  if (!last) drawLine(cr, row.x, row.y + h - s / 2, row.x + row.w, row.y + h - s / 2, s, kOutline, 0.5);
  return active && ctx.takeClick(row);
}

bool framedButton(Ctx& ctx, const Rect& column, double* y, const Rect& viewport, const std::string& label,
                  const char* id, bool chevron) {
  const double s = ctx.uiScale;
  TextStyle st = style(14 * s, true, kText);
  const double room = chevron ? 32 * s : 0;
  st.fitWidth = column.w - 48 * s - room;
  double lw = 0;
  double lh = 0;
  measureText(ctx.cr, label, st, &lw, &lh);
  const double bw = std::min(column.w, lw + 48 * s + room);
  Rect r{mirrored() ? column.x + column.w - bw : column.x, *y, bw, 44 * s};
  *y += r.h;
  const bool shown = visible(r, viewport);
  if (shown) ctx.hit(id, r);
  const bool active = shown && inViewport(ctx, viewport);
  if (active && ctx.hover(r)) hoverFill(ctx, r);
  strokeRoundedRect(ctx.cr, r, 6 * s, s, kOutline, 1.0);
  const double labelX = mirrored() ? r.x + r.w - 24 * s - lw : r.x + 24 * s;
  drawTextIn(ctx.cr, Rect{labelX, r.y, lw, r.h}, label, st);
  if (chevron) {
    drawChevron(ctx.cr, mirrored() ? r.x + 16 * s : r.x + r.w - 16 * s, r.y + r.h / 2, 14 * s, kTextSecondary);
  }
  return active && ctx.takeClick(r);
}

}  // namespace ui::overlay
