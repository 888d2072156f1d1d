// The settings screen: what it offers and highlights, what a click stores, resetting and closing.
#include "screens/settings_screen.h"

#include <SDL_keycode.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "screens/overlays.h"
#include "screens/screen_fixtures.h"

using namespace screen_fixtures;

namespace {

// A window tall enough for the whole settings page at interface scale 1.
constexpr int kTallW = 1280;
constexpr int kTallH = 2600;

// Whether segment id is drawn highlighted (the selected fill is blue, the bar grey).
bool segmentLit(const ScreenHarness& h, const std::string& id) {
  std::optional<ui::Rect> r = h.widget(id);
  return r && (h.pixel(r->x + 7, r->y + r->h / 2) & 0xFF) > 0x70;
}

// Opens the settings screen in h and draws it once.
void showSettings(ScreenHarness& h) {
  ui::App::instance().screen = ui::App::Settings;
  h.appFrame();
}

class SettingsScreen : public ScreenTest {
 protected:
  void SetUp() override { resetAll(&h_); }
  void TearDown() override { resetAll(&h_); }
  ScreenHarness h_{kTallW, kTallH};
};
using SmallSettings = ScreenTest;  // a harness of its own

}  // namespace

TEST(SettingsRules, HighlightsOnlyKnownQualitiesAndFoldsOddFadesIntoTheDefault) {
  // value → quality segment, fade segment
  for (auto [value, quality, fade] : {std::tuple{75, 0, 1}, {85, 1, 1}, {92, 2, 1}, {100, 3, 1}, {80, -1, 1},
                                      {0, -1, 1}, {300, -1, 0}, {500, -1, 1}, {750, -1, 1}, {1000, -1, 2},
                                      {2000, -1, 3}, {-5, -1, 1}}) {
    EXPECT_EQ(ui::qualitySegment(value), quality) << value;
    EXPECT_EQ(ui::fadeSegment(value), fade) << value;
  }
}

TEST(SettingsRules, WebPIsOfferedOnlyWhenItCanBeWritten) {
  using V = std::vector<int32_t>;
  EXPECT_EQ(ui::offeredOutputFormats({"jpeg", "png"}),
            (V{settings::kFormatAuto, settings::kFormatJpeg, settings::kFormatPng}));
  EXPECT_EQ(ui::offeredOutputFormats({}).size(), 3u);
  EXPECT_EQ(ui::offeredOutputFormats({"jpeg", "png", "webp"}),
            (V{settings::kFormatAuto, settings::kFormatJpeg, settings::kFormatPng, settings::kFormatWebP}));
}

TEST_F(SettingsScreen, BorderSectionFollowsTheFitChoiceFromTheNextFrame) {
  showSettings(h_);
  EXPECT_TRUE(h_.hasWidget("settings.imagePad.2"));  // default: Fit

  for (const char* id : {"settings.imageFit.0", "settings.imageFit.2"}) {  // Crop, Stretch
    ASSERT_TRUE(h_.clickWidget(id)) << id;
    h_.appFrame();
    EXPECT_FALSE(h_.hasWidget("settings.imagePad.0")) << id;
  }
  EXPECT_EQ(settings::get().imageFitMode, settings::kFitStretch);

  ASSERT_TRUE(h_.clickWidget("settings.imageFit.1"));
  h_.appFrame();
  EXPECT_TRUE(h_.hasWidget("settings.imagePad.0"));
  EXPECT_EQ(settings::get().imageFitMode, settings::kFitContain);
}

TEST_F(SettingsScreen, HandWrittenValuesHighlightNoQualityAndTheDefaultFade) {
  // As a settings file edited by hand loads them.
  settings::mutableData().jpegQuality = 80;
  settings::mutableData().videoFadeMs = 750;
  showSettings(h_);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(segmentLit(h_, "settings.quality." + std::to_string(i))) << i;
  EXPECT_FALSE(segmentLit(h_, "settings.fade.0"));
  EXPECT_TRUE(segmentLit(h_, "settings.fade.1"));  // "0,5 s"
  EXPECT_FALSE(segmentLit(h_, "settings.fade.2"));

  // Choosing writes the value itself and lights its segment.
  ASSERT_TRUE(h_.clickWidget("settings.quality.3"));
  h_.appFrame();
  EXPECT_EQ(settings::get().jpegQuality, 100);
  EXPECT_TRUE(segmentLit(h_, "settings.quality.3"));
}

