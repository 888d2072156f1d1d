// The image sheets rotate, crop and adjust, and the crop frame on the stage.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "core/i18n.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "media/image.h"
#include "platform/log.h"
#include "screens/image_edit.h"
#include "screens/sheet_layout.h"
#include "screens/sheet_parts.h"
#include "screens/sheets.h"
#include "ui/draw.h"
#include "ui/gpu.h"
#include "ui/widgets.h"

namespace ui {

namespace {

using sheet::rowText;
using sheet::sizeLabel;
using sheet::slotFromRight;

// The angle slider falls onto a right angle or zero this close to it: a
// straightened photo usually wants exactly one of them.
constexpr double kSnapDegrees = 3.0;
// An angle or amount this small is no change.
constexpr double kNoChange = 0.01;
// Smallest crop, in image pixels.
constexpr int kMinCrop = 16;
// The adjust preview's long edge: large enough to judge, small enough to
// recompute within a frame.
constexpr int kProxyEdge = 900;
// Stage texture of the adjust preview (the editor screen draws it).
constexpr const char* kPreviewTexture = "stage:preview";

constexpr uint32_t kAccent = 0x5E9FD4;
constexpr uint32_t kText = 0xEDF1F4;

doc::Document& document() { return doc::Document::instance(); }

bool hasImage() {
  const doc::Document& d = document();
  return d.kind == media::MediaKind::Image && d.image.valid();
}

std::string degreesText(double angle) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.0f°", angle);
  return buf;
}

// "%.1f" for the log.
std::string angleLogText(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// --- Rotate ----------------------------------------------------------------------------

double snapAngle(double angle) {
  for (double target : {-180.0, -90.0, 0.0, 90.0, 180.0}) {
    if (std::fabs(angle - target) <= kSnapDegrees) return target;
  }
  return angle;
}

void flip(media::TransformOp op, const char* logText, const char* labelKey) {
  diag::action(logText);
  startImageEdit({"transform", i18n::tr(labelKey), i18n::tr("busy.flipping"), "errors.transform",
                  [op](const media::Image& img) { return media::transform(img, op); }, nullptr});
}

// --- Crop ------------------------------------------------------------------------------

// The crop rectangle as it applies to the current picture: the whole image
// when not set yet or no longer inside (the picture changed size).
EditorState::CropRect& currentCrop() {
  EditorState& st = editorState();
  const media::Image& img = document().image;
  EditorState::CropRect& c = st.cropRect;
  const bool inside = c.width > 0 && c.height > 0 && c.x >= 0 && c.y >= 0 && c.x + c.width <= img.width &&
                      c.y + c.height <= img.height;
  if (!inside) c = {0, 0, img.width, img.height};
  st.cropVersion = document().current;
  return c;
}

bool isWholeImage(const EditorState::CropRect& c) {
  const media::Image& img = document().image;
  return c.x == 0 && c.y == 0 && c.width == img.width && c.height == img.height;
}

// The crop rectangle at the press of the running drag; the drag applies the
// whole pointer movement since the press to it, so slow drags on a zoomed
// picture do not lose their sub-pixel steps.
struct CropDrag {
  EditorState::CropRect start;
  double pressX = 0;
  double pressY = 0;
};
CropDrag g_cropDrag;

// Applies a movement of (dx, dy) image pixels to the rectangle at the press.
EditorState::CropRect dragCrop(const EditorState::CropRect& c, int handle, int dx, int dy, int imgW, int imgH) {
  const int minW = std::min(kMinCrop, imgW);
  const int minH = std::min(kMinCrop, imgH);
  int left = c.x, top = c.y, right = c.x + c.width, bottom = c.y + c.height;
  if (handle == 0) {
    const int x = std::clamp(c.x + dx, 0, imgW - c.width);
    const int y = std::clamp(c.y + dy, 0, imgH - c.height);
    return {x, y, c.width, c.height};
  }
  if (handle == 1 || handle == 3) left = std::clamp(c.x + dx, 0, right - minW);
  if (handle == 2 || handle == 4) right = std::clamp(right + dx, left + minW, imgW);
  if (handle == 1 || handle == 2) top = std::clamp(c.y + dy, 0, bottom - minH);
  if (handle == 3 || handle == 4) bottom = std::clamp(bottom + dy, top + minH, imgH);
  return {left, top, right - left, bottom - top};
}

// --- Adjust ------------------------------------------------------------------------------

// The reduced copy the preview is computed from, and the version it shows.
struct Proxy {
  media::Image image;
  std::string versionPath;  // unique per version, unlike the index after an undo and a new edit
  int version = -1;
  uint64_t fingerprint = 0;  // of the picture: the same file opened again may hold another one
};
Proxy g_proxy;

// Size and a sparse sample of the pixels (FNV-1a over 64 × 64 points).
uint64_t fingerprint(const media::Image& img) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](uint64_t v) {
    h ^= v;
    h *= 1099511628211ull;
  };
  mix(static_cast<uint64_t>(img.width));
  mix(static_cast<uint64_t>(img.height));
  if (!img.valid()) return h;
  for (int i = 0; i < 64; ++i) {
    const uint8_t* row = img.row(static_cast<int>(static_cast<int64_t>(img.height - 1) * i / 63));
    for (int j = 0; j < 64; ++j) {
      const uint8_t* p = row + static_cast<size_t>(static_cast<int64_t>(img.width - 1) * j / 63) * 4;
      mix(uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24);
    }
  }
  return h;
}

