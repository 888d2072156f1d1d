// The language, about and licences screens: navigation, choosing a language, links, lists.
#include <SDL_keycode.h>
#include <gtest/gtest.h>

#include <optional>

#include <cstring>
#include <set>
#include <string>

#include "screens/components.h"
#include "screens/overlays.h"
#include "screens/screen_fixtures.h"
#include "screens/trademarks.h"

extern "C" {
#include <libavutil/avutil.h>
}

using namespace screen_fixtures;
using testing_support::ScopedEnv;

namespace {

using AboutScreens = HarnessTest;
using LanguageChoice = ScreenTest;  // harnesses of their own

// Whether two surfaces hold the same pixels.
bool samePixels(cairo_surface_t* a, cairo_surface_t* b) {
  cairo_surface_flush(a);
  cairo_surface_flush(b);
  const int h = cairo_image_surface_get_height(a);
  const int stride = cairo_image_surface_get_stride(a);
  if (h != cairo_image_surface_get_height(b) || stride != cairo_image_surface_get_stride(b)) return false;
  return std::memcmp(cairo_image_surface_get_data(a), cairo_image_surface_get_data(b),
                     static_cast<size_t>(h) * static_cast<size_t>(stride)) == 0;
}

}  // namespace

TEST_F(LanguageChoice, RedrawsEverythingInTheChosenLanguageInTheNextFrame) {
  ScreenHarness h(1280, 2000);
  ui::App::instance().screen = ui::App::Language;
  h.appFrame();
  ui::Rect de = *h.widget("settings.language.de");
  const double cx = de.x + de.w / 2, cy = de.y + de.h / 2;
  h.appFrame(ScreenHarness::click(cx, cy));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Settings);
  EXPECT_EQ(settings::get().language, "de");
  EXPECT_EQ(i18n::currentLanguage().code, "de");

  // The next frame equals a settings screen drawn from scratch in German: no English left.
  h.appFrame(ScreenHarness::move(cx, cy));
  ScreenHarness fresh(1280, 2000);
  fresh.appFrame(ScreenHarness::move(cx, cy));
  EXPECT_TRUE(samePixels(h.surface(), fresh.surface()));
  // …and differs from the English one.
  i18n::setLanguage("en");
  fresh.appFrame(ScreenHarness::move(cx, cy));
  EXPECT_FALSE(samePixels(h.surface(), fresh.surface()));
}

TEST_F(AboutScreens, TheLanguageRowOpensTheListWhoseSystemChoiceFollowsTheLocaleAndStoresNothing) {
  ScopedEnv language("LANGUAGE", nullptr);
  ScopedEnv all("LC_ALL", nullptr);
  ScopedEnv messages("LC_MESSAGES", nullptr);
  ScopedEnv lang("LANG", "fr_FR.UTF-8");
  settings::mutableData().language = "de";
  i18n::setLanguage("de");
  ui::App::instance().screen = ui::App::Settings;
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("settings.language"));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Language);
  h_.appFrame(ScreenHarness::key(SDLK_ESCAPE));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Settings);
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("settings.language"));
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("settings.language.auto"));
  EXPECT_TRUE(settings::get().language.empty());
  EXPECT_EQ(i18n::currentLanguage().code, "fr");
  EXPECT_EQ(i18n::tr("settings.title"), "Param\u00e8tres");
  EXPECT_EQ(ui::App::instance().screen, ui::App::Settings);
}

TEST_F(AboutScreens, AboutLeadsToLicencesAndEscapeThereReturnsToAbout) {
  ui::App::instance().screen = ui::App::About;
  h_.appFrame();
  // Scrolled until the button lies wholly in the window: a row partly out of view takes no clicks.
  auto inView = [&] {
    std::optional<ui::Rect> r = h_.widget("about.licenses");
    return r && r->y >= 0 && r->y + r->h <= 720;
  };
  for (int i = 0; i < 30 && !inView(); ++i) {
    ui::Input in = ScreenHarness::move(640, 400);
    in.wheel = -3;
    h_.appFrame(in);
  }
  ASSERT_TRUE(h_.clickWidget("about.licenses"));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Licenses);
  h_.appFrame();
  EXPECT_TRUE(h_.hasWidget("licenses.close"));
  h_.appFrame(ScreenHarness::key(SDLK_ESCAPE));
  EXPECT_EQ(ui::App::instance().screen, ui::App::About);
  h_.appFrame(ScreenHarness::key(SDLK_ESCAPE));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Main);
}

