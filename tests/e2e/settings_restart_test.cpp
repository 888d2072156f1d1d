// The settings screen in the real program: choices made there are in the
// sealed settings file after SIGTERM and still in force after a restart.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

bool haveXTools() { return haveTool("Xvfb") && haveTool("xdotool"); }

// Tall enough that the whole settings page fits without scrolling at
// interface scale 1.
const std::vector<std::string> kTallWindow = {"--size", "1280x2500"};

// Whether the start screen offers its settings button.
bool startHasSettings(AppProcess& app) {
  return app.waitForWidget("screen.start") && app.waitForWindow() && app.waitForWidget("start.settings", true, 5);
}

// Opens the settings screen from the start screen.
bool openSettings(AppProcess& app) {
  return startHasSettings(app) && app.clickWidget("start.settings") && app.waitForWidget("settings.reset");
}

// The reset button is as wide as its label: its width tells which language
// the page is drawn in.
double resetWidth(const AppProcess& app) {
  std::optional<ui::Rect> r = app.widget("settings.reset");
  return r ? r->w : -1;
}

}  // namespace

TEST(SettingsRestart, QualityFormatAndLanguageSurviveSigtermAndARestart) {
  if (!haveXTools()) GTEST_SKIP() << "Xvfb or xdotool missing";
  VirtualDisplay x(1600, 2600);
  ASSERT_TRUE(x.ok());
  E2EProfile profile;
  double germanWidth = -1;
  double englishWidth = -1;
  {
    AppProcess app(x, profile, kTallWindow);
    ASSERT_TRUE(app.waitForWidget("screen.start")) << app.err();
    if (!startHasSettings(app)) GTEST_SKIP() << "the start screen has no settings button in this build";
    ASSERT_TRUE(openSettings(app)) << readFile(profile.logPath());
    englishWidth = resetWidth(app);

    ASSERT_TRUE(app.clickWidget("settings.quality.0"));
    ASSERT_TRUE(waitUntil([&] { return app.logHas("Einstellung: Qualitaet 75"); }));
    ASSERT_TRUE(app.clickWidget("settings.format.2"));
    ASSERT_TRUE(waitUntil([&] { return app.logHas("Einstellung: Ausgabeformat settings.formatPng"); }));

    ASSERT_TRUE(app.clickWidget("settings.language"));
    ASSERT_TRUE(app.waitForWidget("settings.language.de"));
    ASSERT_TRUE(app.clickWidget("settings.language.de"));
    ASSERT_TRUE(app.waitForWidget("settings.reset"));  // the settings page again
    germanWidth = resetWidth(app);
    EXPECT_NE(germanWidth, englishWidth);  // "Einstellungen zurücksetzen" is no "Reset settings"
    terminate(app);
  }
  EXPECT_TRUE(profile.settingsHave("\"jpegQuality\":75")) << profile.settingsText();
  EXPECT_TRUE(profile.settingsHave("\"imageFormat\":\"png\""));
  EXPECT_TRUE(profile.settingsHave("\"language\":\"de\""));

  {
    AppProcess again(x, profile, kTallWindow);
    ASSERT_TRUE(openSettings(again)) << again.err();
    EXPECT_EQ(resetWidth(again), germanWidth);  // drawn in German from the first frame
    terminate(again);
  }
  EXPECT_TRUE(profile.settingsHave("\"jpegQuality\":75")) << profile.settingsText();
  EXPECT_TRUE(profile.settingsHave("\"imageFormat\":\"png\""));
  EXPECT_TRUE(profile.settingsHave("\"language\":\"de\""));
}