bool anyAmount(const media::Adjust& a) {
  for (double v : {a.brightness, a.contrast, a.saturation, a.warmth, a.clarity, a.sharpness}) {
    if (std::fabs(v) > kNoChange) return true;
  }
  return false;
}

void clearPreview() {
  EditorState& st = editorState();
  st.preview = media::Image{};
  gpuDrop(kPreviewTexture);
}

void refreshPreview() {
  EditorState& st = editorState();
  st.previewDirty = false;
  if (!hasImage()) return;
  diag::Timed timed("Anpassen-Vorschau", 80);
  const doc::Document& d = document();
  const uint64_t print = fingerprint(d.image);
  if (g_proxy.version != d.current || g_proxy.versionPath != d.currentPath() || g_proxy.fingerprint != print ||
      !g_proxy.image.valid()) {
    // Made once per version, also when the sheet opens with nothing changed
    // yet: the first slider step then only adjusts the small copy.
    g_proxy.image = media::previewLongEdge(d.image, kProxyEdge);
    g_proxy.version = d.current;
    g_proxy.versionPath = d.currentPath();
    g_proxy.fingerprint = print;
  }
  if (!anyAmount(st.adjustAmounts)) {
    // Nothing to preview: the stage shows the full picture, not the proxy.
    clearPreview();
    return;
  }
  media::Image copy = g_proxy.image;
  media::applyAdjust(copy, st.adjustAmounts);
  st.preview = std::move(copy);
  gpuDrop(kPreviewTexture);
}

struct AdjustRow {
  const char* key;
  double media::Adjust::*field;
  const char* sliderId;
};
constexpr AdjustRow kAdjustRows[] = {
    {"adjust.brightness", &media::Adjust::brightness, "slider.brightness"},
    {"adjust.contrast", &media::Adjust::contrast, "slider.contrast"},
    {"adjust.saturation", &media::Adjust::saturation, "slider.saturation"},
    {"adjust.warmth", &media::Adjust::warmth, "slider.warmth"},
    {"adjust.clarity", &media::Adjust::clarity, "slider.clarity"},
    {"adjust.sharpness", &media::Adjust::sharpness, "slider.sharpness"},
};

}  // namespace

// --- Rotate sheet ------------------------------------------------------------------------

