#include "ui/dialog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "core/i18n.h"
#include "ui/draw.h"
#include "ui/frames.h"

namespace ui {

namespace {

// While the busy overlay is up the job's owner copies progress in once per
// frame; ten frames a second keep the bar moving without taking a core away
// from the job itself.
constexpr double kBusyFrameInterval = 0.1;

Dialog g_dialog;
BusyState g_busy;

// Removes a UTF-8 sequence that a byte limit cut short at the end of text.
void dropIncompleteTail(std::string& text) {
  size_t lead = text.size();
  for (int back = 0; back < 4 && lead > 0; ++back) {
    unsigned char c = static_cast<unsigned char>(text[lead - 1]);
    --lead;
    if ((c & 0xC0) != 0x80) {
      size_t need = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
      if (lead + need > text.size()) text.resize(lead);
      return;
    }
  }
}

}  // namespace

void showDialog(const std::string& title, const std::string& body, std::vector<DialogButton> buttons) {
  if (buttons.empty()) buttons.push_back({i18n::tr("errors.closeConfirm"), 1});
  g_dialog.title = title;
  g_dialog.body = body;
  g_dialog.buttons = std::move(buttons);
  g_dialog.result = -1;
  g_dialog.open = true;
  requestFrame();
}

int takeDialogResult() { return std::exchange(g_dialog.result, -1); }

const Dialog& currentDialog() { return g_dialog; }

bool dialogOpen() { return g_dialog.open; }

BusyState& busy() { return g_busy; }

DialogLayout dialogLayout(double winW, double winH, double s, double titleH, double bodyH, int n) {
  DialogLayout l;
  double panelW = std::min(520 * s, winW - 64 * s);
  l.inset = 24 * s;
  l.textWidth = panelW - 2 * l.inset;
  const double buttonH = 44 * s;
  const double gap = 8 * s;
  n = std::max(n, 0);
  double blockH = n <= 2 ? buttonH : n * buttonH + (n - 1) * gap;
  double textH = titleH + (bodyH > 0 ? gap + bodyH : 0);
  double panelH = l.inset + textH + 24 * s + blockH + l.inset;
  l.panel = {(winW - panelW) / 2, (winH - panelH) / 2, panelW, panelH};
  double x = l.panel.x + l.inset;
  double y = l.panel.y + l.inset + textH + 24 * s;
  if (n <= 2) {
    double bw = n > 0 ? (l.textWidth - (n - 1) * gap) / n : 0;
    for (int i = 0; i < n; ++i) l.buttons.push_back({x + i * (bw + gap), y, bw, buttonH});
  } else {
    for (int i = 0; i < n; ++i) l.buttons.push_back({x, y + i * (buttonH + gap), l.textWidth, buttonH});
  }
  return l;
}

void updateDialog(Ctx& ctx) {
  if (!g_dialog.open) return;
  cairo_t* cr = ctx.cr;
  const double s = ctx.uiScale;
  fillRect(cr, {0, 0, ctx.w, ctx.h}, 0x000000, 0.62);

  // The layout depends on the measured text, which depends on the text width.
  const double textWidth = std::min(520 * s, ctx.w - 64 * s) - 48 * s;
  TextStyle titleStyle{.size = 20 * s, .bold = true, .color = 0xEDF1F4, .wrapWidth = textWidth};
  TextStyle bodyStyle{.size = 16 * s, .color = 0x8E9AA5, .wrapWidth = textWidth};
  double titleH = 0;
  double bodyH = 0;
  measureText(cr, g_dialog.title, titleStyle, nullptr, &titleH);
  if (!g_dialog.body.empty()) measureText(cr, g_dialog.body, bodyStyle, nullptr, &bodyH);

  // Drawing may close the dialog; the buttons of this frame are still drawn.
  const std::vector<DialogButton> buttons = g_dialog.buttons;
  DialogLayout l = dialogLayout(ctx.w, ctx.h, s, titleH, bodyH, static_cast<int>(buttons.size()));
  fillRoundedRect(cr, l.panel, 12 * s, 0x232B33, 1.0);
  strokeRoundedRect(cr, l.panel, 12 * s, s, 0x39434E, 1.0);
  double textX = l.panel.x + l.inset;
  double textY = l.panel.y + l.inset;
  drawText(cr, textX, textY, g_dialog.title, titleStyle);
  if (bodyH > 0) drawText(cr, textX, textY + titleH + 8 * s, g_dialog.body, bodyStyle);

  for (size_t i = 0; i < buttons.size(); ++i) {
    const DialogButton& b = buttons[i];
    const Rect& r = l.buttons[i];
    std::string id = "dialog." + std::to_string(i);
    ctx.hit(id.c_str(), r);
    bool hovered = ctx.hover(r);
    if (b.kind == 1) {
      fillRoundedRect(cr, r, 6 * s, hovered ? 0x3F7CAE : 0x2C6392, 1.0);
    } else {
      if (hovered) fillRoundedRect(cr, r, 6 * s, 0x2F3944, 0.5);
      strokeRoundedRect(cr, r, 6 * s, s, b.kind == 2 ? 0xC0483F : 0x39434E, 1.0);
    }
    TextStyle label{.size = 14 * s,
                    .bold = true,
                    .color = b.kind == 2 ? 0xC0483Fu : 0xEDF1F4u,
                    .align = 1,
                    .fitWidth = r.w - 12 * s,
                    .minScale = 0.6};
    drawTextIn(cr, r, b.label, label);
    if (ctx.takeClick(r)) {
      g_dialog.result = static_cast<int>(i);
      g_dialog.open = false;
      requestFrame();  // the asking screen collects the answer on the next frame
    }
  }
  ctx.clickTaken = true;
}

std::string busyTimeText(double remaining) {
  // Clamped so absurd estimates cannot overflow the integer conversion.
  long long r = std::llround(std::min(remaining, 1e9));
  char buf[32];
  if (r > 59) {
    std::snprintf(buf, sizeof buf, "%lld:%02lld", r / 60, r % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld s", r);
  }
  return buf;
}

double busyFraction(double progress) {
  double f = progress / 100.0;
  if (!(f > 0)) return 0;  // also NaN
  return std::min(f, 1.0);
}

std::string busyInfoLine(const BusyState& b) {
  std::string time = b.remaining >= 0 ? i18n::tr("busy.remaining", {{"time", busyTimeText(b.remaining)}})
                                      : i18n::tr("busy.estimating");
  char buf[192];
  int n = b.detail.empty()
              ? std::snprintf(buf, sizeof buf, "%.0f %%  ·  %s", b.progress, time.c_str())
              : std::snprintf(buf, sizeof buf, "%.0f %%  ·  %s  ·  %s", b.progress, b.detail.c_str(), time.c_str());
  std::string line = buf;
  // A cut-off line must still be valid UTF-8 (pango rejects broken text).
  if (n >= static_cast<int>(sizeof buf)) dropIncompleteTail(line);
  return line;
}

void updateBusy(Ctx& ctx) {
  if (!g_busy.active) return;
  cairo_t* cr = ctx.cr;
  const double s = ctx.uiScale;
  fillRect(cr, {0, 0, ctx.w, ctx.h}, 0x000000, 0.7);

  double panelW = std::min(420 * s, ctx.w - 64 * s);
  double panelH = 190 * s;
  Rect panel{(ctx.w - panelW) / 2, (ctx.h - panelH) / 2, panelW, panelH};
  double cx = panel.x + panelW / 2;
  fillRoundedRect(cr, panel, 12 * s, 0x232B33, 1.0);
  strokeRoundedRect(cr, panel, 12 * s, s, 0x39434E, 1.0);
  drawTextTop(cr, cx, panel.y + 24 * s, g_busy.label, {.size = 20 * s, .bold = true, .color = 0xEDF1F4});

  Rect track{panel.x + 24 * s, panel.y + 84 * s, panelW - 48 * s, 10 * s};
  fillRoundedRect(cr, track, 5 * s, 0x2F3944, 1.0);
  double filled = track.w * busyFraction(g_busy.progress);
  if (filled > 1) fillRoundedRect(cr, {track.x, track.y, filled, track.h}, 5 * s, 0x5E9FD4, 1.0);
  drawTextTop(cr, cx, track.y + track.h + 8 * s, busyInfoLine(g_busy), {.size = 12 * s, .color = 0x8E9AA5});

  if (g_busy.cancellable) {
    Rect cancel{cx - 70 * s, panel.y + panelH - 52 * s, 140 * s, 36 * s};
    ctx.hit("busy.cancel", cancel);
    strokeRoundedRect(cr, cancel, 6 * s, s, 0x39434E, 1.0);
    drawTextIn(cr, cancel, i18n::tr("save.cancel"),
               {.size = 14 * s, .color = 0xEDF1F4, .align = 1, .fitWidth = cancel.w - 12 * s, .minScale = 0.6});
    if (ctx.takeClick(cancel)) g_busy.cancelRequested = true;
  }
  ctx.clickTaken = true;
  requestFrameWithin(kBusyFrameInterval);
}

}  // namespace ui