TEST_F(SettingsScreen, ChoicesAreStoredUnderTheirValues) {
  showSettings(h_);
  // The output formats this build can write.
  const std::vector<std::string>& enc = media::capabilities().encode;
  EXPECT_EQ(h_.hasWidget("settings.format.3"), std::find(enc.begin(), enc.end(), "webp") != enc.end());
  EXPECT_FALSE(h_.hasWidget("settings.format.4"));
  ASSERT_TRUE(h_.clickWidget("settings.resolution.720"));
  ASSERT_TRUE(h_.clickWidget("settings.bitrate.5000000"));
  ASSERT_TRUE(h_.clickWidget("settings.fade.3"));
  ASSERT_TRUE(h_.clickWidget("settings.videoFit.0"));
  ASSERT_TRUE(h_.clickWidget("settings.format.1"));
  ASSERT_TRUE(h_.clickWidget("settings.imagePad.1"));
  const settings::Data& d = settings::get();
  EXPECT_EQ(d.videoResolution, 720);
  EXPECT_EQ(d.videoBitrate, 5000000);
  EXPECT_EQ(d.videoFadeMs, 2000);
  EXPECT_EQ(d.videoFitMode, settings::kFitCover);
  EXPECT_EQ(d.imageFormat, settings::kFormatJpeg);
  EXPECT_EQ(d.imagePadMode, settings::kPadWhite);
  // Saved in the frame of the click: the file exists and the screen stays.
  EXPECT_TRUE(testing_support::readFile(paths::dataDir() + "/settings.dat").size() > 0);
  EXPECT_EQ(ui::App::instance().screen, ui::App::Settings);
}

TEST_F(SettingsScreen, ResetAsksThenRestoresDefaultsButKeepsTheLanguage) {
  settings::Data& d = settings::mutableData();
  d.language = "de";
  i18n::setLanguage("de");
  d.jpegQuality = 75;
  d.imageFitMode = settings::kFitCover;
  d.videoBitrate = 2000000;
  d.lastOpenDir = "/tmp";
  showSettings(h_);
  EXPECT_FALSE(h_.hasWidget("settings.imagePad.0"));

  ASSERT_TRUE(h_.clickWidget("settings.reset"));
  h_.appFrame();
  // Cancel first: nothing changes.
  ASSERT_TRUE(h_.clickWidget("dialog.0"));
  h_.appFrame();
  EXPECT_EQ(settings::get().jpegQuality, 75);

  ASSERT_TRUE(h_.clickWidget("settings.reset"));
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("dialog.1"));
  h_.appFrame();  // the next frame resets and shows the defaults
  EXPECT_EQ(settings::get().language, "de");
  EXPECT_EQ(settings::get().jpegQuality, 92);
  EXPECT_EQ(settings::get().videoBitrate, 0);
  EXPECT_TRUE(settings::get().lastOpenDir.empty());
  EXPECT_EQ(ui::App::instance().screen, ui::App::Settings);  // nothing closed
  EXPECT_TRUE(h_.hasWidget("settings.imagePad.0"));
  EXPECT_TRUE(segmentLit(h_, "settings.quality.2"));
  EXPECT_EQ(i18n::currentLanguage().code, "de");
}

// Escape or the close button (above rows scrolled under the header) return to the main screen.
TEST_F(SmallSettings, EscapeAndTheCloseButtonOverScrolledRowsReturnToTheMainScreen) {
  ScreenHarness h(1280, 720);
  showSettings(h);
  h.appFrame(ScreenHarness::key(SDLK_ESCAPE));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Main);
  showSettings(h);
  ui::Rect close = *h.widget("settings.close");
  // Far down the rows that left the window are not registered.
  for (int i = 0; i < 20; ++i) {
    ui::Input in = ScreenHarness::move(640, 400);
    in.wheel = -3;
    h.appFrame(in);
  }
  EXPECT_FALSE(h.hasWidget("settings.language"));
  EXPECT_TRUE(h.hasWidget("settings.reset"));
  // Clicks along the header hit nothing that lies scrolled beneath it.
  for (double y = 4; y < 56; y += 8) h.appFrame(ScreenHarness::click(640, y));
  const settings::Data d = settings::get(), defaults;
  EXPECT_EQ((std::tuple{d.videoResolution, d.videoBitrate, d.videoFadeMs, d.videoFitMode}),
            (std::tuple{defaults.videoResolution, defaults.videoBitrate, defaults.videoFadeMs, defaults.videoFitMode}));
  EXPECT_FALSE(ui::dialogOpen());
  EXPECT_EQ(ui::App::instance().screen, ui::App::Settings);
  h.appFrame(ScreenHarness::click(close.x + close.w / 2, close.y + close.h / 2));
  EXPECT_EQ(ui::App::instance().screen, ui::App::Main);
  h.appFrame();
  EXPECT_FALSE(h.hasWidget("settings.close"));
}
