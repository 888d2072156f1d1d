// Window geometry across runs: the size option, the saved size and position,
// full screen and the option that overrides it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

using Window = E2ETest;

}  // namespace

TEST_F(Window, SizeOptionThenSavedSizeAndPositionComeBack) {
  {
    AppProcess app(x, profile, {"--size", "1000x700"});
    ASSERT_TRUE(started(app));
    auto g = app.geometry();
    ASSERT_TRUE(g);
    EXPECT_EQ(g->w, 1000);
    EXPECT_EQ(g->h, 700);
    EXPECT_TRUE(app.logHas("Fenster 1000x700 (aus dem Schirm gerechnet)"));

    // Move the window, then wait for a frame after a later event: X delivers
    // events in order, so by then the move has been seen and sampled.
    ASSERT_EQ(x.xdotool({"windowmove", app.windowId(), "100", "120"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] {
      auto now = app.geometry();
      return now && now->x == 100 && now->y == 120;
    }));
    ASSERT_EQ(x.xdotool({"mousemove", "--window", app.windowId(), "50", "50"}).exitCode, 0);
    ASSERT_TRUE(app.waitForNextFrame());
    terminate(app);
  }
  EXPECT_TRUE(profile.settingsHave("\"windowW\":1000")) << profile.settingsText();
  EXPECT_TRUE(profile.settingsHave("\"windowH\":700"));
  EXPECT_TRUE(profile.settingsHave("\"windowX\":100"));
  EXPECT_TRUE(profile.settingsHave("\"windowY\":120"));

  AppProcess again(x, profile, {});
  ASSERT_TRUE(started(again));
  EXPECT_TRUE(waitUntil([&] {
    auto g = again.geometry();
    return g && g->x == 100 && g->y == 120 && g->w == 1000 && g->h == 700;
  })) << again.geometry().value_or(AppProcess::Geometry{}).x;
  EXPECT_TRUE(again.logHas("Fenster 1000x700 (gemerkt)"));
  terminate(again);
}

TEST_F(Window, WindowedOverridesASavedFullScreen) {
  {
    AppProcess app(x, profile, {"--fullscreen"});
    ASSERT_TRUE(started(app));
    // A frame past the geometry's settling time (0.6 s after the first one).
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ASSERT_EQ(x.xdotool({"mousemove", "--window", app.windowId(), "50", "50"}).exitCode, 0);
    ASSERT_TRUE(app.waitForNextFrame());
    terminate(app);
  }
  ASSERT_TRUE(profile.settingsHave("\"fullscreen\":true")) << profile.settingsText();

  {
    AppProcess app(x, profile, {"--windowed", "--fullscreen"});
    ASSERT_TRUE(started(app));
    // Sampling starts with the first frame: the saved state is now windowed.
    terminate(app);
  }
  EXPECT_TRUE(profile.settingsHave("\"fullscreen\":false")) << profile.settingsText();

  // F11 switches full screen on in a run and the next start remembers it.
  {
    AppProcess app(x, profile, {});
    ASSERT_TRUE(started(app));
    ASSERT_TRUE(app.key("F11"));
    ASSERT_TRUE(app.waitForNextFrame());
    terminate(app);
  }
  EXPECT_TRUE(profile.settingsHave("\"fullscreen\":true")) << profile.settingsText();
}
