// Widgets driven frame by frame through the screen harness, and the icons'
// pixels.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "support/screen_harness.h"
#include "ui/frames.h"
#include "ui/icons.h"
#include "ui/widgets.h"

using testing_support::ScreenHarness;

namespace {

ui::Input drag(double x, double y, double dy) {
  ui::Input in = ScreenHarness::move(x, y);
  in.dy = dy;
  return in;
}

bool inked(const ScreenHarness& h, double x, double y) { return (h.pixel(x, y) >> 24) > 0x40; }

}  // namespace

TEST(Widgets, DisabledButtonsNeverClick) {
  ScreenHarness h;
  const ui::Rect r{100, 100, 160, 40};
  bool primary = true;
  bool plain = true;
  bool plainSelected = true;
  bool icon = true;
  auto draw = [&](ui::Ctx& c) {
    primary = ui::primaryButton(c, r, "Export", false, "b.primary");
    plain = ui::plainButton(c, ui::Rect{100, 200, 160, 40}, "Keep", false, false, "b.plain");
    plainSelected = ui::plainButton(c, ui::Rect{100, 300, 160, 40}, "Keep", true, false, nullptr);
    icon = ui::iconButton(c, ui::Rect{100, 400, 40, 40}, ui::Icon::Play, false, false, "b.icon");
  };
  for (double y : {120.0, 220.0, 320.0, 420.0}) {
    h.frame(draw, ScreenHarness::press(120, y));
    h.frame(draw, ScreenHarness::release(120, y));
    EXPECT_FALSE(primary || plain || plainSelected || icon) << y;
    h.frame(draw, ScreenHarness::click(120, y));
    EXPECT_FALSE(primary || plain || plainSelected || icon) << y;
    EXPECT_FALSE(h.ctx().clickTaken) << "a disabled button leaves the click to others";
  }
  // Disabled widgets are still registered for the dump.
  EXPECT_TRUE(h.hasWidget("b.primary"));
  EXPECT_TRUE(h.hasWidget("b.plain"));
  EXPECT_TRUE(h.hasWidget("b.icon"));

  // The same buttons enabled do click.
  bool clicked = false;
  h.frame([&](ui::Ctx& c) { clicked = ui::primaryButton(c, r, "Export", true, nullptr); },
          ScreenHarness::click(120, 120));
  EXPECT_TRUE(clicked);
}

TEST(Widgets, FirstOfOverlappingButtonsTakesTheClick) {
  ScreenHarness h;
  bool first = false;
  bool second = false;
  bool chip = false;
  auto draw = [&](ui::Ctx& c) {
    first = ui::primaryButton(c, ui::Rect{100, 100, 200, 40}, "One", true, nullptr);
    second = ui::plainButton(c, ui::Rect{150, 110, 200, 40}, "Two", false, true, nullptr);
    chip = ui::chip(c, ui::Rect{150, 110, 100, 30}, "Three", false, nullptr);
  };
  h.frame(draw, ScreenHarness::click(200, 120));
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  EXPECT_FALSE(chip);

  // Outside the first, the second gets it; a release on the first's right
  // edge is outside the first.
  h.frame(draw, ScreenHarness::click(300, 120));
  EXPECT_FALSE(first);
  EXPECT_TRUE(second);
  EXPECT_FALSE(chip);

  // A press on one button and a release on another clicks the other.
  h.frame(draw, ScreenHarness::press(120, 120));
  EXPECT_FALSE(first || second);
  h.frame(draw, ScreenHarness::release(320, 130));
  EXPECT_FALSE(first);
  EXPECT_TRUE(second);
}

TEST(Widgets, SliderWithEmptyRangeStaysAtMin) {
  ScreenHarness h;
  const ui::Rect r{100, 100, 200, 24};
  double value = -1;
  auto draw = [&](ui::Ctx& c) { value = ui::slider(c, r, 5, 5, 5, "s"); };
  h.frame(draw);
  EXPECT_EQ(value, 5);
  // The knob sits at the left end, none at the other.
  EXPECT_EQ(h.pixel(r.x, r.y + r.h / 2) & 0xFFFFFF, 0xEDF1F4u);
  EXPECT_NE(h.pixel(r.x + r.w, r.y + r.h / 2) & 0xFFFFFF, 0xEDF1F4u);
  h.frame(draw, ScreenHarness::press(250, 112));
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(h.ctx().clickTaken);

  // An inverted range counts as empty too: min comes back.
  h.frame([&](ui::Ctx& c) { value = ui::slider(c, r, 3, 10, 0, nullptr); }, ScreenHarness::press(250, 112));
  EXPECT_EQ(value, 10);
}

