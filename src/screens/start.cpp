#include "screens/start.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "core/i18n.h"
#include "media/image_io.h"
#include "media/raw.h"
#include "media/video.h"
#include "platform/log.h"
#include "platform/product.h"
#include "screens/flows.h"
#include "screens/router.h"
#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/icons.h"
#include "ui/widgets.h"

namespace ui {

namespace {

constexpr uint32_t kBackground = 0x14181C;
constexpr uint32_t kText = 0xEDF1F4;
constexpr uint32_t kMuted = 0x8E9AA5;
constexpr uint32_t kPanel = 0x232B33;
constexpr uint32_t kLine = 0x39434E;
constexpr uint32_t kHover = 0x2F3944;
constexpr uint32_t kAccent = 0x5E9FD4;

// Design sizes of the big buttons and the band below them.
constexpr double kButtonH = 58;
constexpr double kButtonGap = 16;
constexpr double kChipH = 22;
constexpr double kChipGap = 5;

TextStyle style(double size, uint32_t color) {
  TextStyle t;
  t.size = size;
  t.color = color;
  t.minScale = 0.6;
  return t;
}

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

bool bigButton(Ctx& ctx, const Rect& r, Icon icon, const std::string& label, bool primary, const char* id) {
  const double s = ctx.uiScale;
  ctx.hit(id, r);
  const bool hovered = ctx.hover(r);
  if (primary) {
    fillRoundedRect(ctx.cr, r, 12 * s, hovered ? 0x3F7CAE : 0x2C6392, 1.0);
  } else {
    fillRoundedRect(ctx.cr, r, 12 * s, kPanel, 1.0);
    strokeRoundedRect(ctx.cr, r, 12 * s, s, kLine, 1.0);
    if (hovered) fillRoundedRect(ctx.cr, r, 12 * s, kHover, 0.6);
  }
  drawIcon(ctx.cr, icon, r.x + (24 + 13) * s, r.y + r.h / 2, 26 * s, kText, 1.0);
  TextStyle t = style(16 * s, kText);
  t.bold = true;
  t.fitWidth = r.w - (48 + 26 + 16) * s;
  double th = 0;
  measureText(ctx.cr, label, t, nullptr, &th);
  drawText(ctx.cr, r.x + (24 + 26 + 16) * s, r.y + (r.h - th) / 2, label, t);
  return ctx.takeClick(r);
}

bool cornerButton(Ctx& ctx, const Rect& r, Icon icon, const char* id) {
  const double s = ctx.uiScale;
  ctx.hit(id, r);
  if (ctx.hover(r)) fillRoundedRect(ctx.cr, r, 6 * s, kHover, 0.8);
  drawIcon(ctx.cr, icon, r.x + r.w / 2, r.y + r.h / 2, 20 * s, kText, 1.0);
  return ctx.takeClick(r);
}

void cornerButtons(Ctx& ctx) {
  const double s = ctx.uiScale;
  const double side = 38 * s;
  Rect about{ctx.w - 16 * s - side, 16 * s, side, side};
  Rect settingsRect{about.x - 4 * s - side, about.y, side, side};
  if (cornerButton(ctx, about, Icon::Info, "start.about")) {
    diag::action("Start: Ueber");
    App::instance().screen = App::About;
  }
  if (cornerButton(ctx, settingsRect, Icon::Settings, "start.settings")) {
    diag::action("Start: Einstellungen");
    App::instance().screen = App::Settings;
  }
}

void drawChips(Ctx& ctx, const Rect& card, const std::vector<std::string>& names, double bottomLimit,
               const char* idPrefix) {
  const double s = ctx.uiScale;
  TextStyle t = style(12 * 0.95 * s, kMuted);
  t.align = 1;
  std::vector<std::string> texts;
  std::vector<double> widths;
  for (const std::string& name : names) {
    texts.push_back(upper(name));
    double tw = 0;
    measureText(ctx.cr, texts.back(), t, &tw, nullptr);
    widths.push_back(tw + 14 * s);
  }
  std::vector<Rect> chips = chipLayout(card, widths, bottomLimit, s);
  for (size_t i = 0; i < chips.size(); ++i) {
    std::string id = std::string(idPrefix) + texts[i];
    ctx.hit(id.c_str(), chips[i]);
    strokeRoundedRect(ctx.cr, chips[i], chips[i].h / 2, s, kLine, 1.0);
    drawTextIn(ctx.cr, chips[i], texts[i], t);
  }
}

void drawCard(Ctx& ctx, const Rect& card, const char* id, const char* titleKey) {
  const double s = ctx.uiScale;
  ctx.hit(id, card);
  fillRoundedRect(ctx.cr, card, 12 * s, kPanel, 0.55);
  strokeRoundedRect(ctx.cr, card, 12 * s, s, kLine, 1.0);
  TextStyle title = style(12 * s, kAccent);
  title.bold = true;
  title.letterSpacing = 1.2 * s;
  drawText(ctx.cr, card.x + 14 * s, card.y + 10 * s, i18n::tr(titleKey), title);
}

void drawRawLine(Ctx& ctx, const Rect& card) {
  const double s = ctx.uiScale;
  std::string line = rawFormatsLine(media::capabilities().raw);
  TextStyle t = style(12 * 0.88 * s, kMuted);
  t.fitWidth = card.w - 28 * s;
  double th = 0;
  measureText(ctx.cr, line, t, nullptr, &th);
  drawText(ctx.cr, card.x + 14 * s, card.y + card.h - 8 * s - th, line, t);
}

void formatCards(Ctx& ctx) {
  const double s = ctx.uiScale;
  const double y0 = 0.62 * ctx.h + (2 * (kButtonH + kButtonGap) + 30) * s;
  const double cw = std::min(340 * s, (ctx.w - 80 * s) / 2);
  const double ch = ctx.h - 52 * s - y0;
  if (ch <= 90 * s || cw <= 150 * s) return;
  Rect video{ctx.w / 2 - cw - 10 * s, y0, cw, ch};
  Rect image{ctx.w / 2 + 10 * s, y0, cw, ch};
  drawCard(ctx, video, "start.formats.video", "app.video");
  drawChips(ctx, video, media::videoExtensions(), video.y + video.h - 6 * s, "start.chip.video.");
  drawCard(ctx, image, "start.formats.image", "app.image");
  drawChips(ctx, image, media::capabilities().decode, image.y + image.h - 36 * s, "start.chip.image.");
  drawRawLine(ctx, image);
}

void drawStart(Ctx& ctx) {
  const double s = ctx.uiScale;
  const double W = ctx.w;
  const double H = ctx.h;
  Rect whole{0, 0, W, H};
  ctx.hit("screen.start", whole);
  fillRect(ctx.cr, whole, kBackground, 1.0);
  cornerButtons(ctx);

  const double mark = std::min(0.3 * H, 190 * s);
  drawAppMark(ctx, {W / 2 - mark / 2, 0.28 * H - mark / 2, mark, mark});

  TextStyle hint = style(16 * s, kMuted);
  hint.align = 1;
  hint.wrapWidth = std::min(520 * s, W - 64 * s);
  drawText(ctx.cr, W / 2 - hint.wrapWidth / 2, 0.28 * H + 0.6 * mark, i18n::tr("start.hint"), hint);

  const double bw = std::min(360 * s, W - 64 * s);
  Rect videoButton{W / 2 - bw / 2, 0.62 * H, bw, kButtonH * s};
  Rect imageButton{videoButton.x, videoButton.y + (kButtonH + kButtonGap) * s, bw, kButtonH * s};
  if (bigButton(ctx, videoButton, Icon::Video, i18n::tr("start.pickVideo"), true, "start.video")) {
    diag::action("Start: Video waehlen");
    startOpenMedia(true);
  }
  if (bigButton(ctx, imageButton, Icon::Image, i18n::tr("start.pickImage"), false, "start.image")) {
    diag::action("Start: Bild waehlen");
    startOpenMedia(false);
  }

  TextStyle note = style(12 * s, kMuted);
  note.align = 1;
  const std::string dropHint = i18n::tr("start.dropHint");
  const double noteTop = 0.62 * H + (2 * (kButtonH + kButtonGap) + 6) * s;
  double nw = 0;
  double nh = 0;
  measureText(ctx.cr, dropHint, note, &nw, &nh);
  ctx.hit("start.dropNote", {W / 2 - nw / 2, noteTop, nw, nh});
  drawText(ctx.cr, W / 2, noteTop, dropHint, note);

  formatCards(ctx);

  char version[128];
  std::snprintf(version, sizeof version, "%s · %s (%d)", product::kMaker, product::kVersion, product::kBuild);
  TextStyle versionStyle = style(12 * s, kMuted);
  versionStyle.align = 1;
  drawText(ctx.cr, W / 2, H - 38 * s, version, versionStyle);
}

}  // namespace

std::vector<Rect> chipLayout(const Rect& card, const std::vector<double>& widths, double bottomLimit, double s) {
  std::vector<Rect> out;
  const double left = card.x + 14 * s;
  double x = left;
  double y = card.y + 32 * s;
  for (double w : widths) {
    if (x > left && x + w > card.x + card.w - 10 * s) {
      x = left;
      y += (kChipH + kChipGap) * s;
    }
    if (y + kChipH * s > bottomLimit) break;
    out.push_back({x, y, w, kChipH * s});
    x += w + kChipGap * s;
  }
  return out;
}

std::string rawFormatsLine(bool decodes) {
  std::string line = decodes ? "RAW: " : "RAW (—): ";
  const std::vector<std::string>& raws = media::rawExtensions();
  for (size_t i = 0; i < raws.size(); ++i) line += (i ? " · " : "") + raws[i];
  return line;
}

void updateStartScreen(Ctx& ctx) {
  // The router draws the dialog after this screen; while it is up, the
  // buttons below it must not take its clicks.
  if (dialogOpen()) {
    drawWithInputWithheld(ctx, drawStart);
  } else {
    drawStart(ctx);
  }
  pumpDialog(ctx);
}

}  // namespace ui
