// The router's order, the modal dialog and the busy overlay.
#include <SDL_keycode.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "screens/screen_fixtures.h"

using namespace screen_fixtures;
using Router = HarnessTest;

// A centred panel, every button inside it and below the texts, two sharing a row, more stacked.
TEST(DialogLayout, TwoButtonsShareARowThreeStack) {
  const struct {
    double winW, s, bodyH;
    int n;
  } cases[] = {{1280, 1, 40, 2}, {1280, 1, 0, 3}, {1280, 1, 0, 1}, {600, 1.5, 0, 2}, {1920, 2, 90, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.winW << " " << c.s << " " << c.n);
    const ui::DialogLayout l = ui::dialogLayout(c.winW, 720, c.s, 30, c.bodyH, c.n);
    ASSERT_EQ(l.buttons.size(), static_cast<size_t>(c.n));
    EXPECT_DOUBLE_EQ(l.panel.x, (c.winW - l.panel.w) / 2);
    EXPECT_DOUBLE_EQ(l.panel.y, (720 - l.panel.h) / 2);
    EXPECT_LE(l.panel.w, c.winW - 64 * c.s);  // room on both sides
    EXPECT_DOUBLE_EQ(l.textWidth, l.panel.w - 2 * l.inset);
    const double textsEnd = l.panel.y + l.inset + 30 + c.bodyH;
    for (size_t i = 0; i < l.buttons.size(); ++i) {
      const ui::Rect& b = l.buttons[i];
      EXPECT_GE(b.x, l.panel.x + l.inset);
      EXPECT_LE(b.x + b.w, l.panel.x + l.panel.w - l.inset + 1e-9);
      EXPECT_GT(b.y, textsEnd);
      EXPECT_LE(b.y + b.h, l.panel.y + l.panel.h - l.inset + 1e-9);
      if (i == 0) continue;
      const ui::Rect& a = l.buttons[i - 1];
      if (c.n == 2) {
        EXPECT_DOUBLE_EQ(b.y, a.y);
        EXPECT_DOUBLE_EQ(b.w, a.w);
        EXPECT_GT(b.x, a.x + a.w);
      } else {
        EXPECT_DOUBLE_EQ(b.w, l.textWidth);
        EXPECT_GT(b.y, a.y + a.h);
      }
    }
  }
}

TEST(BusyTexts, RemainingTimeRoundsToSecondsThenMinutes) {
  // 1e300 is clamped, not overflowing.
  for (auto [seconds, text] : {std::pair{59.4, "59 s"}, {59.6, "1:00"}, {3725.0, "62:05"}, {0.0, "0 s"},
                               {60.0, "1:00"}, {1e300, "16666666:40"}})
    EXPECT_EQ(ui::busyTimeText(seconds), text) << seconds;
  for (auto [percent, fraction] : {std::pair{150.0, 1.0}, {-5.0, 0.0}, {42.0, 0.42}})
    EXPECT_DOUBLE_EQ(ui::busyFraction(percent), fraction);

  ui::BusyState b;
  b.progress = 42.4;
  b.remaining = 59.6;
  EXPECT_EQ(ui::busyInfoLine(b), "42 %  ·  about 1:00 left");
  b.detail = "2 of 3";
  b.remaining = -1;
  EXPECT_EQ(ui::busyInfoLine(b), "42 %  ·  2 of 3  ·  Estimating time left…");

  // An over-long detail is cut to 191 bytes without splitting a character.
  b.detail.clear();
  for (int i = 0; i < 150; ++i) b.detail += "\xC3\xA4";  // ä
  std::string line = ui::busyInfoLine(b);
  EXPECT_LE(line.size(), 191u);
  EXPECT_GE(line.size(), 189u);
  EXPECT_EQ(line.substr(line.size() - 2), "\xC3\xA4");
}

TEST_F(Router, DialogWithoutButtonsGetsOneCloseButtonAndAnswersOnce) {
  ui::showDialog("The app crashed last time", "Report saved.", {});
  EXPECT_TRUE(ui::dialogOpen());
  h_.appFrame();
  EXPECT_TRUE(h_.hasWidget("dialog.0"));
  EXPECT_FALSE(h_.hasWidget("dialog.1"));
  ui::Rect b = *h_.widget("dialog.0");
  EXPECT_EQ(h_.pixel(b.x + 3, b.y + b.h / 2), 0xFF2C6392u);  // primary fill
  EXPECT_EQ(ui::takeDialogResult(), -1);

  h_.appFrame(ScreenHarness::move(b.x + 3, b.y + b.h / 2));
  EXPECT_EQ(h_.pixel(b.x + 3, b.y + b.h / 2), 0xFF3F7CAEu);  // hovered

  // A click beside the buttons is swallowed and closes nothing.
  h_.appFrame(ScreenHarness::click(5, 5));
  EXPECT_TRUE(ui::dialogOpen());
  EXPECT_TRUE(h_.ctx().clickTaken);

  ASSERT_TRUE(h_.clickWidget("dialog.0"));
  EXPECT_FALSE(ui::dialogOpen());
  EXPECT_EQ(ui::takeDialogResult(), 0);
  EXPECT_EQ(ui::takeDialogResult(), -1);  // taken once
  h_.appFrame();
  EXPECT_FALSE(h_.hasWidget("dialog.0"));
  EXPECT_TRUE(h_.hasWidget("screen.start"));
}