TEST(Widgets, SliderFollowsThePointerWhilePressed) {
  ScreenHarness h;
  const double s = h.ctx().uiScale;
  const ui::Rect r{100, 100, 200, 24};
  double value = 40;
  auto draw = [&](ui::Ctx& c) { value = ui::slider(c, r, value, -100, 100, "s"); };

  h.frame(draw, ScreenHarness::move(150, 112));  // hovering alone changes nothing
  EXPECT_DOUBLE_EQ(value, 40);
  h.frame(draw, ScreenHarness::press(150, 112));
  EXPECT_DOUBLE_EQ(value, -50);
  h.frame(draw, ScreenHarness::move(250, 112));  // held
  EXPECT_DOUBLE_EQ(value, 50);
  h.frame(draw, ScreenHarness::move(r.x + r.w + 8 * s, 112));  // beyond the end, inside the margin
  EXPECT_DOUBLE_EQ(value, 100);
  h.frame(draw, ScreenHarness::move(r.x - 8 * s, 112));
  EXPECT_DOUBLE_EQ(value, -100);
  h.frame(draw, ScreenHarness::move(200, 200));  // left the slider: no capture
  EXPECT_DOUBLE_EQ(value, -100);
  h.frame(draw, ScreenHarness::move(200, 112));  // back while still held
  EXPECT_DOUBLE_EQ(value, 0);
  h.frame(draw, ScreenHarness::release(275, 112));
  EXPECT_DOUBLE_EQ(value, 0);
  h.frame(draw, ScreenHarness::move(275, 112));
  EXPECT_DOUBLE_EQ(value, 0);
}

TEST(Widgets, DropdownOpensChoosesAndCloses) {
  ScreenHarness h;
  const double s = h.ctx().uiScale;
  const ui::Rect box{100, 100, 220, 36};
  const std::vector<std::string> options = {"Original", "1080p", "720p"};
  bool open = false;
  int chosen = -2;
  bool later = false;
  auto draw = [&](ui::Ctx& c) {
    chosen = ui::dropdown(c, box, options, 1, &open, "dd");
    later = ui::plainButton(c, ui::Rect{600, 400, 100, 40}, "Later", false, true, nullptr);
  };

  h.frame(draw, ScreenHarness::click(150, 118));
  EXPECT_TRUE(open);
  EXPECT_EQ(chosen, -1);
  h.frame(draw);
  // Below the box, one row per option.
  std::optional<ui::Rect> first = h.widget("dd.0");
  ASSERT_TRUE(first);
  EXPECT_NEAR(first->y, box.y + box.h + 4 * s, 1);
  EXPECT_TRUE(h.hasWidget("dd.2"));
  EXPECT_FALSE(h.hasWidget("dd.3"));

  std::optional<ui::Rect> third = h.widget("dd.2");
  h.frame(draw, ScreenHarness::click(third->x + 20, third->y + third->h / 2));
  EXPECT_EQ(chosen, 2);
  EXPECT_FALSE(open);

  // The box flips it open and shut.
  h.frame(draw, ScreenHarness::click(150, 118));
  EXPECT_TRUE(open);
  h.frame(draw, ScreenHarness::click(150, 118));
  EXPECT_FALSE(open);

  // A click elsewhere closes it without choosing; the widget drawn later
  // still gets that click.
  h.frame(draw, ScreenHarness::click(150, 118));
  ASSERT_TRUE(open);
  h.frame(draw, ScreenHarness::click(650, 420));
  EXPECT_FALSE(open);
  EXPECT_EQ(chosen, -1);
  EXPECT_TRUE(later);

  // A click taken by a widget drawn earlier leaves it open.
  open = true;
  h.frame(
      [&](ui::Ctx& c) {
        ui::primaryButton(c, ui::Rect{600, 500, 100, 40}, "Earlier", true, nullptr);
        chosen = ui::dropdown(c, box, options, 1, &open, "dd");
      },
      ScreenHarness::click(650, 520));
  EXPECT_TRUE(open);
}

