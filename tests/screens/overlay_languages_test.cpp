// Every interface language on the secondary screens: each text finds a font among the shipped ones.
#include <gtest/gtest.h>

#include <string>

#include "screens/screen_fixtures.h"
#include "ui/draw.h"

using namespace screen_fixtures;
using OverlayLanguages = ScreenTest;

// The counter sees a missing glyph: a code point no font has (unassigned).
TEST_F(OverlayLanguages, TheMissingGlyphCounterNoticesABox) {
  ScreenHarness h(200, 100);
  const size_t before = ui::unknownGlyphsDrawn();
  h.frame([](ui::Ctx& c) { ui::drawText(c.cr, 10, 10, "a\xCD\xB8", ui::TextStyle{}); });  // U+0378
  EXPECT_GT(ui::unknownGlyphsDrawn(), before);
}

TEST_F(OverlayLanguages, AllLanguagesDrawWithoutMissingGlyphs) {
  ASSERT_EQ(i18n::languages().size(), 44u);
  // Tall enough that no page needs scrolling: every text is laid out.
  ScreenHarness h(1280, 2600);
  for (const i18n::Language& lang : i18n::languages()) {
    i18n::setLanguage(lang.code);
    settings::mutableData().language = lang.code;
    for (int screen : {ui::App::Settings, ui::App::Language, ui::App::About, ui::App::Licenses}) {
      ui::App::instance().screen = screen;
      const size_t before = ui::unknownGlyphsDrawn();
      h.appFrame();
      EXPECT_EQ(ui::unknownGlyphsDrawn() - before, 0u) << lang.code << " on screen " << screen;
      EXPECT_EQ(ui::App::instance().screen, screen);  // drawing alone changes nothing
    }
  }
}
