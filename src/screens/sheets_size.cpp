// The sheets that change the picture size: resize (by the long edge for an
// image, by the line count for a video) and format (a social platform's size).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "editor/social_formats.h"
#include "media/image.h"
#include "media/video.h"
#include "platform/log.h"
#include "screens/export.h"
#include "screens/image_edit.h"
#include "screens/sheet_layout.h"
#include "screens/sheet_parts.h"
#include "ui/widgets.h"

namespace ui {

namespace {

using sheet::rowText;
using sheet::sizeLabel;
using sheet::slotFromRight;

// The long-edge slider's lower end: smaller pictures are of no use.
constexpr int kMinLongEdge = 240;
// "resize.half" gives this at least.
constexpr int kHalfFloor = 240;
constexpr int kLongEdgeChips[] = {3840, 2560, 1920, 1080, 720};
constexpr int kVideoHeightChips[] = {2160, 1440, 1080, 720};
constexpr const char* kLongEdgeChipIds[] = {"resize.chip.3840", "resize.chip.2560", "resize.chip.1920",
                                            "resize.chip.1080", "resize.chip.720"};
constexpr const char* kVideoChipIds[] = {"resize.chip.2160", "resize.chip.1440", "resize.chip.1080",
                                         "resize.chip.720"};

// The format sheet's fit buttons, in the order shown.
struct FitChoice {
  const char* key;
  int mode;  // media::FitMode
  const char* id;
};
constexpr FitChoice kFits[] = {{"format.contain", settings::kFitContain, "format.fit.contain"},
                               {"format.cover", settings::kFitCover, "format.fit.cover"},
                               {"format.stretch", settings::kFitStretch, "format.fit.stretch"}};
struct PadChoice {
  const char* key;
  int mode;  // media::PadMode
  const char* id;
};
constexpr PadChoice kPads[] = {{"format.pad_black", settings::kPadBlack, "format.pad.black"},
                               {"format.pad_white", settings::kPadWhite, "format.pad.white"},
                               {"format.pad_blur", settings::kPadBlur, "format.pad.blur"}};

doc::Document& document() { return doc::Document::instance(); }

bool isImage() { return document().kind == media::MediaKind::Image && document().image.valid(); }
bool isVideo() { return document().kind == media::MediaKind::Video; }

int currentLongEdge() {
  const media::Image& img = document().image;
  return std::max(img.width, img.height);
}


// The whole work as one piece of the current file.
std::vector<media::Segment> wholeWork() { return {media::Segment{"", 0, document().videoInfo.durationMs}}; }

// --- Resize ---------------------------------------------------------------------------

void imageResize(Ctx& ctx, const Rect& in) {
  EditorState& st = editorState();
  const double s = ctx.uiScale;
  const int current = currentLongEdge();
  const int low = std::min(kMinLongEdge, current);
  if (st.longEdge <= 0 || st.longEdge > current) st.longEdge = current;
  st.longEdge = std::max(st.longEdge, low);
  const bool idle = !imageEditRunning();

  const Rect row1{in.x, in.y, in.w, 32 * s};
  rowText(ctx, {row1.x, row1.y, 110 * s, row1.h}, i18n::tr("resize.longEdge"));
  const Rect track{row1.x + 120 * s, row1.y, std::max(0.0, row1.w - 120 * s - 190 * s), row1.h};
  const double v = slider(ctx, track, st.longEdge, low, current, idle ? "slider.longEdge" : nullptr);
  if (idle) st.longEdge = std::clamp(static_cast<int>(std::lround(v)), low, current);
  const media::Image& img = document().image;
  // The result size as resizeLongEdge computes it (the longer side becomes the value).
  const bool wide = img.width >= img.height;
  const long other = std::lround(static_cast<double>(st.longEdge) * (wide ? img.height : img.width) /
                                 std::max(1, wide ? img.width : img.height));
  const int rw = wide ? st.longEdge : static_cast<int>(std::max(1L, other));
  const int rh = wide ? static_cast<int>(std::max(1L, other)) : st.longEdge;
  rowText(ctx, {track.x + track.w + 16 * s, row1.y, 174 * s, row1.h}, sizeLabel(rw, rh), true, 2);

  const Rect row2{in.x, in.y + 60 * s, in.w, 36 * s};
  double x = row2.x;
  for (size_t i = 0; i < std::size(kLongEdgeChips); ++i) {
    const int edge = kLongEdgeChips[i];
    if (edge >= current) continue;  // never enlarges: a chip at or above the size would do nothing
    const Rect r{x, row2.y + 2 * s, 64 * s, 32 * s};
    if (chip(ctx, r, std::to_string(edge), st.longEdge == edge, idle ? kLongEdgeChipIds[i] : nullptr) && idle) {
      diag::action("Groesse: " + std::to_string(edge) + " px");
      st.longEdge = edge;
    }
    x += r.w + 8 * s;
  }
  const int half = current <= 2 * kHalfFloor + 1 ? std::min(kHalfFloor, current) : current / 2;
  if (chip(ctx, {x, row2.y + 2 * s, 64 * s, 32 * s}, i18n::tr("resize.half"), st.longEdge == half && half != current,
           idle ? "resize.halfChip" : nullptr) &&
      idle) {
    diag::action("Groesse: 50 %");
    st.longEdge = half;
  }
  const Rect buttons{x + 80 * s, row2.y, std::max(0.0, row2.x + row2.w - x - 80 * s), row2.h};
  if (plainButton(ctx, slotFromRight(buttons, 0, 2, 150 * s, 8 * s), i18n::tr("resize.reset"), false,
                  idle && st.longEdge != current, "sheet.reset")) {
    diag::action("Groesse: zuruecksetzen");
    st.longEdge = current;
  }
  if (primaryButton(ctx, slotFromRight(buttons, 1, 2, 150 * s, 8 * s), i18n::tr("resize.apply"),
                    idle && st.longEdge != current, "sheet.apply")) {
    const int edge = st.longEdge;
    diag::action("Groesse anwenden: " + sizeLabel(rw, rh));
    startImageEdit({"resizeLongEdge", i18n::tr("editor.size"), i18n::tr("busy.resizing"), "errors.resize",
                    [edge](const media::Image& src) { return media::resizeLongEdge(src, edge); },
                    [] { editorState().longEdge = currentLongEdge(); }});
  }
}

void videoResize(Ctx& ctx, const Rect& in) {
  EditorState& st = editorState();
  const double s = ctx.uiScale;
  const media::VideoInfo& vi = document().videoInfo;
  const int shortSide = std::min(vi.width, vi.height);
  if (st.targetHeight >= shortSide) st.targetHeight = 0;

  const Rect row1{in.x, in.y, in.w, 36 * s};
  double x = row1.x;
  if (chip(ctx, {x, row1.y + 2 * s, 96 * s, 32 * s}, i18n::tr("resize.original"), st.targetHeight == 0,
           "resize.chip.original")) {
    diag::action("Groesse: Original");
    st.targetHeight = 0;
  }
  x += 104 * s;
  for (size_t i = 0; i < std::size(kVideoHeightChips); ++i) {
    const int h = kVideoHeightChips[i];
    if (h >= shortSide) continue;  // only sizes that make the video smaller
    const std::string text = std::to_string(h) + "p";
    if (chip(ctx, {x, row1.y + 2 * s, 72 * s, 32 * s}, text, st.targetHeight == h, kVideoChipIds[i])) {
      diag::action("Groesse: " + text);
      st.targetHeight = h;
    }
    x += 80 * s;
  }
  int w = vi.width, h = vi.height;
  if (st.targetHeight > 0) media::resolutionToSize(st.targetHeight, vi.width, vi.height, &w, &h);
  const std::string size = sizeLabel(w, h);
  const Rect row2{in.x, in.y + 60 * s, in.w, 36 * s};
  rowText(ctx, {row2.x, row2.y, std::max(0.0, row2.w - 170 * s), row2.h}, i18n::tr("resize.result") + "  " + size);
  if (primaryButton(ctx, slotFromRight(row2, 0, 1, 150 * s, 8 * s), i18n::tr("resize.apply"),
                    w != vi.width || h != vi.height, "sheet.apply")) {
    diag::action("Groesse anwenden: " + size);
    applyVideoToWork(wholeWork(), w, h, i18n::tr("editor.size"), i18n::tr("busy.resizing"));
  }
}

// --- Format -----------------------------------------------------------------------------

std::vector<std::string> platformNames() {
  std::vector<std::string> names;
  for (const formats::Platform& p : formats::platforms()) names.emplace_back(p.name);
  return names;
}

std::vector<std::string> presetLabels(const formats::Platform& p) {
  std::vector<std::string> labels;
  for (const formats::Preset& preset : p.presets) labels.push_back(formats::presetLabel(preset));
  return labels;
}

void fitRow(Ctx& ctx, const Rect& row, bool image, bool enabled) {
  const double s = ctx.uiScale;
  settings::Data& data = settings::mutableData();
  int32_t& fit = image ? data.imageFitMode : data.videoFitMode;
  double x = row.x;
  for (const FitChoice& f : kFits) {
    const std::string label = i18n::tr(f.key);
    if (plainButton(ctx, {x, row.y, 110 * s, row.h}, label, fit == f.mode, enabled, f.id)) {
      diag::action("Anpassung: " + label);
      fit = f.mode;
      settings::save();
    }
    x += 118 * s;
  }
  if (!image) return;
  x += 16 * s;
  rowText(ctx, {x, row.y, 80 * s, row.h}, i18n::tr("format.pad"), true);
  x += 88 * s;
  // The border only shows when the picture is fitted whole.
  const bool padUsed = enabled && data.imageFitMode == settings::kFitContain;
  for (const PadChoice& p : kPads) {
    const std::string label = i18n::tr(p.key);
    if (plainButton(ctx, {x, row.y, 96 * s, row.h}, label, data.imagePadMode == p.mode, padUsed, p.id)) {
      diag::action("Rand: " + label);
      data.imagePadMode = p.mode;
      settings::save();
    }
    x += 104 * s;
  }
}

}  // namespace

double sheetResize(Ctx& ctx, double bottom) {
  pumpImageEdit();
  EditorState& st = editorState();
  const double s = ctx.uiScale;
  const double height = 180 * s;
  std::string title;
  if (isImage()) {
    title = i18n::tr("resize.title", {{"width", std::to_string(document().image.width)},
                                      {"height", std::to_string(document().image.height)}});
  } else {
    title = i18n::tr("resize.title", {{"width", std::to_string(document().videoInfo.width)},
                                      {"height", std::to_string(document().videoInfo.height)}});
  }
  bool closed = false;
  const Rect in = sheetFrame(ctx, bottom, height, title, &closed, "sheet.resize");
  if (closed && !imageEditRunning()) {
    st.sheet = Sheet::None;
    return height;
  }
  if (isImage()) {
    imageResize(ctx, in);
  } else if (isVideo()) {
    videoResize(ctx, in);
  }
  return height;
}

double sheetFormat(Ctx& ctx, double bottom) {
  pumpImageEdit();
  EditorState& st = editorState();
  const double s = ctx.uiScale;
  const double height = 190 * s;
  bool closed = false;
  const Rect in = sheetFrame(ctx, bottom, height, i18n::tr("format.title"), &closed, "sheet.format");
  if (closed && !imageEditRunning()) {
    st.platformListOpen = st.presetListOpen = false;
    st.sheet = Sheet::None;
    return height;
  }
  const bool image = isImage();
  if (!image && !isVideo()) return height;
  const bool idle = !imageEditRunning();

  const std::vector<formats::Platform>& all = formats::platforms();
  st.platformIndex = formats::clampIndex(st.platformIndex, static_cast<int>(all.size()));
  const formats::Platform& platform = all[static_cast<size_t>(st.platformIndex)];
  st.presetIndex = formats::clampIndex(st.presetIndex, static_cast<int>(platform.presets.size()));
  const formats::Preset& preset = platform.presets[static_cast<size_t>(st.presetIndex)];
  const std::string presetText = formats::presetLabel(preset);
  const std::string size = sizeLabel(preset.width, preset.height);

  // Row 1: platform and format dropdowns (drawn last: their lists cover row 2), the size.
  const Rect row1{in.x, in.y, in.w, 36 * s};
  const double labelW = 90 * s;
  const double boxW = std::max(0.0, std::min(300 * s, (row1.w - 2 * labelW - 200 * s) / 2));
  const Rect platformBox{row1.x + labelW, row1.y, boxW, row1.h};
  const Rect presetBox{platformBox.x + boxW + 16 * s + labelW, row1.y, boxW, row1.h};
  rowText(ctx, {row1.x, row1.y, labelW - 8 * s, row1.h}, i18n::tr("format.platform"));
  rowText(ctx, {platformBox.x + boxW + 16 * s, row1.y, labelW - 8 * s, row1.h}, i18n::tr("format.format"));
  rowText(ctx, {presetBox.x + boxW + 16 * s, row1.y, std::max(0.0, row1.x + row1.w - presetBox.x - boxW - 16 * s), row1.h},
          size, true, 2);

  // Row 2: fit and border, apply.
  const Rect row2{in.x, in.y + 56 * s, in.w, 40 * s};
  // An open list lies over this row: its clicks belong to the list.
  const bool listOpen = st.platformListOpen || st.presetListOpen;
  fitRow(ctx, {row2.x, row2.y, std::max(0.0, row2.w - 170 * s), row2.h}, image, !listOpen);
  const std::string applyText = i18n::tr(image ? "resize.apply" : "editor.export");
  if (primaryButton(ctx, slotFromRight(row2, 0, 1, 150 * s, 8 * s), applyText, idle && !listOpen, "sheet.apply")) {
    diag::action("Format anwenden: " + presetText + " " + size);
    const int w = preset.width;
    const int h = preset.height;
    if (image) {
      const auto fit = static_cast<media::FitMode>(settings::get().imageFitMode);
      const auto pad = static_cast<media::PadMode>(settings::get().imagePadMode);
      startImageEdit({"resizeTo", i18n::tr("editor.format"), i18n::tr("busy.formatting"), "errors.format",
                      [w, h, fit, pad](const media::Image& src) { return media::resizeTo(src, w, h, fit, pad); },
                      [] { editorState().sheet = Sheet::None; }});
    } else {
      st.sheet = Sheet::None;
      applyVideoToWork(wholeWork(), w, h, i18n::tr("editor.format"), i18n::tr("busy.formatting"));
    }
  }

  // The dropdowns last, so an open list takes the clicks over row 2.
  const int chosenPreset = dropdown(ctx, presetBox, presetLabels(platform), st.presetIndex, &st.presetListOpen,
                                    idle ? "format.preset" : nullptr);
  if (chosenPreset >= 0 && idle) {
    st.presetIndex = chosenPreset;
    diag::action("Format: " + formats::presetLabel(platform.presets[static_cast<size_t>(chosenPreset)]));
  }
  const int chosenPlatform =
      dropdown(ctx, platformBox, platformNames(), st.platformIndex, &st.platformListOpen, idle ? "format.platform" : nullptr);
  if (chosenPlatform >= 0 && idle) {
    st.platformIndex = chosenPlatform;
    st.presetIndex = 0;
    st.presetListOpen = false;
    diag::action(std::string("Plattform: ") + all[static_cast<size_t>(chosenPlatform)].name);
  }
  return height;
}

}  // namespace ui