TEST(Widgets, DropdownNearTheBottomOpensUpwardWithWhatFits) {
  ScreenHarness h(1000, 600);
  const double s = h.ctx().uiScale;
  const ui::Rect box{100, 540, 220, 36};
  std::vector<std::string> options;
  for (int i = 0; i < 30; ++i) options.push_back("Option " + std::to_string(i));
  bool open = true;
  h.frame([&](ui::Ctx& c) { ui::dropdown(c, box, options, 0, &open, "dd"); });

  // Half the window (300) holds floor(300 / 34·s) rows.
  const double itemH = 34 * s;
  const int fits = static_cast<int>(std::floor(300 / itemH));
  const double top = box.y - 300 - 4 * s;
  for (int i = 0; i < fits; ++i) {
    std::optional<ui::Rect> item = h.widget("dd." + std::to_string(i));
    ASSERT_TRUE(item) << i;
    EXPECT_NEAR(item->y, top + i * itemH, 1) << i;
    EXPECT_LE(item->y + item->h, box.y);
  }
  EXPECT_FALSE(h.hasWidget("dd." + std::to_string(fits)));

  // Every item of a short list fits exactly, at the same place on top.
  const std::vector<std::string> three = {"a", "b", "c"};
  h.frame([&](ui::Ctx& c) { ui::dropdown(c, box, three, 0, &open, "dd"); });
  std::optional<ui::Rect> last = h.widget("dd.2");
  ASSERT_TRUE(last);
  EXPECT_NEAR(last->y + last->h, box.y - 4 * s, 1);
  EXPECT_NEAR(h.widget("dd.0")->y, box.y - 3 * itemH - 4 * s, 1);
}

TEST(Widgets, DraggedListNeverClicksTheRowUnderTheRelease) {
  ScreenHarness h;
  const ui::Rect view{100, 100, 300, 200};
  double offset = 0;
  std::vector<int> clicks;
  auto draw = [&](ui::Ctx& c) {
    ui::applyScroll(c, view, 1000, &offset);
    for (int i = 0; i < 20; ++i) {
      const ui::Rect row{view.x, view.y + i * 50 - offset, view.w, 44};
      if (ui::plainButton(c, row, "Row", false, true, nullptr)) clicks.push_back(i);
    }
  };

  // A plain click reaches the row.
  h.frame(draw, ScreenHarness::click(200, 120));
  EXPECT_EQ(clicks, std::vector<int>{0});
  clicks.clear();

  // Dragged by 30: no click, wherever the release lands.
  h.frame(draw, ScreenHarness::press(200, 220));
  h.frame(draw, drag(200, 210, -10));
  h.frame(draw, drag(200, 200, -10));
  h.frame(draw, drag(200, 190, -10));
  EXPECT_DOUBLE_EQ(offset, 30);
  h.frame(draw, ScreenHarness::release(200, 190));
  EXPECT_TRUE(clicks.empty());
  EXPECT_FALSE(h.ctx().scrollDragging);

  // A jitter of 3 (under 4·s) still clicks.
  h.ctx().scrollVelocity = 0;
  h.frame(draw, ScreenHarness::press(200, 220));
  h.frame(draw, drag(200, 217, -3));
  h.frame(draw, ScreenHarness::release(200, 217));
  EXPECT_EQ(clicks.size(), 1u);
}