double sheetRotate(Ctx& ctx, double bottom) {
  pumpImageEdit();
  EditorState& st = editorState();
  const double s = ctx.uiScale;
  const double height = 160 * s;
  bool closed = false;
  const Rect in = sheetFrame(ctx, bottom, height, i18n::tr("editor.transform"), &closed, "sheet.rotate");
  const bool idle = !imageEditRunning() && hasImage();
  if (closed && !imageEditRunning()) {
    st.sheet = Sheet::None;
    return height;
  }

  // Angle row: label, slider, value.
  const Rect row1{in.x, in.y, in.w, 32 * s};
  rowText(ctx, {row1.x, row1.y, 110 * s, row1.h}, i18n::tr("transform.angle"));
  const Rect track{row1.x + 120 * s, row1.y, std::max(0.0, row1.w - 200 * s), row1.h};
  const double value = slider(ctx, track, st.rotateAngle, -180, 180, idle ? "slider.angle" : nullptr);
  if (idle && value != st.rotateAngle) st.rotateAngle = snapAngle(value);
  rowText(ctx, {track.x + track.w + 16 * s, row1.y, 64 * s, row1.h}, degreesText(st.rotateAngle), false, 2);

  // Result size and the buttons.
  const Rect row2{in.x, in.y + 52 * s, in.w, 40 * s};
  const media::Image& img = document().image;
  const media::Size inner = media::insideCrop(img.width, img.height, st.rotateAngle);
  rowText(ctx, {row2.x, row2.y, 160 * s, row2.h}, sizeLabel(inner.width, inner.height), true);
  const Rect buttons{row2.x + 170 * s, row2.y, std::max(0.0, row2.w - 170 * s), row2.h};
  const bool turned = std::fabs(st.rotateAngle) > kNoChange;
  if (plainButton(ctx, slotFromRight(buttons, 0, 4, 180 * s, 8 * s), i18n::tr("transform.flipH"), false, idle,
                  "sheet.flipH")) {
    flip(media::TransformOp::FlipH, "Spiegeln waagerecht", "transform.flipH");
  }
  if (plainButton(ctx, slotFromRight(buttons, 1, 4, 180 * s, 8 * s), i18n::tr("transform.flipV"), false, idle,
                  "sheet.flipV")) {
    flip(media::TransformOp::FlipV, "Spiegeln senkrecht", "transform.flipV");
  }
  if (plainButton(ctx, slotFromRight(buttons, 2, 4, 180 * s, 8 * s), i18n::tr("transform.reset"), false,
                  idle && turned, "sheet.reset")) {
    diag::action("Drehen zuruecksetzen");
    st.rotateAngle = 0;
  }
  if (primaryButton(ctx, slotFromRight(buttons, 3, 4, 180 * s, 8 * s), i18n::tr("transform.apply"),
                    idle && turned, "sheet.apply")) {
    const double angle = st.rotateAngle;
    diag::action("Drehen anwenden: " + angleLogText(angle));
    startImageEdit({"rotate", i18n::tr("editor.transform"), i18n::tr("busy.rotating"), "errors.transform",
                    [angle](const media::Image& src) { return media::rotate(src, angle); },
                    [] {
                      editorState().rotateAngle = 0;
                      editorState().sheet = Sheet::None;
                    }});
  }
  return height;
}

// --- Crop sheet and frame ---------------------------------------------------------------------

double sheetCrop(Ctx& ctx, double bottom) {
  pumpImageEdit();
  EditorState& st = editorState();
  const double s = ctx.uiScale;
  const double height = 120 * s;
  bool closed = false;
  const Rect in = sheetFrame(ctx, bottom, height, i18n::tr("crop.title"), &closed, "sheet.crop");
  if (closed && !imageEditRunning()) {
    st.sheet = Sheet::None;
    return height;
  }
  if (!hasImage()) return height;
  const bool idle = !imageEditRunning();
  const EditorState::CropRect c = currentCrop();

  const Rect row{in.x, in.y, in.w, std::min(in.h, 40 * s)};
  const Rect buttons{row.x + row.w - 2 * 150 * s - 8 * s, row.y, 2 * 150 * s + 8 * s, row.h};
  const std::string size = sizeLabel(c.width, c.height);
  rowText(ctx, {row.x, row.y, 130 * s, row.h}, size);
  rowText(ctx, {row.x + 140 * s, row.y, std::max(0.0, buttons.x - row.x - 156 * s), row.h}, i18n::tr("crop.hint"),
          true);
  if (plainButton(ctx, slotFromRight(buttons, 0, 2, 150 * s, 8 * s), i18n::tr("crop.cancel"), false,
                  idle && !isWholeImage(c), "sheet.reset")) {
    diag::action("Zuschnitt zuruecksetzen");
    st.cropRect = {0, 0, document().image.width, document().image.height};
  }
  if (primaryButton(ctx, slotFromRight(buttons, 1, 2, 150 * s, 8 * s), i18n::tr("crop.apply"),
                    idle && !isWholeImage(c), "sheet.apply")) {
    diag::action("Zuschneiden anwenden: " + size);
    startImageEdit({"cropTo", i18n::tr("editor.crop"), i18n::tr("busy.cropping"), "errors.crop",
                    [c](const media::Image& src) { return media::cropTo(src, c.x, c.y, c.width, c.height); },
                    [] {
                      EditorState& e = editorState();
                      e.sheet = Sheet::None;
                      e.cropRect = {};  // starts again from the whole image
                    }});
  }
  return height;
}

