#include "screens/overlays.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/i18n.h"
#include "core/settings.h"
#include "media/image_io.h"
#include "media/raw.h"
#include "media/video.h"
#include "platform/log.h"
#include "platform/product.h"
#include "screens/components.h"
#include "screens/overlay_parts.h"
#include "screens/router.h"
#include "screens/trademarks.h"
#include "ui/draw.h"
#include "ui/widgets.h"

namespace ui {

using namespace overlay;
using i18n::tr;

std::string formatChipLabel(const std::string& decoder) {
  struct Name {
    const char* decoder;
    const char* label;
  };
  static constexpr Name kNames[] = {
      {"jpeg", "JPEG"}, {"png", "PNG"}, {"webp", "WebP"}, {"heic", "HEIF"}, {"heif", "HEIF"},
      {"avif", "AVIF"}, {"gif", "GIF"}, {"bmp", "BMP"},   {"tiff", "TIFF"},
  };
  for (const Name& n : kNames) {
    if (decoder == n.decoder) return n.label;
  }
  std::string upper = decoder;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::string encoderDisplayName(const std::string& encoder) {
  struct Name {
    const char* encoder;
    const char* label;
  };
  static constexpr Name kNames[] = {
      {"h264_vaapi", "H.264 (VAAPI)"}, {"h264_nvenc", "H.264 (NVENC)"}, {"libx264", "H.264 (x264)"},
      {"libvpx-vp9", "VP9 (libvpx)"},
  };
  for (const Name& n : kNames) {
    if (encoder == n.encoder) return n.label;
  }
  return encoder;
}

namespace {

Scroll g_languageScroll;
Scroll g_aboutScroll;
Scroll g_licensesScroll;

// --- Language ----------------------------------------------------------------------

void chooseLanguage(const std::string& code) {
  settings::mutableData().language = code;
  i18n::setLanguage(code.empty() ? i18n::detectSystemLanguage() : code);
  settings::save();
  diag::action(code.empty() ? std::string("Sprache: Systemsprache") : "Sprache: " + code);
  App::instance().screen = App::Settings;
}

// --- About -------------------------------------------------------------------------

// Outlined pills in rows that wrap at the column's right edge.
double chipRows(Ctx& ctx, const Rect& column, double y, const std::vector<std::string>& labels) {
  const double s = ctx.uiScale;
  const double h = 28 * s;
  const double gap = 6 * s;
  TextStyle st;
  st.size = 12 * s;
  st.color = kText;
  double x = column.x;
  for (const std::string& label : labels) {
    double lw = 0;
    measureText(ctx.cr, label, st, &lw, nullptr);
    const double w = lw + 20 * s;
    if (x > column.x && x + w > column.x + column.w) {
      x = column.x;
      y += h + gap;
    }
    Rect pill{x, y, w, h};
    fillRoundedRect(ctx.cr, pill, h / 2, kPanel, 1.0);
    strokeRoundedRect(ctx.cr, pill, h / 2, s, kOutline, 1.0);
    drawTextIn(ctx.cr, pill, label, st);
    x += w + gap;
  }
  return labels.empty() ? y : y + h + 10 * s;
}

std::vector<std::string> decodeChips() {
  std::vector<std::string> out;
  for (const std::string& d : media::capabilities().decode) {
    std::string label = formatChipLabel(d);
    if (std::find(out.begin(), out.end(), label) == out.end()) out.push_back(label);
  }
  return out;
}

double formatsSection(Ctx& ctx, const Rect& col, double y) {
  y = sectionHead(ctx, col, y, tr("about.formatsTitle"), "");
  y = chipRows(ctx, col, y, decodeChips());
  if (media::capabilities().raw) return chipRows(ctx, col, y, media::rawExtensions());
  return paragraph(ctx, col, tr("about.noRaw"), y);
}

double encodersSection(Ctx& ctx, const Rect& col, double y) {
  y = sectionHead(ctx, col, y, tr("about.techTitle"), "");
  y = paragraph(ctx, col, tr("about.techBody"), y);
  for (const media::EncoderInfo& e : media::availableEncoders()) {
    std::string line = encoderDisplayName(e.name) + "  \u00b7  " + tr(e.hardware ? "info.gpu" : "info.cpu");
    y = paragraph(ctx, col, line, y, 14, false, kText);
  }
  return y + 6 * ctx.uiScale;
}

}  // namespace

void updateLanguageScreen(Ctx& ctx) {
  bool closed = false;
  Rect content = overlayFrame(ctx, tr("settings.language"), &closed, "language");
  std::string chosen;
  bool choice = false;
  {
    Column col(ctx, content, &g_languageScroll);
    const std::string& current = settings::get().language;
    if (choiceRow(ctx, col.rect(), &col.y, col.viewport(), tr("settings.languageSystem"), "", current.empty(),
                  "settings.language.auto", false)) {
      choice = true;
    }
    const std::vector<i18n::Language>& all = i18n::languages();
    for (size_t i = 0; i < all.size(); ++i) {
      std::string id = "settings.language." + all[i].code;
      if (choiceRow(ctx, col.rect(), &col.y, col.viewport(), all[i].nativeName, all[i].englishName,
                    current == all[i].code, id.c_str(), i + 1 == all.size())) {
        choice = true;
        chosen = all[i].code;
      }
    }
  }
  if (choice) {
    chooseLanguage(chosen);
  } else if (closed) {
    App::instance().screen = App::Settings;
  }
}

void updateAboutScreen(Ctx& ctx) {
  bool closed = false;
  Rect content = overlayFrame(ctx, tr("about.title"), &closed, "about");
  bool openLicenses = false;
  {
    Column col(ctx, content, &g_aboutScroll);
    const Rect& c = col.rect();
    const double s = ctx.uiScale;
    drawAppMark(ctx, Rect{mirrored() ? c.x + c.w - 96 * s : c.x, col.y, 96 * s, 96 * s});
    col.y += 96 * s + 12 * s;
    col.y = paragraph(ctx, c, product::kName, col.y, 20, true, kText);
    col.y = paragraph(ctx, c,
                      tr("about.version", {{"version", product::kVersion}, {"build", std::to_string(product::kBuild)}}),
                      col.y);
    col.y = paragraph(ctx, c, tr("about.developer"), col.y) + 16 * s;

    col.y = sectionHead(ctx, c, col.y, tr("about.contact"), "");
    col.y = linkLine(ctx, c, col.y, product::kSupportEmail, std::string("mailto:") + product::kSupportEmail,
                     "about.mail");
    col.y = linkLine(ctx, c, col.y, product::kWebsite, product::kWebsite, "about.web") + 16 * s;

    col.y = sectionHead(ctx, c, col.y, tr("about.safetyTitle"), "");
    col.y = paragraph(ctx, c, tr("about.safetyBody"), col.y) + 16 * s;
    col.y = formatsSection(ctx, c, col.y) + 16 * s;
    col.y = encodersSection(ctx, c, col.y) + 16 * s;
    col.y = sectionHead(ctx, c, col.y, tr("about.trademarksTitle"), "");
    col.y = paragraph(ctx, c, tr("about.trademarksBody", {{"brands", trademarkBrandLine()}}), col.y) + 16 * s;
    openLicenses = framedButton(ctx, c, &col.y, col.viewport(), tr("about.licenses"), "about.licenses", true);
  }
  if (openLicenses) {
    diag::action("Lizenzen oeffnen");
    App::instance().screen = App::Licenses;
  } else if (closed) {
    App::instance().screen = App::Main;
  }
}

void updateLicensesScreen(Ctx& ctx) {
  bool closed = false;
  Rect content = overlayFrame(ctx, tr("about.licenses"), &closed, "licenses");
  {
    Column col(ctx, content, &g_licensesScroll);
    const Rect& c = col.rect();
    const double s = ctx.uiScale;
    col.y = paragraph(ctx, c, tr("about.licensesIntro"), col.y) + 12 * s;
    for (const Component& comp : linkedComponents()) {
      col.y = paragraph(ctx, c, comp.name + " \u00b7 " + comp.version, col.y, 16, true, kText) - 3 * s;
      col.y = paragraph(ctx, c, comp.license, col.y, 14, false, kText) - 3 * s;
      col.y = paragraph(ctx, c, comp.purpose, col.y, 13);
      if (!comp.url.empty()) {
        char id[96];
        std::snprintf(id, sizeof id, "licenses.url.%s", comp.id.c_str());
        // The entries are Latin text: their links stay at the left in every language.
        col.y = linkLine(ctx, c, col.y, comp.url, comp.url, id, "Lizenz-Adresse: ", true);
      }
      drawLine(ctx.cr, c.x, col.y + 6 * s, c.x + c.w, col.y + 6 * s, s, kOutline, 0.5);
      col.y += 16 * s;
    }
  }
  if (closed) App::instance().screen = App::About;
}

}  // namespace ui