TEST(Widgets, KineticScrollDecaysAndStopsAtTheEnds) {
  ScreenHarness h;
  const ui::Rect view{100, 100, 300, 300};
  double offset = 0;
  auto draw = [&](ui::Ctx& c) { ui::applyScroll(c, view, 1000, &offset); };

  h.frame(draw, ScreenHarness::press(200, 300));
  for (int i = 0; i < 5; ++i) h.frame(draw, drag(200, 300 - 12 * (i + 1), -12));
  EXPECT_DOUBLE_EQ(offset, 60);
  h.frame(draw, ScreenHarness::release(200, 240));
  EXPECT_DOUBLE_EQ(offset, 60);

  // Coasting on: each step smaller than the one before, frames requested
  // while it moves, until it stops.
  std::vector<double> steps;
  bool requestedWhileMoving = true;
  for (int i = 0; i < 400; ++i) {
    ui::beginRequestedFrame();
    const double before = offset;
    h.frame(draw);
    if (offset == before) break;
    steps.push_back(offset - before);
    if (std::fabs(h.ctx().scrollVelocity) > 0.05) requestedWhileMoving &= ui::secondsUntilRequestedFrame() <= 0;
  }
  ASSERT_GT(steps.size(), 10u);
  EXPECT_LT(steps.size(), 200u);
  EXPECT_TRUE(requestedWhileMoving);
  for (size_t i = 1; i < steps.size(); ++i) {
    EXPECT_GT(steps[i], 0);
    EXPECT_LT(steps[i], steps[i - 1]);
  }
  const double rest = offset;
  ui::beginRequestedFrame();
  h.frame(draw);
  EXPECT_DOUBLE_EQ(offset, rest);
  EXPECT_GT(ui::secondsUntilRequestedFrame(), 0) << "no frames asked for once it stopped";

  // A hard flick toward the end stops there, and at the top likewise.
  h.frame(draw, ScreenHarness::press(200, 390));
  for (int i = 0; i < 5; ++i) h.frame(draw, drag(200, 390 - 60 * i, -60));
  h.frame(draw, ScreenHarness::release(200, 100));
  for (int i = 0; i < 50; ++i) h.frame(draw);
  EXPECT_DOUBLE_EQ(offset, 700);
  EXPECT_EQ(h.ctx().scrollVelocity, 0);

  h.frame(draw, ScreenHarness::press(200, 110));
  for (int i = 0; i < 5; ++i) h.frame(draw, drag(200, 110 + 50 * i, 50));
  h.frame(draw, ScreenHarness::release(200, 390));
  for (int i = 0; i < 80; ++i) h.frame(draw);
  EXPECT_DOUBLE_EQ(offset, 0);
  EXPECT_EQ(h.ctx().scrollVelocity, 0);

  // The wheel moves it by 48·s a notch; another list's offset is only clamped.
  ui::Input wheel = ScreenHarness::move(200, 200);
  wheel.wheel = -2;
  h.frame(draw, wheel);
  EXPECT_DOUBLE_EQ(offset, 96 * h.ctx().uiScale);
  double other = 5000;
  h.frame([&](ui::Ctx& c) { ui::applyScroll(c, ui::Rect{500, 100, 100, 100}, 300, &other); });
  EXPECT_DOUBLE_EQ(other, 200);
  h.frame([&](ui::Ctx& c) { ui::applyScroll(c, view, 1000, nullptr); });
}

TEST(Widgets, TooltipWaitsForRestAndRestartsOnAnotherText) {
  ScreenHarness h;
  const ui::Rect a{100, 100, 40, 40};
  const ui::Rect b{300, 100, 40, 40};
  auto draw = [&](ui::Ctx& c) {
    ui::tooltip(c, a, "Rotate");
    ui::tooltip(c, b, "Crop");
    ui::drawTooltip(c);
  };
  // The tooltip box lies 6·s below its area, centred.
  auto shownUnder = [&](const ui::Rect& r) { return inked(h, r.x + r.w / 2, r.y + r.h + 12); };

  ui::beginRequestedFrame();
  h.frame(draw, ScreenHarness::move(120, 120));
  EXPECT_FALSE(shownUnder(a));
  EXPECT_LE(ui::secondsUntilRequestedFrame(), ui::kTooltipDelay) << "the delay's end is asked for";
  h.advance(0.3);
  h.frame(draw, ScreenHarness::move(121, 120));
  EXPECT_FALSE(shownUnder(a));
  h.advance(0.3);
  h.frame(draw, ScreenHarness::move(121, 120));
  EXPECT_TRUE(shownUnder(a));

  // Another text starts the wait again.
  h.frame(draw, ScreenHarness::move(320, 120));
  EXPECT_FALSE(shownUnder(b));
  EXPECT_FALSE(shownUnder(a));
  h.advance(0.4);
  h.frame(draw, ScreenHarness::move(320, 120));
  EXPECT_FALSE(shownUnder(b));
  h.advance(0.2);
  h.frame(draw, ScreenHarness::move(320, 120));
  EXPECT_TRUE(shownUnder(b));

  // Leaving hides it; coming back waits again.
  h.frame(draw, ScreenHarness::move(600, 600));
  EXPECT_FALSE(shownUnder(b));
  h.frame(draw, ScreenHarness::move(320, 120));
  EXPECT_FALSE(shownUnder(b));
  h.advance(0.6);
  h.frame(draw, ScreenHarness::move(320, 120));
  EXPECT_TRUE(shownUnder(b));

  // Near the bottom it goes above its area.
  const ui::Rect low{600, h.ctx().h - 30, 40, 30};
  auto drawLow = [&](ui::Ctx& c) {
    ui::tooltip(c, low, "Export");
    ui::drawTooltip(c);
  };
  h.frame(drawLow, ScreenHarness::move(620, low.y + 10));
  h.advance(0.6);
  h.frame(drawLow, ScreenHarness::move(620, low.y + 10));
  EXPECT_TRUE(inked(h, 620, low.y - 12));
}