void drawCropOverlay(Ctx& ctx, const Rect& picture) {
  EditorState& st = editorState();
  if (picture.w < 4 || !hasImage()) return;
  const media::Image& img = document().image;
  EditorState::CropRect& c = currentCrop();
  const double scale = picture.w / img.width;
  const double scaleY = picture.h / img.height;
  const double s = ctx.uiScale;

  auto screenRect = [&](const EditorState::CropRect& r) {
    return Rect{picture.x + r.x * scale, picture.y + r.y * scaleY, r.width * scale, r.height * scaleY};
  };
  const Rect frame = screenRect(c);
  const double handle = 14 * s;
  const Rect corners[4] = {
      {frame.x - handle / 2, frame.y - handle / 2, handle, handle},
      {frame.x + frame.w - handle / 2, frame.y - handle / 2, handle, handle},
      {frame.x - handle / 2, frame.y + frame.h - handle / 2, handle, handle},
      {frame.x + frame.w - handle / 2, frame.y + frame.h - handle / 2, handle, handle},
  };

  // Input first, so the frame drawn below is where the pointer put it.
  if (ctx.in.pressed && !ctx.clickTaken && !imageEditRunning()) {
    int found = -1;
    for (int i = 0; i < 4 && found < 0; ++i) {
      if (corners[i].contains(ctx.in.mx, ctx.in.my)) found = i + 1;
    }
    if (found < 0 && frame.contains(ctx.in.mx, ctx.in.my)) found = 0;
    st.cropHandle = found;
    if (found >= 0) {
      diag::action("Zuschnitt gezogen");
      g_cropDrag = {c, ctx.in.mx, ctx.in.my};
      ctx.clickTaken = true;
    }
  } else if (st.cropHandle >= 0 && ctx.in.held) {
    const int dx = static_cast<int>(std::lround((ctx.in.mx - g_cropDrag.pressX) / scale));
    const int dy = static_cast<int>(std::lround((ctx.in.my - g_cropDrag.pressY) / scaleY));
    c = dragCrop(g_cropDrag.start, st.cropHandle, dx, dy, img.width, img.height);
    ctx.clickTaken = true;  // the pointer belongs to the frame until released
  }
  if (st.cropHandle >= 0 && (ctx.in.released || !ctx.in.held)) {
    st.cropHandle = -1;
    ctx.clickTaken = true;
  }

  const Rect r = screenRect(c);
  ctx.hit("crop.frame", r);
  cairo_t* cr = ctx.cr;
  // The four areas outside the frame.
  fillRect(cr, {picture.x, picture.y, picture.w, r.y - picture.y}, 0x000000, 0.55);
  fillRect(cr, {picture.x, r.y + r.h, picture.w, picture.y + picture.h - r.y - r.h}, 0x000000, 0.55);
  fillRect(cr, {picture.x, r.y, r.x - picture.x, r.h}, 0x000000, 0.55);
  fillRect(cr, {r.x + r.w, r.y, picture.x + picture.w - r.x - r.w, r.h}, 0x000000, 0.55);
  for (int i = 1; i <= 2; ++i) {
    const double fx = r.x + r.w * i / 3.0;
    const double fy = r.y + r.h * i / 3.0;
    drawLine(cr, fx, r.y, fx, r.y + r.h, s, kText, 0.25);
    drawLine(cr, r.x, fy, r.x + r.w, fy, s, kText, 0.25);
  }
  cairo_save(cr);
  cairo_rectangle(cr, r.x, r.y, r.w, r.h);
  setColor(cr, kAccent, 1);
  cairo_set_line_width(cr, 2 * s);
  cairo_stroke(cr);
  cairo_restore(cr);
  static constexpr const char* kHandleIds[4] = {"crop.handle.1", "crop.handle.2", "crop.handle.3", "crop.handle.4"};
  const double hx[4] = {r.x, r.x + r.w, r.x, r.x + r.w};
  const double hy[4] = {r.y, r.y, r.y + r.h, r.y + r.h};
  for (int i = 0; i < 4; ++i) {
    const Rect h{hx[i] - handle / 2, hy[i] - handle / 2, handle, handle};
    ctx.hit(kHandleIds[i], h);
    fillRoundedRect(cr, h, 3 * s, kAccent, 1);
  }
}