TEST_F(Router, ThreeButtonsStackAndTheChosenIndexComesBack) {
  ui::showDialog("Close editor?", "Unsaved changes will be lost.",
                 {{"Cancel", 0}, {"Save", 1}, {"Discard", 2}});
  h_.appFrame();
  ui::Rect b0 = *h_.widget("dialog.0"), b1 = *h_.widget("dialog.1"), b2 = *h_.widget("dialog.2");
  EXPECT_EQ(b0.x, b2.x);
  EXPECT_LT(b0.y, b1.y);
  EXPECT_LT(b1.y, b2.y);
  // The destructive button's outline is red, the others' grey.
  auto reddest = [this](const ui::Rect& r) {
    uint32_t best = 0;
    for (double y = r.y - 1; y <= r.y + 1; ++y) best = std::max(best, (h_.pixel(r.x + r.w / 2, y) >> 16) & 0xFF);
    return best;
  };
  EXPECT_GT(reddest(b2), 0x90u);
  EXPECT_LT(reddest(b0), 0x60u);

  // A new dialog replaces the open one and resets the result.
  ASSERT_TRUE(h_.clickWidget("dialog.2"));
  EXPECT_FALSE(ui::dialogOpen());
  ui::showDialog("Again", "", {{"A", 0}, {"B", 1}});
  EXPECT_EQ(ui::takeDialogResult(), -1);
  h_.appFrame();
  EXPECT_EQ(h_.widget("dialog.0")->y, h_.widget("dialog.1")->y);
  ASSERT_TRUE(h_.clickWidget("dialog.1"));
  EXPECT_EQ(ui::takeDialogResult(), 1);
}

TEST_F(Router, BusyOverlayWithholdsTheBaseScreenAndSwallowsClicks) {
  EXPECT_TRUE(ui::App::instance().baseScreenGetsInput());
  ui::BusyState& busy = ui::busy();
  busy.active = true;
  busy.label = "Exporting…";
  busy.progress = 150;
  busy.remaining = 59.6;
  EXPECT_FALSE(ui::App::instance().baseScreenGetsInput());

  h_.appFrame();
  ui::Rect cancel = *h_.widget("busy.cancel");
  // Panel 420 × 190 centred; track 24 px in, 84 px down, 372 wide.
  double trackX = (1280 - 420) / 2.0 + 24;
  double trackY = (720 - 190) / 2.0 + 84;
  EXPECT_EQ(h_.pixel(trackX + 372 - 6, trackY + 5), 0xFF5E9FD4u);  // over 100 %: full
  busy.progress = 50;
  h_.appFrame();
  EXPECT_EQ(h_.pixel(trackX + 180, trackY + 5), 0xFF5E9FD4u);
  EXPECT_EQ(h_.pixel(trackX + 192, trackY + 5), 0xFF2F3944u);

  h_.appFrame(ScreenHarness::click(10, 10));
  EXPECT_TRUE(h_.ctx().clickTaken);
  EXPECT_FALSE(busy.cancelRequested);
  ASSERT_TRUE(h_.clickWidget("busy.cancel"));
  EXPECT_TRUE(busy.cancelRequested);

  // Without a cancel button a click there only gets swallowed.
  busy.cancellable = false;
  busy.cancelRequested = false;
  h_.appFrame(ScreenHarness::click(cancel.x + 5, cancel.y + 5));
  EXPECT_FALSE(h_.hasWidget("busy.cancel"));
  EXPECT_FALSE(busy.cancelRequested);
  EXPECT_TRUE(h_.ctx().clickTaken);
}

TEST_F(Router, WithheldInputHidesEverythingAndIsRestoredAfterwards) {
  ui::Input in = ScreenHarness::click(100, 100);
  in.keys = {SDLK_RETURN};
  in.text = "a";
  in.dropped = {"/tmp/x.jpg"};
  in.wheel = 2;
  in.dx = 3;
  in.ctrl = true;
  h_.frame(
      [](ui::Ctx& c) {
        bool baseTook = true;
        ui::drawWithInputWithheld(c, [&baseTook](ui::Ctx& inner) {
          const ui::Input& w = inner.in;
          EXPECT_EQ(w.mx, -1000000000.0);
          EXPECT_FALSE(w.pressed || w.released || w.held || w.rightClick || w.ctrl || w.shift);
          EXPECT_TRUE(w.keys.empty() && w.text.empty() && w.dropped.empty());
          EXPECT_EQ(w.wheel + w.dx + w.dy, 0);
          baseTook = inner.takeClick({0, 0, 800, 600});
          inner.clickTaken = true;  // even a base screen that marks the click taken
        });
        EXPECT_FALSE(baseTook);
        EXPECT_FALSE(c.clickTaken);  // … leaves it for the screens on top
        EXPECT_EQ(c.in.dropped.size(), 1u);
        EXPECT_TRUE(c.takeClick({0, 0, 800, 600}));
      },
      in);
}

TEST_F(Router, SecondaryScreenIsDrawnOverTheBaseInTheSameFrame) {
  ui::App::instance().screen = ui::App::Settings;
  EXPECT_FALSE(ui::App::instance().baseScreenGetsInput());
  h_.appFrame();
  auto lines = h_.dump();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].id, "screen.start");  // base first, then the screen on top
  size_t settingsAt = lines.size(), lastStart = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].id == "screen.settings") settingsAt = i;
    if (lines[i].id.rfind("start.", 0) == 0 || lines[i].id == "screen.start") lastStart = i;
  }
  ASSERT_LT(settingsAt, lines.size());
  EXPECT_LT(lastStart, settingsAt);
}
