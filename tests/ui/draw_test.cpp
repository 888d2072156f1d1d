// Colour arithmetic, shapes, text layout and the shipped fonts.
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "platform/fs.h"
#include "platform/paths.h"
#include "support/screen_harness.h"
#include "support/test_support.h"
#include "ui/draw.h"
#include "ui/theme.h"

using testing_support::ScreenHarness;

namespace {

// Bounding box of the non-transparent pixels in a logical rectangle.
struct InkBox {
  double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
};

InkBox inkIn(const ScreenHarness& h, const ui::Rect& area) {
  InkBox box;
  for (double y = area.y; y < area.y + area.h; ++y) {
    for (double x = area.x; x < area.x + area.w; ++x) {
      if ((h.pixel(x, y) >> 24) > 0x40) {
        box.left = std::min(box.left, x);
        box.right = std::max(box.right, x + 1);
        box.top = std::min(box.top, y);
        box.bottom = std::max(box.bottom, y + 1);
      }
    }
  }
  return box;
}

}  // namespace

TEST(Theme, MixClampsAndRoundsPerChannelAndLuminanceIsLinear) {
  const struct {
    uint32_t a, b;
    double t;
    uint32_t want;
  } cases[] = {{0x000000, 0xFFFFFF, 0.5, 0x808080},  // 127.5 rounds up
               {0x000000, 0xFFFFFF, 2.0, 0xFFFFFF},
               {0x123456, 0xFFFFFF, std::nan(""), 0x123456},
               {0xFF0000, 0x0000FF, 0.25, 0xBF0040},
               {0xAA000000, 0xBB000000, 0.5, 0x000000}};  // the top byte is not a channel
  for (const auto& c : cases) EXPECT_EQ(theme::mix(c.a, c.b, c.t), c.want) << std::hex << c.a << " " << c.b;
  EXPECT_EQ(theme::lighten(0x000000, 0.5), 0x808080u);
  EXPECT_EQ(theme::darken(0xFFFFFF, 0.5), 0x808080u);
  // Luminance weighs the channels without gamma.
  const std::pair<uint32_t, double> samples[] = {{0xFFFFFF, 1.0},    {0x000000, 0.0},    {0xFF0000, 0.2126},
                                                 {0x00FF00, 0.7152}, {0x0000FF, 0.0722}, {0x808080, 128.0 / 255.0}};
  for (const auto& [colour, want] : samples) EXPECT_NEAR(theme::luminance(colour), want, 1e-12) << std::hex << colour;
}

TEST(Draw, ShrinkToFitScales) {
  const struct {
    double natural, fit, minScale, want;
  } cases[] = {{150, 150, 0.6, 1.0},  // an exact fit
               {200, 0, 0.6, 1.0},    // no fit width
               {0.5, 0.25, 0.1, 1.0}};  // nothing measurable
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ui::fitScale(c.natural, c.fit, c.minScale), c.want) << c.natural << " " << c.fit;
}

TEST(Draw, MeasuredTextShrinksToItsFitWidth) {
  ScreenHarness h(800, 400);
  h.frame([](ui::Ctx& c) {
    const std::string label = "Estimating time left for the export";
    double natural = 0, naturalH = 0;
    ui::measureText(c.cr, label, {.size = 20}, &natural, &naturalH);
    ASSERT_GT(natural, 100);
    // Fit width (share of the natural width) → width drawn: shrunk to fit,
    // never below 0.6 (then overflowing), untouched when it fits.
    for (const auto& [fit, want] : {std::pair{0.75, 0.75}, std::pair{0.3, 0.6}, std::pair{2.0, 1.0}}) {
      double w = 0, hh = 0;
      ui::measureText(c.cr, label, {.size = 20, .fitWidth = natural * fit, .minScale = 0.6}, &w, &hh);
      EXPECT_NEAR(w, natural * want, natural * 0.04) << fit;
      if (want < 1) {
        EXPECT_LT(hh, naturalH) << fit;
      } else {
        EXPECT_DOUBLE_EQ(w, natural);
      }
    }
    double w = 1, hh = 1;
    ui::measureText(c.cr, "", {.size = 20}, &w, &hh);
    EXPECT_EQ(std::pair(w, hh), std::pair(0.0, 0.0));
  });
}

TEST(Draw, UppercaseWrapAndLetterSpacingChangeTheLayout) {
  ScreenHarness h(800, 400);
  h.frame([](ui::Ctx& c) {
    double upper = 0, spelled = 0;
    ui::measureText(c.cr, "straße", {.size = 16, .uppercase = true}, &upper, nullptr);
    ui::measureText(c.cr, "STRASSE", {.size = 16}, &spelled, nullptr);
    EXPECT_DOUBLE_EQ(upper, spelled);  // ß becomes SS

    double oneLineW = 0, oneLineH = 0, wrappedW = 0, wrappedH = 0;
    const std::string body = "Every edit writes a new file. The source file is never modified or overwritten.";
    ui::measureText(c.cr, body, {.size = 16}, &oneLineW, &oneLineH);
    ui::measureText(c.cr, body, {.size = 16, .wrapWidth = 200}, &wrappedW, &wrappedH);
    EXPECT_LE(wrappedW, 200);
    EXPECT_GT(wrappedH, 2 * oneLineH);

    double tight = 0, spaced = 0;
    ui::measureText(c.cr, "ABCDE", {.size = 16}, &tight, nullptr);
    ui::measureText(c.cr, "ABCDE", {.size = 16, .letterSpacing = 4}, &spaced, nullptr);
    EXPECT_NEAR(spaced - tight, 16, 2);  // between the five letters
  });
}