TEST(Icons, EveryGlyphStaysInsideItsSquare) {
  for (double size : {10.0, 32.0, 45.0}) {
    for (int value = 0; value < ui::kIconCount; ++value) {
      cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 80, 80);
      cairo_t* cr = cairo_create(surface);
      cairo_set_line_width(cr, 7);
      ui::drawIcon(cr, static_cast<ui::Icon>(value), 40, 40, size, 0xFFFFFF, 1);
      EXPECT_DOUBLE_EQ(cairo_get_line_width(cr), 7) << "the cairo state is restored";
      cairo_destroy(cr);
      cairo_surface_flush(surface);

      const double lo = 40 - size / 2;
      const double hi = 40 + size / 2;
      const unsigned char* data = cairo_image_surface_get_data(surface);
      const int stride = cairo_image_surface_get_stride(surface);
      int inside = 0;
      int outside = 0;
      for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 80; ++x) {
          const uint32_t alpha = reinterpret_cast<const uint32_t*>(data + y * stride)[x] >> 24;
          if (alpha == 0) continue;
          const bool out = x + 1 <= lo || x >= hi || y + 1 <= lo || y >= hi;
          (out ? outside : inside)++;
        }
      }
      EXPECT_EQ(outside, 0) << "icon " << value << " at " << size;
      EXPECT_GT(inside, size > 20 ? 20 : 5) << "icon " << value << " at " << size;
      cairo_surface_destroy(surface);
    }
  }
}

TEST(Icons, ValuesBeyondTheSetDrawNothing) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 40);
  cairo_t* cr = cairo_create(surface);
  for (int value : {24, 25, 100, -1}) ui::drawIcon(cr, static_cast<ui::Icon>(value), 20, 20, 32, 0xFFFFFF, 1);
  ui::drawIcon(cr, ui::Icon::Plus, 20, 20, 0, 0xFFFFFF, 1);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) ASSERT_EQ(reinterpret_cast<const uint32_t*>(data + y * stride)[x], 0u);
  }
  cairo_surface_destroy(surface);
}

TEST(Widgets, SheetCloseButtonAndScrollbar) {
  ScreenHarness h;
  const double s = h.ctx().uiScale;
  const ui::Rect sheet{200, 100, 400, 300};
  bool closed = false;
  auto draw = [&](ui::Ctx& c) { closed = ui::sheetBox(c, sheet, "Adjust", "sheet"); };
  h.frame(draw);
  std::optional<ui::Rect> close = h.widget("sheet.close");
  ASSERT_TRUE(close);
  EXPECT_NEAR(close->x, sheet.x + sheet.w - 48 * s, 1);
  EXPECT_NEAR(close->y, sheet.y + 8 * s, 1);
  EXPECT_FALSE(closed);
  h.frame(draw, ScreenHarness::click(close->x + 5, close->y + 5));
  EXPECT_TRUE(closed);

  // At the end of the content the thumb sits at the bottom of the view.
  const ui::Rect view{200, 150, 400, 200};
  h.frame([&](ui::Ctx& c) { ui::scrollbar(c, view, 800, 600); });
  EXPECT_TRUE(inked(h, 600 - 4 * s, 345));
  EXPECT_FALSE(inked(h, 600 - 4 * s, 160));
  h.frame([&](ui::Ctx& c) { ui::scrollbar(c, view, 800, 0); });
  EXPECT_TRUE(inked(h, 600 - 4 * s, 160));
  EXPECT_FALSE(inked(h, 600 - 4 * s, 345));
  // Content that fits shows no bar.
  h.frame([&](ui::Ctx& c) { ui::scrollbar(c, view, 200, 0); });
  EXPECT_FALSE(inked(h, 600 - 4 * s, 160));
}
