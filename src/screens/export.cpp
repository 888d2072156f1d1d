// The export sheet and save-as. The job itself is in export_job.cpp.
#include "screens/export.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "platform/filedialog_portal.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "screens/save_image.h"
#include "screens/sheet_parts.h"
#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/widgets.h"

namespace ui {

namespace {

constexpr uint32_t kTextSecondary = 0x8E9AA5;
constexpr int kResolutionChips[] = {2160, 1440, 1080, 720, 480};
constexpr long long kRateChips[] = {2000000, 5000000, 10000000, 20000000};
// Sound is estimated at the AAC rate on top of the picture's bit rate.
constexpr double kSoundBitRate = 128000;

const std::vector<media::EncoderInfo>* g_encoderOverride = nullptr;
int g_plannedWidth = 0;
int g_plannedHeight = 0;
// The image groups' height in the last frame: the sheet's height is known
// only after they are drawn.
double g_imageGroupsHeight = 150;

const std::vector<media::EncoderInfo>& encoders() {
  return g_encoderOverride ? *g_encoderOverride : media::availableEncoders();
}

media::EncoderInfo planned(const std::string& preferred) {
  const std::vector<media::EncoderInfo>& list = encoders();
  if (list.empty()) return {};
  for (const media::EncoderInfo& e : list) {
    if (!preferred.empty() && e.name == preferred) return e;
  }
  return list.front();
}

const char* extensionOf(const media::EncoderInfo& e) { return e.container == "webm" ? ".webm" : ".mp4"; }

std::string sizeLabel(int w, int h) {
  char text[48];
  std::snprintf(text, sizeof text, "%d × %d", w, h);
  return text;
}

std::string codecLabel(const media::EncoderInfo& e) { return e.codec == "vp9" ? "VP9" : "H.264"; }

TextStyle labelStyle(const Ctx& ctx) {
  TextStyle t;
  t.size = 13 * ctx.uiScale;
  t.color = kTextSecondary;
  return t;
}

// One row of chips from x, each as wide as its label; the index clicked or −1.
int chipRow(Ctx& ctx, double x, double y, const std::vector<std::string>& labels, int selected,
            const std::vector<std::string>& ids) {
  const double s = ctx.uiScale;
  TextStyle t;
  t.size = 13 * s;
  int clicked = -1;
  for (size_t i = 0; i < labels.size(); ++i) {
    double w = 0;
    double h = 0;
    measureText(ctx.cr, labels[i], t, &w, &h);
    const Rect r{x, y, w + 28 * s, 30 * s};
    if (chip(ctx, r, labels[i], static_cast<int>(i) == selected, ids[i].c_str())) clicked = static_cast<int>(i);
    x += r.w + 8 * s;
  }
  return clicked;
}

void formatGroup(Ctx& ctx, double x, double y) {
  settings::Data& cfg = settings::mutableData();
  const media::EncoderInfo current = planned(cfg.videoEncoder);
  std::vector<std::string> containers;
  for (const char* c : {"mp4", "webm"}) {
    for (const media::EncoderInfo& e : encoders()) {
      if (e.container == c) {
        containers.push_back(c);
        break;
      }
    }
  }
  std::vector<std::string> labels;
  std::vector<std::string> ids;
  int selected = -1;
  for (size_t i = 0; i < containers.size(); ++i) {
    labels.push_back(containers[i] == "mp4" ? "MP4 · H.264" : "WebM · VP9");
    ids.push_back("export.format." + containers[i]);
    if (containers[i] == current.container) selected = static_cast<int>(i);
  }
  drawText(ctx.cr, x, y, i18n::tr("info.format"), labelStyle(ctx));
  const int c = chipRow(ctx, x, y + 20 * ctx.uiScale, labels, selected, ids);
  if (c < 0 || c == selected) return;
  cfg.videoEncoder.clear();
  const std::vector<media::EncoderInfo>& list = encoders();
  if (!list.empty() && list.front().container != containers[c]) {
    for (const media::EncoderInfo& e : list) {
      if (e.container == containers[c]) {
        cfg.videoEncoder = e.name;
        break;
      }
    }
  }
  settings::save();
  diag::action("Export-Format: " + labels[c]);
}

void resolutionGroup(Ctx& ctx, double x, double y, int shortSide) {
  settings::Data& cfg = settings::mutableData();
  std::vector<std::string> labels{i18n::tr("resize.original")};
  std::vector<std::string> ids{"export.res.0"};
  std::vector<int> values{0};
  int selected = 0;
  for (int r : kResolutionChips) {
    if (r >= shortSide) continue;
    labels.push_back(std::to_string(r) + "p");
    ids.push_back("export.res." + std::to_string(r));
    values.push_back(r);
    if (cfg.videoResolution == r) selected = static_cast<int>(values.size()) - 1;
  }
  drawText(ctx.cr, x, y, i18n::tr("settings.resolution"), labelStyle(ctx));
  const int c = chipRow(ctx, x, y + 20 * ctx.uiScale, labels, selected, ids);
  if (c < 0) return;
  cfg.videoResolution = values[c];
  settings::save();
  diag::action(values[c] == 0 ? std::string("Export-Aufloesung: Original") : "Export-Aufloesung: " + labels[c]);
}

void bitRateGroup(Ctx& ctx, double x, double y) {
  settings::Data& cfg = settings::mutableData();
  std::vector<std::string> labels{i18n::tr("settings.bitrateAuto")};
  std::vector<std::string> ids{"export.rate.0"};
  std::vector<long long> values{0};
  int selected = 0;
  for (long long r : kRateChips) {
    labels.push_back(std::to_string(r / 1000000) + " Mbit/s");
    ids.push_back("export.rate." + std::to_string(r));
    values.push_back(r);
    if (cfg.videoBitrate == r) selected = static_cast<int>(values.size()) - 1;
  }
  drawText(ctx.cr, x, y, i18n::tr("settings.bitrate"), labelStyle(ctx));
  const int c = chipRow(ctx, x, y + 20 * ctx.uiScale, labels, selected, ids);
  if (c < 0) return;
  cfg.videoBitrate = values[c];
  settings::save();
  diag::action("Export-Bitrate: " + labels[c]);
}

}  // namespace

std::string exportSummary(const doc::Document& d) {
  const settings::Data& cfg = settings::get();
  if (d.kind != media::MediaKind::Video) return sizeLabel(d.imageInfo.width, d.imageInfo.height);
  int w = 0;
  int h = 0;
  media::resolutionToSize(cfg.videoResolution, d.videoInfo.width, d.videoInfo.height, &w, &h);
  std::string text = sizeLabel(w, h);
  const media::EncoderInfo e = planned(cfg.videoEncoder);
  if (!e.name.empty()) text += "   ·   " + codecLabel(e) + (e.hardware ? " (GPU)" : "");
  if (cfg.videoBitrate > 0) {
    const double mb = (static_cast<double>(cfg.videoBitrate) + kSoundBitRate) * (d.videoInfo.durationMs / 1000.0) *
                      0.125 / 1000000.0;
    char est[48];
    std::snprintf(est, sizeof est, "   ·   ≈ %.0f MB", mb);
    text += est;
  }
  return text;
}

double sheetExport(Ctx& ctx, double bottom) {
  const double s = ctx.uiScale;
  const doc::Document& d = doc::Document::instance();
  const bool video = d.kind == media::MediaKind::Video;
  // Groups, summary line and button, laid out from the top of the inner area.
  const double groupH = 62 * s;
  const double groupsH = video ? 3 * groupH : g_imageGroupsHeight;
  const double height = 52 * s + groupsH + 30 * s + 44 * s + 16 * s;
  bool closed = false;
  const Rect inner = sheetFrame(ctx, bottom, height, i18n::tr(video ? "editor.export" : "editor.save"), &closed,
                                "sheet.export");
  if (closed) {
    editorState().sheet = Sheet::None;
    return height;
  }
  double y = inner.y;
  if (video) {
    formatGroup(ctx, inner.x, y);
    resolutionGroup(ctx, inner.x, y + groupH, std::min(d.videoInfo.width, d.videoInfo.height));
    bitRateGroup(ctx, inner.x, y + 2 * groupH);
    y += 3 * groupH;
  } else {
    const double used = imageExportGroups(ctx, inner.x, y, inner.w);
    if (used > 0) g_imageGroupsHeight = used;
    y += g_imageGroupsHeight;
  }
  TextStyle summary = labelStyle(ctx);
  summary.color = 0xEDF1F4;
  ctx.hit("export.summary", Rect{inner.x, y, inner.w, 22 * s});
  drawText(ctx.cr, inner.x, y, exportSummary(d), summary);
  const Rect button{inner.x, inner.y + inner.h - 44 * s, inner.w, 44 * s};
  if (primaryButton(ctx, button, i18n::tr(video ? "editor.export" : "editor.save"), true, "export.go")) {
    doSaveAs(ctx);
  }
  return height;
}

std::string suggestedName(const std::string& title, int versionIndex, const std::string& extension) {
  const size_t dot = title.rfind('.');
  const std::string stem = dot == std::string::npos ? title : title.substr(0, dot);
  return stem + "_v" + std::to_string(versionIndex + 1) + extension;
}

void plannedSaveSize(int* width, int* height) {
  if (width) *width = g_plannedWidth;
  if (height) *height = g_plannedHeight;
}

void setExportEncodersForTesting(const std::vector<media::EncoderInfo>* list) { g_encoderOverride = list; }

void doSaveAs(Ctx& ctx) {
  const doc::Document& d = doc::Document::instance();
  if (d.kind != media::MediaKind::Video) {
    saveImageAs(ctx);
    return;
  }
  const settings::Data& cfg = settings::get();
  const media::EncoderInfo encoder = planned(cfg.videoEncoder);
  if (encoder.name.empty()) {
    showDialog(i18n::tr("errors.title"), i18n::tr("error.noEncoder"), {{i18n::tr("errors.closeConfirm"), 1}});
    return;
  }
  const std::string ext = extensionOf(encoder);
  const std::string suggestion = suggestedName(d.title(), d.current, ext);
  const std::vector<platform::FileFilter> filters{{i18n::tr("app.video"), {"*" + ext}}};
  media::resolutionToSize(cfg.videoResolution, d.videoInfo.width, d.videoInfo.height, &g_plannedWidth,
                          &g_plannedHeight);
  EditorState& st = editorState();
  st.dialogPurpose = DialogPurpose::ExportVideo;
  if (const char* to = std::getenv("KORVELLE_SAVE_TO")) {
    diag::write("file", std::string("KORVELLE_SAVE_TO: ") + to);
    platform::setForcedDialogResult(paths::splitPathList(to));
    return;
  }
  diag::write("file", "Speichern-Dialog, Vorschlag " + suggestion);
  platform::startSaveDialog(i18n::tr("save.title"), filters, settings::get().lastSaveDir, suggestion);
}

}  // namespace ui