// --- Adjust sheet ------------------------------------------------------------------------------

double sheetAdjust(Ctx& ctx, double bottom) {
  pumpImageEdit();
  EditorState& st = editorState();
  const double s = ctx.uiScale;
  const double height = 298 * s;
  bool closed = false;
  const Rect in = sheetFrame(ctx, bottom, height, i18n::tr("editor.adjust"), &closed, "sheet.adjust");
  if (closed && !imageEditRunning()) {
    clearPreview();
    st.sheet = Sheet::None;
    return height;
  }
  const bool idle = !imageEditRunning() && hasImage();

  // Six rows on the left, the buttons in a column on the right.
  const double buttonW = std::min(180 * s, in.w / 4);
  const Rect rows{in.x, in.y, std::max(0.0, in.w - buttonW - 24 * s), in.h};
  const double rowH = rows.h / 6;
  for (size_t i = 0; i < std::size(kAdjustRows); ++i) {
    const AdjustRow& a = kAdjustRows[i];
    const Rect row{rows.x, rows.y + rowH * static_cast<double>(i), rows.w, rowH};
    rowText(ctx, {row.x, row.y, 130 * s, row.h}, i18n::tr(a.key));
    const Rect track{row.x + 140 * s, row.y, std::max(0.0, row.w - 140 * s - 64 * s), row.h};
    double& amount = st.adjustAmounts.*a.field;
    const double v = std::round(slider(ctx, track, amount, -100, 100, idle ? a.sliderId : nullptr));
    if (idle && v != amount) {
      amount = v;
      st.previewDirty = true;
    }
    rowText(ctx, {track.x + track.w + 12 * s, row.y, 52 * s, row.h}, std::to_string(static_cast<int>(amount)), false, 2);
  }
  if (st.previewDirty && idle) refreshPreview();

  const bool changed = anyAmount(st.adjustAmounts);
  const Rect column{in.x + in.w - buttonW, in.y, buttonW, in.h};
  if (plainButton(ctx, {column.x, column.y + column.h - 2 * 40 * s - 8 * s, column.w, 40 * s},
                  i18n::tr("adjust.reset"), false, idle && changed, "sheet.reset")) {
    diag::action("Anpassen zuruecksetzen");
    st.adjustAmounts = media::Adjust{};
    st.previewDirty = false;
    clearPreview();
  }
  if (primaryButton(ctx, {column.x, column.y + column.h - 40 * s, column.w, 40 * s}, i18n::tr("adjust.apply"),
                    idle && changed, "sheet.apply")) {
    diag::action("Anpassen anwenden");
    const media::Adjust amounts = st.adjustAmounts;
    startImageEdit({"applyAdjust (voll)", i18n::tr("editor.adjust"), i18n::tr("busy.adjusting"), "errors.adjust",
                    [amounts](const media::Image& src) { return media::adjusted(src, amounts); },
                    [] {
                      editorState().adjustAmounts = media::Adjust{};
                      editorState().previewDirty = false;
                      clearPreview();
                    }});
  }
  return height;
}

}  // namespace ui
