// The sheets that change a video's length or timeline and the editor's lists:
// cut, effects, info and more.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "screens/export.h"
#include "screens/router.h"
#include "screens/sheet_parts.h"
#include "screens/sheets_video.h"
#include "ui/dialog.h"
#include "ui/draw.h"
#include "ui/widgets.h"

namespace ui {

namespace {

constexpr uint32_t kText = 0xEDF1F4;
constexpr uint32_t kTextSecondary = 0x8E9AA5;
constexpr uint32_t kHover = 0x2F3944;
// A placed effect's length when the settings give none.
constexpr double kDefaultFadeMs = 500;
// Pieces shorter than this at the ends of a removed range are left out.
constexpr double kEdgeMs = 1.0;

TextStyle hintStyle(const Ctx& ctx, double wrap) {
  TextStyle t;
  t.size = 13 * ctx.uiScale;
  t.color = kTextSecondary;
  t.wrapWidth = wrap;
  return t;
}

// Height of a hint wrapped to the sheet's inner width.
double hintHeight(Ctx& ctx, const std::string& text) {
  double w = 0;
  double h = 0;
  measureText(ctx.cr, text, hintStyle(ctx, ctx.w - 64 * ctx.uiScale), &w, &h);
  return h;
}

std::string sizeText(int w, int h) {
  char text[48];
  std::snprintf(text, sizeof text, "%d × %d", w, h);
  return text;
}

const char* effectLogName(int kind) {
  switch (kind) {
    case media::Fade::In: return "Einblenden";
    case media::Fade::Out: return "Ausblenden";
    default: return "Ueberblenden";
  }
}

double fileMegabytes(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<double>(st.st_size) / 1e6;
}

}  // namespace

// --- Cut -------------------------------------------------------------------------------

std::vector<media::Segment> removeRangeSegments(double from, double to, double duration) {
  std::vector<media::Segment> segments;
  if (from > kEdgeMs) segments.push_back({"", 0, from});
  if (to < duration - kEdgeMs) segments.push_back({"", to, duration});
  return segments;
}

double sheetCut(Ctx& ctx, double bottom) {
  const double s = ctx.uiScale;
  EditorState& st = editorState();
  const double duration = doc::Document::instance().videoInfo.durationMs;
  const std::string markHint = i18n::tr("editor.markRange");
  const std::string removeHint = i18n::tr("cut.removeHint");
  const double markH = hintHeight(ctx, markHint);
  const double removeH = hintHeight(ctx, removeHint);
  const double height = 150 * s + markH + removeH;
  bool closed = false;
  const Rect inner = sheetFrame(ctx, bottom, height, i18n::tr("editor.cut"), &closed, "sheet.cut");
  if (closed) {
    st.sheet = Sheet::None;
    return height;
  }
  double from = 0;
  double to = 0;
  const bool range = cutRange(st, duration, &from, &to);
  TextStyle value;
  value.size = 15 * s;
  value.bold = true;
  value.color = kText;
  const std::string times = formatTimeMs(from) + "  –  " + formatTimeMs(to);
  ctx.hit("cut.range", Rect{inner.x, inner.y, inner.w, 22 * s});
  drawText(ctx.cr, inner.x, inner.y, range ? times : "—", value);
  double y = inner.y + 26 * s;
  if (!range) {
    ctx.hit("cut.markHint", Rect{inner.x, y, inner.w, markH});
    drawText(ctx.cr, inner.x, y, markHint, hintStyle(ctx, inner.w));
  }
  y += markH + 8 * s;
  const double gap = 8 * s;
  const double bw = (inner.w - 2 * gap) / 3;
  const Rect keepR{inner.x, y, bw, 44 * s};
  const Rect removeR{inner.x + bw + gap, y, bw, 44 * s};
  const Rect resetR{inner.x + 2 * (bw + gap), y, bw, 44 * s};
  const std::string joined = formatTimeMs(from) + "–" + formatTimeMs(to);
  if (primaryButton(ctx, keepR, i18n::tr("cut.keep"), range, "sheet.apply")) {
    diag::action("Schneiden: behalten " + joined);
    if (applyVideoToWork({{"", from, to}}, 0, 0, i18n::tr("editor.cut"), i18n::tr("busy.cutting"))) {
      st.markInMs = st.markOutMs = -1;  // the markers belong to the old timeline
    }
  }
  if (plainButton(ctx, removeR, i18n::tr("cut.remove"), false, range, "cut.remove")) {
    diag::action("Schneiden: herausschneiden " + joined);
    const std::vector<media::Segment> segments = removeRangeSegments(from, to, duration);
    if (segments.empty()) {
      diag::write("ui", "Herausschneiden abgelehnt: der Bereich ist das ganze Video");
      showDialog(i18n::tr("errors.nothingLeftTitle"), i18n::tr("errors.nothingLeftBody"),
                 {{i18n::tr("errors.closeConfirm"), 1}});
    } else if (applyVideoToWork(segments, 0, 0, i18n::tr("editor.cut"), i18n::tr("busy.cutting"))) {
      st.markInMs = st.markOutMs = -1;
    }
  }
  if (plainButton(ctx, resetR, i18n::tr("cut.reset"), false, st.markInMs >= 0 || st.markOutMs >= 0,
                  "cut.reset")) {
    diag::action("Marken aufgehoben");
    st.markInMs = st.markOutMs = -1;
  }
  ctx.hit("cut.removeHint", Rect{removeR.x, y + 52 * s, inner.w - removeR.x + inner.x, removeH});
  drawText(ctx.cr, inner.x, y + 52 * s, removeHint, hintStyle(ctx, inner.w));
  return height;
}

// --- Effects -----------------------------------------------------------------------------

double placedFadeLengthMs() {
  const int32_t ms = settings::get().videoFadeMs;
  return ms > 0 ? ms : kDefaultFadeMs;
}

double sheetEffects(Ctx& ctx, double bottom) {
  const double s = ctx.uiScale;
  EditorState& st = editorState();
  const std::string hint = i18n::tr("effects.hint");
  const double hintH = hintHeight(ctx, hint);
  const double height = 168 * s + hintH;
  bool closed = false;
  const Rect inner = sheetFrame(ctx, bottom, height, i18n::tr("effects.title"), &closed, "sheet.effects");
  if (closed) {
    st.sheet = Sheet::None;
    return height;
  }
  static const char* const kKinds[] = {"effects.fadeIn", "effects.fadeOut", "effects.cross"};
  const double gap = 8 * s;
  const double third = (inner.w - 2 * gap) / 3;
  for (int k = 0; k < 3; ++k) {
    const Rect r{inner.x + k * (third + gap), inner.y, third, 36 * s};
    if (!plainButton(ctx, r, i18n::tr(kKinds[k]), st.armedKind == k, true, kKinds[k])) continue;
    if (st.armedKind == k) {
      st.armedKind = -1;
      diag::action("Effekt abgelegt");
    } else {
      st.armedKind = k;
      diag::action(std::string("Effekt in der Hand: ") + effectLogName(k));
    }
  }
  const double y = inner.y + 46 * s;
  const double half = (inner.w - gap) / 2;
  const bool covered = std::any_of(st.effects.begin(), st.effects.end(),
                                   [&](const media::Fade& f) { return effectCovers(f, st.playheadMs); });
  if (primaryButton(ctx, Rect{inner.x, y, half, 44 * s}, i18n::tr("effects.place"), st.armedKind >= 0,
                    "effects.place")) {
    st.effects.push_back(media::Fade{st.armedKind, st.playheadMs, placedFadeLengthMs()});
    diag::action(std::string("Effekt gesetzt (Knopf): ") + effectLogName(st.armedKind) + " bei " +
                 formatTimeMs(st.playheadMs));
  }
  if (plainButton(ctx, Rect{inner.x + half + gap, y, half, 44 * s}, i18n::tr("effects.remove"), false, covered,
                  "effects.remove")) {
    const auto it = std::find_if(st.effects.begin(), st.effects.end(),
                                 [&](const media::Fade& f) { return effectCovers(f, st.playheadMs); });
    if (it != st.effects.end()) {
      st.effects.erase(it);
      diag::action("Effekt entfernt (Knopf) bei " + formatTimeMs(st.playheadMs));
    }
  }
  const Rect hintR{inner.x, y + 54 * s, inner.w, hintH};
  ctx.hit("effects.hint", hintR);
  drawText(ctx.cr, hintR.x, hintR.y, hint, hintStyle(ctx, inner.w));
  return height;
}

// --- Info --------------------------------------------------------------------------------

namespace {

// A container for people: the demuxer answers with all the names it reads
// ("mov,mp4,m4a,3gp,3g2,mj2"); the file's own extension when it is one of
// them, else the first, in capitals.
std::string containerLabel(const std::string& demuxer, const std::string& path) {
  if (demuxer.empty()) return "";
  std::string ext;
  const size_t dot = path.find_last_of("./");
  if (dot != std::string::npos && path[dot] == '.') ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string list = "," + demuxer + ",";
  std::string name = !ext.empty() && list.find("," + ext + ",") != std::string::npos
                         ? ext
                         : demuxer.substr(0, demuxer.find(','));
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> infoRows(const doc::Document& d) {
  std::vector<std::pair<std::string, std::string>> rows;
  const auto add = [&](const char* key, const std::string& value) {
    if (!value.empty()) rows.emplace_back(key, value);
  };
  char buf[96];
  const std::string yes = i18n::tr("info.yes");
  const std::string no = i18n::tr("info.no");
  if (d.kind == media::MediaKind::Unknown) return rows;
  add("info.name", d.title());
  const double mb = fileMegabytes(d.currentPath());
  std::snprintf(buf, sizeof buf, "%.1f MB", mb);
  const std::string sizeMb = mb >= 0 ? buf : "";
  if (d.kind == media::MediaKind::Video) {
    const media::VideoInfo& v = d.videoInfo;
    if (v.width > 0 && v.height > 0) add("info.dimensions", sizeText(v.width, v.height));
    if (v.durationMs > 0) add("info.duration", formatTimeMs(v.durationMs));
    if (v.fps > 0) {
      std::snprintf(buf, sizeof buf, "%.2f", v.fps);
      add("info.frameRate", buf);
    }
    std::string format = containerLabel(v.container, d.currentPath());
    if (!v.videoCodec.empty()) format += (format.empty() ? "" : " · ") + v.videoCodec;
    if (!v.dynamicRange.empty()) {
      format += " · HDR " + v.dynamicRange;
      if (v.bitDepth > 8) format += " " + std::to_string(v.bitDepth) + "-bit";
    }
    add("info.format", format);
    add("info.audio", v.hasAudio ? (v.audioCodec.empty() ? yes : v.audioCodec) : no);
    add("info.rotation", std::to_string(v.rotation) + "°");
    if (v.bitRate > 0) {
      std::snprintf(buf, sizeof buf, "%.1f Mbit/s", static_cast<double>(v.bitRate) / 1e6);
      add("info.bitrate", buf);
    }
    add("info.size", sizeMb);
    const media::EncoderInfo e = media::plannedEncoder(settings::get().videoEncoder);
    add("info.encoder", e.name);
    std::string gpu;
    for (const media::EncoderInfo& c : media::availableEncoders()) {
      if (!c.hardware) continue;
      gpu += (gpu.empty() ? "" : " · ") + c.name + (c.device.empty() ? "" : " " + c.device);
    }
    add("info.gpu", gpu.empty() ? no : gpu);
  } else {
    const media::ImageInfo& i = d.imageInfo;
    if (i.width > 0 && i.height > 0) add("info.dimensions", sizeText(i.width, i.height));
    add("info.format", i.format);
    if (i.orientation > 1) add("info.rotation", "EXIF " + std::to_string(i.orientation));
    std::string camera = i.make;
    if (!i.model.empty()) camera += (camera.empty() ? "" : " ") + i.model;
    add("info.camera", camera);
    if (i.iso > 0 && i.fNumber > 0 && i.focalLength > 0) {
      std::snprintf(buf, sizeof buf, "ISO %d · f/%.1f · %.0f mm", i.iso, i.fNumber, i.focalLength);
      add("info.exposure", buf);
    }
    add("info.date", i.dateTime);
    add("info.size", sizeMb);
  }
  std::string cpu;
  if (const unsigned n = std::thread::hardware_concurrency()) cpu = std::to_string(n) + " CPU";
  if (const uint64_t ram = platform::totalRamBytes()) {
    std::snprintf(buf, sizeof buf, "%.1f GB RAM", static_cast<double>(ram) / (1024.0 * 1024.0 * 1024.0));
    cpu += (cpu.empty() ? "" : " · ") + std::string(buf);
  }
  add("info.cpu", cpu);
  return rows;
}

double sheetInfo(Ctx& ctx, double bottom) {
  const double s = ctx.uiScale;
  const auto rows = infoRows(doc::Document::instance());
  const double rowH = 24 * s;
  const double height = 52 * s + std::max<size_t>(rows.size(), 1) * rowH + 16 * s;
  bool closed = false;
  const Rect inner = sheetFrame(ctx, bottom, height, i18n::tr("info.title"), &closed, "sheet.info");
  if (closed) {
    editorState().sheet = Sheet::None;
    return height;
  }
  TextStyle label = hintStyle(ctx, 0);
  TextStyle value;
  value.size = 13 * s;
  value.color = kText;
  value.fitWidth = inner.w * 0.65;
  if (rows.empty()) {
    ctx.hit("info.unavailable", Rect{inner.x, inner.y, inner.w, rowH});
    drawText(ctx.cr, inner.x, inner.y, i18n::tr("info.unavailable"), label);
    return height;
  }
  double y = inner.y;
  for (const auto& [key, text] : rows) {
    const std::string id = "info.row." + key.substr(5);
    ctx.hit(id.c_str(), Rect{inner.x, y, inner.w, rowH});
    drawText(ctx.cr, inner.x, y, i18n::tr(key), label);
    drawText(ctx.cr, inner.x + inner.w * 0.32, y, text, value);
    y += rowH;
  }
  return height;
}

// --- More ----------------------------------------------------------------------------------

double sheetMore(Ctx& ctx, double bottom) {
  const double s = ctx.uiScale;
  const double height = 170 * s;
  EditorState& st = editorState();
  bool closed = false;
  const Rect inner = sheetFrame(ctx, bottom, height, i18n::tr("menu.open"), &closed, "sheet.more");
  if (closed) {
    st.sheet = Sheet::None;
    return height;
  }
  static const char* const kEntries[] = {"menu.newVideo", "menu.newImage", "menu.settings", "menu.about",
                                         "menu.close"};
  const double rowH = inner.h / 5;
  TextStyle t;
  t.size = 14 * s;
  t.color = kText;
  int chosen = -1;
  for (int i = 0; i < 5; ++i) {
    const Rect r{inner.x, inner.y + i * rowH, inner.w, rowH};
    ctx.hit(kEntries[i], r);
    if (ctx.hover(r)) fillRoundedRect(ctx.cr, r, 6 * s, kHover, 1.0);
    double tw = 0;
    double th = 0;
    const std::string text = i18n::tr(kEntries[i]);
    measureText(ctx.cr, text, t, &tw, &th);
    drawText(ctx.cr, r.x + 8 * s, r.y + (r.h - th) / 2, text, t);
    if (ctx.takeClick(r)) chosen = i;
  }
  if (chosen < 0) return height;
  diag::action(std::string("Menue: ") + kEntries[chosen]);
  st.sheet = Sheet::None;
  switch (chosen) {
    case 2: App::instance().screen = App::Settings; break;
    case 3: App::instance().screen = App::About; break;
    default: closeDocument(); break;
  }
  return height;
}

}  // namespace ui
