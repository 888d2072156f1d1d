// What one run of the real program leaves to the next: settings, window geometry and full screen in
// the sealed settings file after SIGTERM, and the report of a crash, shown at the next start.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>

#include "platform/fs.h"
#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

// Opens the settings screen from the start screen.
bool openSettings(AppProcess& app) {
  return app.waitForWidget("start.settings") && app.waitForWindow() && app.clickWidget("start.settings") &&
         app.waitForWidget("settings.reset");
}

// The reset button is as wide as its label: its width tells the page's language.
double resetWidth(const AppProcess& app) {
  std::optional<ui::Rect> r = app.widget("settings.reset");
  return r ? r->w : -1;
}

// Tall enough that the whole settings page fits without scrolling at interface scale 1.
class Restart : public E2ETest {
 protected:
  Restart() : E2ETest({}, 1600, 2600) {}

  void expectSaved() {
    EXPECT_TRUE(profile.settingsHave("\"jpegQuality\":75")) << profile.settingsText();
    EXPECT_TRUE(profile.settingsHave("\"imageFormat\":\"png\""));
    EXPECT_TRUE(profile.settingsHave("\"language\":\"de\""));
    EXPECT_TRUE(profile.settingsHave("\"windowW\":1280"));
    EXPECT_TRUE(profile.settingsHave("\"windowH\":2500"));
    EXPECT_TRUE(profile.settingsHave("\"windowX\":100"));
    EXPECT_TRUE(profile.settingsHave("\"windowY\":60"));
  }
};

}  // namespace

TEST_F(Restart, ChoicesAndWindowGeometrySurviveRestartsAndWindowedBeatsFullScreen) {
  double germanWidth = -1;
  {
    AppProcess app(x, profile, {"--size", "1280x2500"});
    ASSERT_TRUE(started(app));
    auto g = app.geometry();
    ASSERT_TRUE(g);
    EXPECT_EQ(std::pair(g->w, g->h), std::pair(1280, 2500));
    ASSERT_EQ(x.xdotool({"windowmove", app.windowId(), "100", "60"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] {
      auto now = app.geometry();
      return now && now->x == 100 && now->y == 60;
    }));

    // Frames after later events: X delivers events in order, so the move has been seen and sampled.
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

  {
    AppProcess app(x, profile, {});
    ASSERT_TRUE(openSettings(app)) << app.err();
    EXPECT_EQ(resetWidth(app), germanWidth);  // drawn in German from the first frame
    EXPECT_TRUE(waitUntil([&] {
      auto g = app.geometry();
      return g && g->x == 100 && g->y == 60 && g->w == 1280 && g->h == 2500;
    }));
    EXPECT_TRUE(app.logHas("Fenster 1280x2500 (gemerkt)"));
    // Past the geometry's settling time (0.4 s after the first frame), F11 is sampled.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(app.key("F11"));
    ASSERT_TRUE(app.waitForNextFrame());
    terminate(app);
  }
  EXPECT_TRUE(profile.settingsHave("\"fullscreen\":true")) << profile.settingsText();
  expectSaved();

  {
    // Sampling starts with the first frame: the saved state is now windowed.
    AppProcess app(x, profile, {"--windowed", "--fullscreen"});
    ASSERT_TRUE(started(app));
    terminate(app);
  }
  EXPECT_TRUE(profile.settingsHave("\"fullscreen\":false")) << profile.settingsText();

  {
    AppProcess app(x, profile, {"--fullscreen"});  // full screen from the option alone
    ASSERT_TRUE(started(app));
    terminate(app);
  }
}

TEST_F(Restart, ACrashIsAnnouncedAtTheNextStart) {
  {
    AppProcess app(x, profile, {});
    ASSERT_TRUE(app.waitForWidget("screen.start")) << app.err();
    app.signal(SIGSEGV);
    ExitStatus s = app.waitExit();
    ASSERT_TRUE(s.exited);
    EXPECT_EQ(s.signal, SIGSEGV);
  }
  std::string report = readFile(profile.runtimeDir() + "/Korvelle_crash.txt");
  EXPECT_NE(report.find("SIGSEGV"), std::string::npos) << report;

  AppProcess again(x, profile, {});
  ASSERT_TRUE(again.waitForWidget("dialog.0")) << again.err();
  EXPECT_TRUE(again.logHas("Bericht vom letzten Lauf: " + profile.dataDir() + "/Korvelle_crash_"));
  EXPECT_FALSE(platform::fs::isFile(profile.runtimeDir() + "/Korvelle_crash.txt"));
  ASSERT_TRUE(again.waitForWindow());
  ASSERT_TRUE(again.clickWidget("dialog.0"));
  EXPECT_TRUE(again.waitForWidget("dialog.0", false)) << again.err();
  terminate(again);
}

TEST_F(Restart, ASecondSigtermEndsAHangingRunWith143) {
  AppProcess app(x, profile, {});
  ASSERT_TRUE(started(app));
  // The display stopped, the program hangs in its next X call; after the first handler a second ends it.
  x.pause();
  app.signal(SIGTERM);
  ASSERT_TRUE(waitUntil([&] { return !app.signalPending(SIGTERM); }));
  EXPECT_TRUE(app.running());
  app.signal(SIGTERM);
  ExitStatus s = app.waitExit();
  x.resume();
  ASSERT_TRUE(s.exited);
  EXPECT_EQ(s.exitCode, 143);
}
