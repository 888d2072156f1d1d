#include "screens/save_image.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "media/errors.h"
#include "media/exif.h"
#include "platform/filedialog_portal.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/product.h"
#include "screens/sheet_layout.h"
#include "ui/dialog.h"
#include "ui/widgets.h"

namespace ui {

namespace {

// The unedited source could not be read for copying.
constexpr char kReadFailed[] = "READ_FAILED";

// The quality slider's range: below 50 JPEG artefacts dominate any photo.
constexpr int kMinQuality = 50;
constexpr int kMaxQuality = 100;

struct FormatChip {
  const char* key;
  int format;  // media::OutFormat
  const char* id;
  const char* logWord;
};
constexpr FormatChip kFormatChips[] = {
    {"settings.formatAuto", settings::kFormatAuto, "export.imgfmt.0", "automatisch"},
    {"settings.formatJpeg", settings::kFormatJpeg, "export.imgfmt.1", "JPEG"},
    {"settings.formatPng", settings::kFormatPng, "export.imgfmt.2", "PNG"},
    {"settings.formatWebp", settings::kFormatWebP, "export.imgfmt.3", "WebP"},
};

// The quality changed by a drag not yet written to the settings file.
bool g_qualityUnsaved = false;

doc::Document& document() { return doc::Document::instance(); }

// The source's own output format, if it has one we write (JPEG, PNG, WebP).
bool sourceOutFormat(const std::string& format, media::OutFormat* out) {
  if (format == "JPEG") *out = media::OutFormat::Jpeg;
  else if (format == "PNG") *out = media::OutFormat::Png;
  else if (format == "WebP") *out = media::OutFormat::WebP;
  else return false;
  return true;
}

bool readWhole(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Copies the unedited source as it is; false (with err) when it cannot.
bool copySource(const std::string& target, std::string* err) {
  std::vector<uint8_t> bytes;
  if (!readWhole(document().sourcePath, &bytes) || bytes.empty()) {
    *err = kReadFailed;
    return false;
  }
  if (!platform::fs::replaceFile(target, bytes.data(), bytes.size())) {
    *err = media::err::kWriteFailed;
    return false;
  }
  return true;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

media::OutFormat effectiveFormat() { return media::chooseFormat(imageOutOptions(), document().image.hasAlpha); }

}  // namespace

// --- Options ---------------------------------------------------------------------------

media::OutOptions imageOutOptions() {
  const settings::Data& s = settings::get();
  media::OutOptions o;
  o.format = static_cast<media::OutFormat>(s.imageFormat);
  o.quality = s.jpegQuality;
  const std::string& format = document().imageInfo.format;
  o.sourceFormat = format == "PNG" ? "png" : format == "WebP" ? "webp" : "jpeg";
  return o;
}

media::Meta signature() {
  char software[128];
  std::snprintf(software, sizeof software, "%s %s (%d)", product::kName, product::kVersion, product::kBuild);
  media::Meta m;
  m.software = software;
  m.comment = i18n::tr("meta.editedWith", {{"date", media::exifNow().substr(0, 10)}}) + " · " + product::kWebsite;
  return m;
}

std::string suggestedSaveName(const std::string& title, int versionIndex, const std::string& extension) {
  const size_t dot = title.rfind('.');
  const std::string stem = dot == std::string::npos ? title : title.substr(0, dot);
  return stem + "_v" + std::to_string(versionIndex + 1) + extension;
}

// --- Saving --------------------------------------------------------------------------------

void saveImageAs(Ctx&) {
  EditorState& st = editorState();
  doc::Document& d = document();
  if (st.dialogPurpose != DialogPurpose::None || d.kind != media::MediaKind::Image) return;
  const std::string ext = media::extensionFor(effectiveFormat());
  const std::string suggestion = suggestedSaveName(d.title(), d.current, ext);
  const std::vector<platform::FileFilter> filters{{i18n::tr("app.image"), {"*" + ext}}};
  st.dialogPurpose = DialogPurpose::SaveImage;
  if (const char* forced = std::getenv("KORVELLE_SAVE_TO")) {
    diag::write("file", std::string("KORVELLE_SAVE_TO: ") + forced);
    platform::setForcedDialogResult(paths::splitPathList(forced));  // answered without a dialog
    return;
  }
  diag::write("file", "Speichern-Dialog, Vorschlag " + suggestion);
  platform::startSaveDialog(i18n::tr("save.title"), filters, settings::get().lastSaveDir, suggestion);
}

bool saveImageAnswer(const std::string& answer) {
  doc::Document& d = document();
  std::string target = answer;
  const media::OutFormat format = effectiveFormat();
  const std::string ext = media::extensionFor(format);
  if (!endsWith(target, ext)) target += ext;  // exact case: "IMG.JPG" becomes "IMG.JPG.jpg"
  const size_t slash = target.rfind('/');
  if (slash != std::string::npos) {
    settings::mutableData().lastSaveDir = target.substr(0, slash);
    settings::save();
  }
  diag::write("file", "Ziel: " + target);

  bool ok = false;
  std::string err;
  {
    diag::Timed timed("saveImage", 50);
    media::OutFormat own{};
    if (d.kind != media::MediaKind::Image || !d.image.valid()) {
      err = media::err::kEmptyImage;
    } else if (d.current == 0 && sourceOutFormat(d.imageInfo.format, &own) && own == format) {
      // Nothing was edited and the format stays: the file is the source itself.
      ok = copySource(target, &err);
      if (ok) diag::write("file", "unveraendert kopiert: " + d.sourcePath);
    } else {
      ok = media::saveImage(target, d.image, imageOutOptions(), signature(), &err);
    }
  }
  if (ok) {
    diag::write("file", "geschrieben: " + target);
    showDialog(i18n::tr("save.doneTitle"), target, {{i18n::tr("errors.closeConfirm"), 1}});
  } else {
    diag::write("file", "saveImage scheiterte: " + err);
    showDialog(i18n::tr("errors.title"), i18n::tr("errors.save"), {{i18n::tr("errors.closeConfirm"), 1}});
  }
  return ok;
}

// --- Export sheet ------------------------------------------------------------------------------

double imageExportGroups(Ctx& ctx, double x, double y, double w) {
  const double s = ctx.uiScale;
  settings::Data& data = settings::mutableData();
  double top = y;

  sheet::rowText(ctx, {x, top, w, 24 * s}, i18n::tr("settings.outputFormat"), true);
  top += 28 * s;
  const double chipW = std::min(170 * s, (w - 3 * 8 * s) / 4);
  for (size_t i = 0; i < std::size(kFormatChips); ++i) {
    const FormatChip& c = kFormatChips[i];
    const Rect r{x + static_cast<double>(i) * (chipW + 8 * s), top, chipW, 32 * s};
    if (chip(ctx, r, i18n::tr(c.key), data.imageFormat == c.format, c.id) && data.imageFormat != c.format) {
      diag::action(std::string("Export-Bildformat: ") + c.logWord);
      data.imageFormat = c.format;
      settings::save();
    }
  }
  top += 44 * s;

  if (effectiveFormat() == media::OutFormat::Png) {
    top += sheet::wrappedText(ctx, {x, top + 4 * s, w, 0}, i18n::tr("settings.formatPngHint")) + 8 * s;
    return top - y;
  }
  char text[160];
  std::snprintf(text, sizeof text, "%s   %d %%", i18n::tr("settings.quality").c_str(), data.jpegQuality);
  sheet::rowText(ctx, {x, top, w, 24 * s}, text, true);
  top += 26 * s;
  const double v = slider(ctx, {x + 9 * s, top, std::max(0.0, w - 18 * s), 28 * s}, data.jpegQuality, kMinQuality,
                          kMaxQuality, "export.quality");
  const int quality = static_cast<int>(v);  // truncated, as the label shows it
  if (quality != data.jpegQuality) {
    data.jpegQuality = quality;
    g_qualityUnsaved = true;
  }
  // Written once the drag ends, not on every frame of it.
  if (g_qualityUnsaved && !ctx.in.held) {
    g_qualityUnsaved = false;
    settings::save();
  }
  top += 36 * s;
  return top - y;
}

}  // namespace ui
