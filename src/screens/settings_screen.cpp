#include "screens/settings_screen.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "core/i18n.h"
#include "core/settings.h"
#include "media/image_io.h"
#include "platform/log.h"
#include "screens/overlay_parts.h"
#include "screens/overlays.h"
#include "screens/router.h"
#include "ui/dialog.h"
#include "ui/draw.h"

namespace ui {

using namespace overlay;
using i18n::tr;

int qualitySegment(int32_t quality) {
  for (size_t i = 0; i < std::size(kQualityValues); ++i) {
    if (kQualityValues[i] == quality) return static_cast<int>(i);
  }
  return -1;
}

int fadeSegment(int32_t fadeMs) {
  for (size_t i = 0; i < std::size(kFadeValues); ++i) {
    if (kFadeValues[i] == fadeMs) return static_cast<int>(i);
  }
  return 1;  // the default length's segment
}

std::vector<int32_t> offeredOutputFormats(const std::vector<std::string>& encoders) {
  std::vector<int32_t> out{settings::kFormatAuto, settings::kFormatJpeg, settings::kFormatPng};
  if (std::find(encoders.begin(), encoders.end(), "webp") != encoders.end()) out.push_back(settings::kFormatWebP);
  return out;
}

namespace {

// One row of a choice list: a catalogue key or a literal for each line.
struct Choice {
  int64_t value;
  const char* titleKey;     // null: title is shown as is
  const char* subtitleKey;  // null: subtitle is shown as is (may be null too)
  const char* title;
  const char* subtitle;
};

constexpr Choice kFormats[] = {
    {settings::kFormatAuto, "settings.formatAuto", "settings.formatAutoHint", nullptr, nullptr},
    {settings::kFormatJpeg, "settings.formatJpeg", "settings.formatJpegHint", nullptr, nullptr},
    {settings::kFormatPng, "settings.formatPng", "settings.formatPngHint", nullptr, nullptr},
    {settings::kFormatWebP, "settings.formatWebp", "settings.formatWebpHint", nullptr, nullptr},
};
constexpr Choice kFits[] = {
    {settings::kFitCover, "settings.fitCover", "settings.fitCoverHint", nullptr, nullptr},
    {settings::kFitContain, "settings.fitContain", "settings.fitContainHint", nullptr, nullptr},
    {settings::kFitStretch, "settings.fitStretch", "settings.fitStretchHint", nullptr, nullptr},
};
constexpr Choice kPads[] = {
    {settings::kPadBlack, "format.pad_black", nullptr, nullptr, nullptr},
    {settings::kPadWhite, "format.pad_white", nullptr, nullptr, nullptr},
    {settings::kPadBlur, "format.pad_blur", "settings.padBlurHint", nullptr, nullptr},
};
constexpr Choice kResolutions[] = {
    {0, "settings.resolutionOriginal", "settings.resolutionOriginalHint", nullptr, nullptr},
    {2160, nullptr, nullptr, "4K", "3840 \u00d7 2160"},
    {1440, nullptr, nullptr, "1440p", "2560 \u00d7 1440"},
    {1080, nullptr, nullptr, "1080p", "1920 \u00d7 1080"},
    {720, nullptr, nullptr, "720p", "1280 \u00d7 720"},
    {480, nullptr, nullptr, "480p", "854 \u00d7 480"},
};
constexpr Choice kBitrates[] = {
    {0, "settings.bitrateAuto", "settings.bitrateAutoHint", nullptr, nullptr},
    {2000000, nullptr, nullptr, "2 Mbit/s", "\u2248 15 MB / min"},
    {5000000, nullptr, nullptr, "5 Mbit/s", "\u2248 37 MB / min"},
    {10000000, nullptr, nullptr, "10 Mbit/s", "\u2248 75 MB / min"},
};
constexpr const char* kFadeLabels[] = {"0,3 s", "0,5 s", "1,0 s", "2,0 s"};

std::string titleOf(const Choice& c) { return c.titleKey ? tr(c.titleKey) : c.title; }
std::string subtitleOf(const Choice& c) {
  if (c.subtitleKey) return tr(c.subtitleKey);
  return c.subtitle ? c.subtitle : "";
}
// What the log names a chosen row by: its title key, or its literal title.
std::string logName(const Choice& c) { return c.titleKey ? c.titleKey : c.title; }

// Screen state between frames (and openings).
Scroll g_scroll;
bool g_resetAsked = false;  // the open dialog is this screen's reset question

// The frame being drawn: context, column and whether anything was chosen.
struct Page {
  Ctx& ctx;
  Column& col;
  bool changed = false;
};

// Draws the rows of a list; returns the chosen row's index or −1. Row i
// registers as idPrefix + "." + its value (byValue) or i.
template <size_t N>
int choiceList(Page& p, const Choice (&rows)[N], size_t count, int64_t current, const char* idPrefix,
               bool byValue) {
  int chosen = -1;
  for (size_t i = 0; i < count; ++i) {
    const std::string id =
        std::string(idPrefix) + "." + (byValue ? std::to_string(rows[i].value) : std::to_string(i));
    if (choiceRow(p.ctx, p.col.rect(), &p.col.y, p.col.viewport(), titleOf(rows[i]), subtitleOf(rows[i]),
                  rows[i].value == current, id.c_str(), i + 1 == count)) {
      chosen = static_cast<int>(i);
    }
  }
  return chosen;
}

void languageRow(Page& p) {
  Ctx& ctx = p.ctx;
  const double s = ctx.uiScale;
  const Rect& col = p.col.rect();
  p.col.y = sectionHead(ctx, col, p.col.y, tr("settings.language"), "");
  Rect row{col.x, p.col.y, col.w, 46 * s};
  p.col.y += row.h + 8 * s;
  const bool shown = visible(row, p.col.viewport());
  if (shown) ctx.hit("settings.language", row);
  const bool active = shown && inViewport(ctx, p.col.viewport());
  if (active && ctx.hover(row)) hoverFill(ctx, row);

  // Label at the start of the row, the chosen language and the chevron at its end.
  const bool rtl = mirrored();
  TextStyle label;
  label.size = 16 * s;
  label.color = kText;
  label.fitWidth = col.w / 2;
  label.align = rtl ? 2 : 0;
  double lh = 0;
  measureText(ctx.cr, tr("settings.language"), label, nullptr, &lh);
  drawText(ctx.cr, rtl ? row.x + row.w - 6 * s : row.x + 6 * s, row.y + (row.h - lh) / 2, tr("settings.language"),
           label);

  std::string name = tr("settings.languageSystem");
  const std::string& code = settings::get().language;
  for (const i18n::Language& l : i18n::languages()) {
    if (!code.empty() && l.code == code) name = l.nativeName;
  }
  TextStyle value;
  value.size = 16 * s;
  value.bold = true;
  value.color = kAccent;
  value.align = rtl ? 0 : 2;
  value.fitWidth = col.w * 0.45;
  double vh = 0;
  measureText(ctx.cr, name, value, nullptr, &vh);
  drawText(ctx.cr, rtl ? row.x + 22 * s : row.x + row.w - 22 * s, row.y + (row.h - vh) / 2, name, value);
  drawChevron(ctx.cr, rtl ? row.x + 10 * s : row.x + row.w - 10 * s, row.y + row.h / 2, 13 * s, kTextSecondary);

  if (active && ctx.takeClick(row)) {
    diag::action("Einstellungen: Sprachliste");
    App::instance().screen = App::Language;
  }
}

void imageGroup(Page& p) {
  Ctx& ctx = p.ctx;
  settings::Data& d = settings::mutableData();
  p.col.y = groupHeading(ctx, p.col.rect(), p.col.y, tr("app.image"));

  p.col.y = sectionHead(ctx, p.col.rect(), p.col.y, tr("settings.quality"), tr("settings.qualityHint"));
  std::vector<std::string> labels;
  for (int32_t q : kQualityValues) labels.push_back(std::to_string(q));
  int q = segmentRow(ctx, p.col.rect(), &p.col.y, p.col.viewport(), labels, qualitySegment(d.jpegQuality),
                     "settings.quality");
  if (q >= 0) {
    d.jpegQuality = kQualityValues[q];
    diag::action("Einstellung: Qualitaet " + std::to_string(d.jpegQuality));
    p.changed = true;
  }

  p.col.y = sectionHead(ctx, p.col.rect(), p.col.y, tr("settings.outputFormat"), tr("settings.outputFormatHint"));
  const size_t formats = offeredOutputFormats(media::capabilities().encode).size();
  int f = choiceList(p, kFormats, formats, d.imageFormat, "settings.format", false);
  if (f >= 0) {
    d.imageFormat = static_cast<int32_t>(kFormats[f].value);
    diag::action("Einstellung: Ausgabeformat " + logName(kFormats[f]));
    p.changed = true;
  }
  if (d.imageFormat == settings::kFormatJpeg) {
    p.col.y = paragraph(ctx, p.col.rect(), tr("settings.jpegWarning"), p.col.y);
  }

  p.col.y = sectionHead(ctx, p.col.rect(), p.col.y + 8 * ctx.uiScale, tr("settings.fitTitle"), "");
  int fit = choiceList(p, kFits, std::size(kFits), d.imageFitMode, "settings.imageFit", true);
  if (fit >= 0) {
    d.imageFitMode = static_cast<int32_t>(kFits[fit].value);
    diag::action("Einstellung: Einpassen " + logName(kFits[fit]));
    p.changed = true;
  }

  if (d.imageFitMode == settings::kFitContain) {
    p.col.y = sectionHead(ctx, p.col.rect(), p.col.y + 8 * ctx.uiScale, tr("settings.padTitle"),
                          tr("settings.padHint"));
    int pad = choiceList(p, kPads, std::size(kPads), d.imagePadMode, "settings.imagePad", true);
    if (pad >= 0) {
      d.imagePadMode = static_cast<int32_t>(kPads[pad].value);
      diag::action("Einstellung: Rand " + logName(kPads[pad]));
      p.changed = true;
    }
  }
}

void videoGroup(Page& p) {
  Ctx& ctx = p.ctx;
  const double s = ctx.uiScale;
  settings::Data& d = settings::mutableData();
  p.col.y = groupHeading(ctx, p.col.rect(), p.col.y + 8 * s, tr("app.video"));

  p.col.y = sectionHead(ctx, p.col.rect(), p.col.y, tr("settings.resolution"), tr("settings.resolutionHint"));
  int r = choiceList(p, kResolutions, std::size(kResolutions), d.videoResolution, "settings.resolution", true);
  if (r >= 0) {
    d.videoResolution = static_cast<int32_t>(kResolutions[r].value);
    char line[64];
    std::snprintf(line, sizeof line, "Einstellung: Zielaufloesung %d", d.videoResolution);
    diag::action(line);
    p.changed = true;
  }

  p.col.y = sectionHead(ctx, p.col.rect(), p.col.y + 8 * s, tr("settings.bitrate"), tr("settings.bitrateHint"));
  int b = choiceList(p, kBitrates, std::size(kBitrates), d.videoBitrate, "settings.bitrate", true);
  if (b >= 0) {
    d.videoBitrate = kBitrates[b].value;
    char line[64];
    std::snprintf(line, sizeof line, "Einstellung: Bitrate %lld", static_cast<long long>(d.videoBitrate));
    diag::action(line);
    p.changed = true;
  }

  p.col.y = sectionHead(ctx, p.col.rect(), p.col.y + 8 * s, tr("settings.fadeDuration"), "");
  std::vector<std::string> labels(std::begin(kFadeLabels), std::end(kFadeLabels));
  int fade = segmentRow(ctx, p.col.rect(), &p.col.y, p.col.viewport(), labels, fadeSegment(d.videoFadeMs),
                        "settings.fade");
  if (fade >= 0) {
    d.videoFadeMs = kFadeValues[fade];
    diag::action("Einstellung: Blendendauer " + std::to_string(d.videoFadeMs));
    p.changed = true;
  }

  p.col.y = sectionHead(ctx, p.col.rect(), p.col.y + 8 * s, tr("settings.fitTitle"), "");
  int fit = choiceList(p, kFits, std::size(kFits), d.videoFitMode, "settings.videoFit", true);
  if (fit >= 0) {
    d.videoFitMode = static_cast<int32_t>(kFits[fit].value);
    diag::action("Einstellung: Video-Einpassen " + logName(kFits[fit]));
    p.changed = true;
  }
}

void resetButton(Page& p) {
  p.col.y += 24 * p.ctx.uiScale;
  if (framedButton(p.ctx, p.col.rect(), &p.col.y, p.col.viewport(), tr("settings.reset"), "settings.reset", false)) {
    diag::action("Einstellungen zuruecksetzen: Rueckfrage");
    showDialog(tr("settings.resetTitle"), tr("settings.resetBody"),
               {{tr("settings.resetCancel"), 0}, {tr("settings.resetConfirm"), 2}});
    g_resetAsked = true;
  }
}

// The answer to the reset question, on a frame after it was asked.
void collectResetAnswer() {
  if (!g_resetAsked || dialogOpen()) return;
  g_resetAsked = false;
  if (takeDialogResult() != 1) return;
  settings::Data& d = settings::mutableData();
  settings::Data fresh;
  fresh.language = d.language;
  d = fresh;
  settings::save();
  diag::action("Einstellungen zurueckgesetzt (Sprache bleibt)");
}

}  // namespace

void updateSettingsScreen(Ctx& ctx) {
  // Before drawing: the frame after the answer already shows the defaults.
  collectResetAnswer();
  bool closed = false;
  Rect content = overlayFrame(ctx, tr("settings.title"), &closed, "settings");
  bool changed = false;
  {
    Column col(ctx, content, &g_scroll);
    Page page{ctx, col};
    languageRow(page);
    imageGroup(page);
    videoGroup(page);
    resetButton(page);
    col.finish();
    changed = page.changed;
  }
  if (changed) settings::save();
  if (closed) App::instance().screen = App::Main;
}

}  // namespace ui
