// The settings screen in the real program: choices made there are in the
// sealed settings file after SIGTERM and still in force after a restart.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

// Tall enough that the whole settings page fits without scrolling at
// interface scale 1.
const std::vector<std::string> kTallWindow = {"--size", "1280x2500"};

// Opens the settings screen from the start screen.
bool openSettings(AppProcess& app) {
  return app.waitForWidget("start.settings") && app.waitForWindow() && app.clickWidget("start.settings") &&
         app.waitForWidget("settings.reset");
}

// The reset button is as wide as its label: its width tells which language
// the page is drawn in.
double resetWidth(const AppProcess& app) {
  std::optional<ui::Rect> r = app.widget("settings.reset");
  return r ? r->w : -1;
}

class SettingsRestart : public E2ETest {
 protected:
  SettingsRestart() : E2ETest({}, 1600, 2600) {}

  void expectSaved() {
    EXPECT_TRUE(profile.settingsHave("\"jpegQuality\":75")) << profile.settingsText();
    EXPECT_TRUE(profile.settingsHave("\"imageFormat\":\"png\""));
    EXPECT_TRUE(profile.settingsHave("\"language\":\"de\""));
  }
};

}  // namespace

TEST_F(SettingsRestart, QualityFormatAndLanguageSurviveSigtermAndARestart) {
  double germanWidth = -1;
  {
    AppProcess app(x, profile, kTallWindow);
    ASSERT_TRUE(openSettings(app)) << app.err() << app.log();
    const double englishWidth = resetWidth(app);

    ASSERT_TRUE(app.clickWidget("settings.quality.0"));
    ASSERT_TRUE(app.waitForLog("Einstellung: Qualitaet 75"));
    ASSERT_TRUE(app.clickWidget("settings.format.2"));
    ASSERT_TRUE(app.waitForLog("Einstellung: Ausgabeformat settings.formatPng"));

    ASSERT_TRUE(app.clickWidget("settings.language"));
    ASSERT_TRUE(app.waitForWidget("settings.language.de"));
    ASSERT_TRUE(app.clickWidget("settings.language.de"));
    ASSERT_TRUE(app.waitForWidget("settings.reset"));  // the settings page again
    germanWidth = resetWidth(app);
    EXPECT_NE(germanWidth, englishWidth);  // "Einstellungen zurücksetzen" is no "Reset settings"
    terminate(app);
  }
  expectSaved();

  AppProcess again(x, profile, kTallWindow);
  ASSERT_TRUE(openSettings(again)) << again.err();
  EXPECT_EQ(resetWidth(again), germanWidth);  // drawn in German from the first frame
  terminate(again);
  expectSaved();
}