TEST(Draw, TextIsPlacedByAlignment) {
  ScreenHarness h(600, 300);
  const std::string word = "Export";
  double w = 0;
  h.frame([&](ui::Ctx& c) {
    ui::measureText(c.cr, word, {.size = 24}, &w, nullptr);
    ui::drawText(c.cr, 300, 20, word, {.size = 24, .align = 2});        // right edge at 300
    ui::drawText(c.cr, 300, 120, word, {.size = 24, .align = 1});       // centred on 300
    ui::drawTextIn(c.cr, {100, 200, 400, 80}, word, {.size = 24});     // centred in the box
    // The layout is reused, whatever the colour.
    const size_t layouts = ui::cachedTextLayouts();
    ui::drawTextIn(c.cr, {100, 200, 400, 80}, word, {.size = 24, .color = 0xC0483F});
    EXPECT_EQ(ui::cachedTextLayouts(), layouts);
  });
  InkBox right = inkIn(h, {0, 15, 600, 40});
  EXPECT_LE(right.right, 301);
  EXPECT_GT(right.right, 300 - 6);
  EXPECT_NEAR(right.left, 300 - w, 6);

  InkBox centred = inkIn(h, {0, 115, 600, 40});
  EXPECT_NEAR((centred.left + centred.right) / 2, 300, 4);
  InkBox boxed = inkIn(h, {0, 195, 600, 90});
  EXPECT_NEAR((boxed.left + boxed.right) / 2, 300, 4);
  EXPECT_NEAR((boxed.top + boxed.bottom) / 2, 240, 6);
}

TEST(Draw, RoundedShapesKeepTheirRadiusInsideTheRectangle) {
  ScreenHarness h(300, 200);
  h.frame([](ui::Ctx& c) {
    ui::fillRoundedRect(c.cr, {20, 20, 100, 20}, 50, 0x5E9FD4, 1.0);  // radius > half height: a pill
    ui::fillRect(c.cr, {20, 100, 10, 10}, 0xC0483F, 0.5);
    ui::fillCircle(c.cr, 200, 100, 30, 0xEDF1F4, 1.0);
    ui::strokeRoundedRect(c.cr, {150, 20, 100, 40}, 6, 2, 0x39434E, 1.0);
  });
  EXPECT_EQ(h.pixel(20.5, 20.5), 0u);        // the pill's corner is cut away
  EXPECT_EQ(h.pixel(21.5, 30), 0xFF5E9FD4u);  // the end cap reaches the edge mid-height
  EXPECT_EQ(h.pixel(30, 21), 0xFF5E9FD4u);    // 10 px in, the cap is full height
  EXPECT_EQ(h.pixel(25, 105) >> 24, 0x80u);   // alpha 0.5
  EXPECT_EQ(h.pixel(200, 100), 0xFFEDF1F4u);
  EXPECT_EQ(h.pixel(200, 100 - 31), 0u);
  EXPECT_EQ(h.pixel(200, 40) & 0xFFFFFF, 0u);  // inside the outline: untouched
}

// The build step cuts each script's font from Debian's Noto fonts; together
// they must cover every character the translation catalogues use.
TEST(Fonts, ShippedFontsCoverEveryCatalogueCharacter) {
  ASSERT_TRUE(ui::registerBundledFonts());
  FcFontSet* app = FcConfigGetFonts(FcConfigGetCurrent(), FcSetApplication);
  ASSERT_NE(app, nullptr);
  auto covered = [app](FcChar32 c) {
    for (int i = 0; i < app->nfont; ++i) {
      FcCharSet* set = nullptr;
      if (FcPatternGetCharSet(app->fonts[i], FC_CHARSET, 0, &set) == FcResultMatch && FcCharSetHasChar(set, c)) {
        return true;
      }
    }
    return false;
  };
  std::string dir = std::string(KORVELLE_SOURCE_DIR) + "/src/core/i18n";
  std::set<FcChar32> missing;
  for (const std::string& name : platform::fs::listDir(dir)) {
    std::string text = testing_support::readFile(dir + "/" + name);
    const FcChar8* p = reinterpret_cast<const FcChar8*>(text.data());
    int left = static_cast<int>(text.size());
    while (left > 0) {
      FcChar32 c = 0;
      int n = FcUtf8ToUcs4(p, &c, left);
      if (n <= 0) break;
      if (c > 0x7F && c != 0xFEFF && !(c >= 0x200B && c <= 0x200F) && !covered(c)) missing.insert(c);
      p += n;
      left -= n;
    }
  }
  EXPECT_TRUE(missing.empty()) << missing.size() << " catalogue characters have no glyph, first U+" << std::hex
                               << (missing.empty() ? 0 : *missing.begin());
}