TEST_F(AboutScreens, WithNoOpenALinkIsOnlyLogged) {
  ScopedEnv noOpen("KORVELLE_NO_OPEN", "1");
  ui::App::instance().screen = ui::App::Licenses;
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("licenses.url.ffmpeg"));
  std::string log = logText();
  EXPECT_NE(log.find("Lizenz-Adresse: https://ffmpeg.org"), std::string::npos) << log;
  EXPECT_NE(log.find("nicht geoeffnet (Pruefschalter): https://ffmpeg.org"), std::string::npos) << log;
  EXPECT_EQ(ui::App::instance().screen, ui::App::Licenses);

  ui::App::instance().screen = ui::App::About;
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("about.mail"));
  log = logText();
  EXPECT_NE(log.find("Adresse geoeffnet: mailto:support@"), std::string::npos) << log;
  EXPECT_NE(log.find("nicht geoeffnet (Pruefschalter): mailto:"), std::string::npos) << log;
}

TEST(Trademarks, EveryPresetPlatformOnceInTableOrder) {
  std::vector<std::string> brands = ui::trademarkBrands();
  ASSERT_EQ(brands.size(), 17u);
  EXPECT_EQ(std::set<std::string>(brands.begin(), brands.end()).size(), brands.size());
  EXPECT_EQ(ui::trademarkBrandLine().rfind("Instagram \u00b7 X (Twitter) \u00b7 Facebook", 0), 0u);
}

TEST(Components, VersionWordsAndLicenceNames) {
  for (auto [in, out] : {std::pair{"libopus 1.3.1", "1.3.1"}, {"v1.12.0", "1.12.0"}, {"0.20.2-Release", "0.20.2"},
                         {"(GNU FriBidi) 1.0.8\ninterface version 4", "1.0.8"}, {"3.5+1-f0c1022b6", "3.5"},
                         {"1.", "1"}, {"none", "\u2014"}, {"", "\u2014"}})
    EXPECT_EQ(ui::versionPart(in), out) << in;
  EXPECT_EQ(ui::spdxFromFfmpegLicense("LGPL version 2.1 or later"), "LGPL-2.1-or-later");
  EXPECT_EQ(ui::spdxFromFfmpegLicense("something new"), "something new");
}

TEST(Components, TheListNamesWhatThisProcessRuns) {
  ScreenHarness fonts(64, 64);  // registers the shipped fonts, as the program does
  const std::vector<ui::Component>& rows = ui::linkedComponents();
  ASSERT_GT(rows.size(), 10u);
  EXPECT_EQ(rows[0].license, "GPL-3.0-or-later");
  std::set<std::string> ids;
  for (const ui::Component& c : rows) {
    EXPECT_TRUE(ids.insert(c.id).second) << "twice: " << c.id;
    EXPECT_FALSE(c.version.empty() || c.license.empty()) << c.id;
  }
  auto find = [&rows](const std::string& id) -> const ui::Component* {
    for (const ui::Component& c : rows)
      if (c.id == id) return &c;
    return nullptr;
  };
  for (const char* id : {"ffmpeg", "sdl2", "cairo", "pango", "libraw", "libheif", "dejavu", "noto_cjk"}) {
    ASSERT_NE(find(id), nullptr) << id;
  }
  EXPECT_EQ(find("ffmpeg")->version, av_version_info());
  // The licence FFmpeg reports decides the row: Debian builds it with GPL parts.
  EXPECT_EQ(find("ffmpeg")->license, ui::spdxFromFfmpegLicense(avutil_license()));
  EXPECT_EQ(find("dejavu")->version, "2.37");
  EXPECT_EQ(find("libraw")->version.rfind("0.", 0), 0u);
  EXPECT_GT(ui::loadedLibraryCount(), 10);
}
