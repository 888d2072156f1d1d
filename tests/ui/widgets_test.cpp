// Widgets driven frame by frame through the screen harness, and the icons'
// pixels. Buttons are the screen cases' (and Ctx::takeClick app/input_test's).
#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
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

class Widgets : public ::testing::Test {
 protected:
  ScreenHarness h_;
};

}  // namespace

TEST_F(Widgets, SliderWithEmptyOrInvertedRangeAnswersMin) {
  const ui::Rect r{100, 100, 200, 24};
  double value = -1;
  h_.frame([&](ui::Ctx& c) { value = ui::slider(c, r, 5, 5, 5, "s"); });
  EXPECT_EQ(value, 5);
  h_.frame([&](ui::Ctx& c) { value = ui::slider(c, r, 5, 5, 5, "s"); }, ScreenHarness::press(250, 112));
  EXPECT_EQ(value, 5);
  EXPECT_TRUE(h_.ctx().clickTaken);
  h_.frame([&](ui::Ctx& c) { value = ui::slider(c, r, 3, 10, 0, nullptr); }, ScreenHarness::press(250, 112));
  EXPECT_EQ(value, 10);
}

TEST_F(Widgets, SliderFollowsThePointerWhilePressed) {
  const double s = h_.ctx().uiScale;
  const ui::Rect r{100, 100, 200, 24};  // -100 … 100
  double value = 40;
  const struct {
    ui::Input in;
    double want;
  } steps[] = {{ScreenHarness::press(150, 112), -50},
               {ScreenHarness::move(250, 112), 50},  // held
               {ScreenHarness::move(r.x + r.w + 8 * s, 112), 100},  // beyond the end, inside the margin
               {ScreenHarness::move(r.x - 8 * s, 112), -100},
               {ScreenHarness::move(200, 200), -100},  // left the slider: no capture
               {ScreenHarness::move(200, 112), 0},     // back while still held
               {ScreenHarness::release(275, 112), 0}};
  for (size_t i = 0; i < std::size(steps); ++i) {
    h_.frame([&](ui::Ctx& c) { value = ui::slider(c, r, value, -100, 100, "s"); }, steps[i].in);
    EXPECT_DOUBLE_EQ(value, steps[i].want) << "step " << i;
  }
}

// Opening and choosing go through the format sheet's screen cases; here the
// ways a list closes without a choice.
TEST_F(Widgets, DropdownClosesOnItsBoxOrAClickElsewhere) {
  const ui::Rect box{100, 100, 220, 36};
  const std::vector<std::string> options = {"Original", "1080p", "720p"};
  bool open = false;
  int chosen = -2;
  bool later = false;
  auto draw = [&](ui::Ctx& c) {
    chosen = ui::dropdown(c, box, options, 1, &open, "dd");
    later = ui::plainButton(c, ui::Rect{600, 400, 100, 40}, "Later", false, true, nullptr);
  };
  h_.frame(draw, ScreenHarness::click(150, 118));
  EXPECT_TRUE(open);
  h_.frame(draw, ScreenHarness::click(150, 118));
  EXPECT_FALSE(open);
  h_.frame(draw, ScreenHarness::click(150, 118));
  ASSERT_TRUE(open);
  // A click elsewhere closes it without choosing; the widget drawn later still gets it.
  h_.frame(draw, ScreenHarness::click(650, 420));
  EXPECT_FALSE(open);
  EXPECT_EQ(chosen, -1);
  EXPECT_TRUE(later);

  // A click taken by a widget drawn earlier leaves it open.
  open = true;
  h_.frame(
      [&](ui::Ctx& c) {
        ui::primaryButton(c, ui::Rect{600, 500, 100, 40}, "Earlier", true, nullptr);
        chosen = ui::dropdown(c, box, options, 1, &open, "dd");
      },
      ScreenHarness::click(650, 520));
  EXPECT_TRUE(open);
}

// Rows of one height stacked above the box, as many as half the window holds.
TEST(Dropdown, NearTheBottomItOpensUpwardWithWhatFits) {
  ScreenHarness h(1000, 600);
  const ui::Rect box{100, 540, 220, 36};
  std::vector<std::string> options;
  for (int i = 0; i < 30; ++i) options.push_back("Option " + std::to_string(i));
  bool open = true;
  h.frame([&](ui::Ctx& c) { ui::dropdown(c, box, options, 0, &open, "dd"); });
  std::vector<ui::Rect> rows;
  while (std::optional<ui::Rect> row = h.widget("dd." + std::to_string(rows.size()))) rows.push_back(*row);
  ASSERT_GT(rows.size(), 2u);
  const double n = static_cast<double>(rows.size());
  const double itemH = (rows.back().y - rows[0].y) / (n - 1);
  EXPECT_LE(rows.back().y + itemH, box.y + 0.5);
  EXPECT_LE(n * itemH, 301);
  EXPECT_GT((n + 1) * itemH, 300);
}

TEST_F(Widgets, DraggedListNeverClicksTheRowUnderTheRelease) {
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

  // Dragged by 30: no click, wherever the release lands.
  h_.frame(draw, ScreenHarness::press(200, 220));
  h_.frame(draw, drag(200, 210, -10));
  h_.frame(draw, drag(200, 200, -10));
  h_.frame(draw, drag(200, 190, -10));
  EXPECT_DOUBLE_EQ(offset, 30);
  h_.frame(draw, ScreenHarness::release(200, 190));
  EXPECT_TRUE(clicks.empty());

  // A jitter of 3 (under 4·s) still clicks.
  h_.ctx().scrollVelocity = 0;
  h_.frame(draw, ScreenHarness::press(200, 220));
  h_.frame(draw, drag(200, 217, -3));
  h_.frame(draw, ScreenHarness::release(200, 217));
  EXPECT_EQ(clicks.size(), 1u);
}

TEST_F(Widgets, KineticScrollDecaysAndStopsAtTheEnds) {
  const ui::Rect view{100, 100, 300, 300};
  double offset = 0;
  auto draw = [&](ui::Ctx& c) { ui::applyScroll(c, view, 1000, &offset); };

  h_.frame(draw, ScreenHarness::press(200, 300));
  for (int i = 0; i < 5; ++i) h_.frame(draw, drag(200, 300 - 12 * (i + 1), -12));
  EXPECT_DOUBLE_EQ(offset, 60);
  h_.frame(draw, ScreenHarness::release(200, 240));

  // Coasting on: each step smaller than the one before, frames asked for until it stops.
  std::vector<double> steps;
  bool requestedWhileMoving = true;
  for (int i = 0; i < 400; ++i) {
    ui::beginRequestedFrame();
    const double before = offset;
    h_.frame(draw);
    if (offset == before) break;
    steps.push_back(offset - before);
    if (std::fabs(h_.ctx().scrollVelocity) > 0.05) requestedWhileMoving &= ui::secondsUntilRequestedFrame() <= 0;
  }
  ASSERT_GT(steps.size(), 10u);
  EXPECT_TRUE(requestedWhileMoving);
  for (size_t i = 1; i < steps.size(); ++i) {
    EXPECT_GT(steps[i], 0);
    EXPECT_LT(steps[i], steps[i - 1]);
  }
  ui::beginRequestedFrame();
  h_.frame(draw);
  EXPECT_GT(ui::secondsUntilRequestedFrame(), 0) << "no frames asked for once it stopped";

  // A hard flick toward the end stops there, and at the top likewise.
  for (const auto& [y, dy, up, stop] : {std::tuple{390.0, -60.0, 100.0, 700.0}, std::tuple{110.0, 50.0, 390.0, 0.0}}) {
    h_.frame(draw, ScreenHarness::press(200, y));
    for (int i = 0; i < 5; ++i) h_.frame(draw, drag(200, y + dy * i, dy));
    h_.frame(draw, ScreenHarness::release(200, up));
    for (int i = 0; i < 80; ++i) h_.frame(draw);
    EXPECT_DOUBLE_EQ(offset, stop);
    EXPECT_EQ(h_.ctx().scrollVelocity, 0);
  }

  // Another list's offset is only clamped.
  double other = 5000;
  h_.frame([&](ui::Ctx& c) { ui::applyScroll(c, ui::Rect{500, 100, 100, 100}, 300, &other); });
  EXPECT_DOUBLE_EQ(other, 200);
  h_.frame([&](ui::Ctx& c) { ui::applyScroll(c, view, 1000, nullptr); });
}

TEST_F(Widgets, TooltipWaitsForRestAndRestartsOnAnotherText) {
  const ui::Rect a{100, 100, 40, 40};
  const ui::Rect b{300, h_.ctx().h - 40, 40, 40};  // near the bottom: its tooltip goes above
  auto draw = [&](ui::Ctx& c) {
    ui::tooltip(c, a, "Rotate");
    ui::tooltip(c, b, "Crop");
    ui::drawTooltip(c);
  };
  // The tooltip box lies just below (or above) its area, centred.
  auto shownAt = [&](const ui::Rect& r, double dy) {
    return inked(h_, r.x + r.w / 2, dy > 0 ? r.y + r.h + dy : r.y + dy);
  };

  ui::beginRequestedFrame();
  h_.frame(draw, ScreenHarness::move(120, 120));
  EXPECT_LE(ui::secondsUntilRequestedFrame(), ui::kTooltipDelay) << "the delay's end is asked for";
  const double by = b.y + 20;
  const struct {
    double wait, x, y;
    bool a, b;
  } steps[] = {{0.3, 121, 120, false, false}, {0.3, 121, 120, true, false},  // rested 0.6 s
               {0, 320, by, false, false},                                   // another text waits again
               {0.4, 320, by, false, false},  {0.2, 320, by, false, true},
               {0, 600, 300, false, false},   {0, 320, by, false, false},    // left and back: waits again
               {0.6, 320, by, false, true}};
  for (size_t i = 0; i < std::size(steps); ++i) {
    h_.advance(steps[i].wait);
    h_.frame(draw, ScreenHarness::move(steps[i].x, steps[i].y));
    EXPECT_EQ(shownAt(a, 12), steps[i].a) << "step " << i;
    EXPECT_EQ(shownAt(b, -12), steps[i].b) << "step " << i;
  }
}

// Pixels with ink inside and outside the square [lo, hi)² of an 80 × 80 window.
std::pair<int, int> iconInk(const std::function<void(cairo_t*)>& draw, double lo, double hi) {
  ScreenHarness h(80, 80);
  h.frame([&](ui::Ctx& c) { draw(c.cr); });
  int inside = 0;
  int outside = 0;
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 80; ++x) {
      if ((h.pixel(x, y) >> 24) == 0) continue;
      (x + 1 <= lo || x >= hi || y + 1 <= lo || y >= hi ? outside : inside)++;
    }
  }
  return {inside, outside};
}

// Values beyond the set and a zero size draw nothing.
TEST(Icons, EveryGlyphStaysInsideItsSquare) {
  for (double size : {0.0, 10.0, 32.0, 45.0}) {
    for (int value = -1; value <= ui::kIconCount; ++value) {
      const auto [inside, outside] = iconInk(
          [&](cairo_t* cr) {
            cairo_set_line_width(cr, 7);
            ui::drawIcon(cr, static_cast<ui::Icon>(value), 40, 40, size, 0xFFFFFF, 1);
            EXPECT_DOUBLE_EQ(cairo_get_line_width(cr), 7) << "the cairo state is restored";
          },
          40 - size / 2, 40 + size / 2);
      EXPECT_EQ(outside, 0) << "icon " << value << " at " << size;
      const bool drawn = size > 0 && value >= 0 && value < ui::kIconCount;
      if (drawn) {
        EXPECT_GT(inside, size > 20 ? 20 : 5) << "icon " << value << " at " << size;
      } else {
        EXPECT_EQ(inside, 0) << "icon " << value << " at " << size;
      }
    }
  }
}

// The pictures icons are painted from give the pixels their strokes give, at
// any place within a pixel, scale and alpha; turned or mirrored, they are stroked.
TEST(Icons, PaintedGlyphsMatchTheirStrokes) {
  struct Case {
    double cx, cy, size, scale, alpha;
    bool mirrored;
  };
  const Case cases[] = {{40, 40, 22, 1, 1, false},
                        {40.5, 40.25, 22, 1, 1, false},  // the same look, another place within the pixel
                        {37.3, 41.71, 22, 1.5, 0.38, false},
                        {20.5, 19.25, 13.2, 2, 1, false},
                        {30.1, 30.9, 16, 1, 1, true}};
  auto pixels = [](const Case& c, ui::Icon icon, bool strokes) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 100, 100);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0.08, 0.09, 0.11);  // a panel, as under the tool bar
    cairo_paint(cr);
    cairo_scale(cr, c.mirrored ? -c.scale : c.scale, c.scale);
    const double cx = c.mirrored ? -c.cx : c.cx;
    (strokes ? ui::drawIconStrokes : ui::drawIcon)(cr, icon, cx, c.cy, c.size, 0xEDF1F4, c.alpha);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    const auto* p = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s));
    std::vector<uint32_t> out(p, p + 100 * 100);
    cairo_surface_destroy(s);
    return out;
  };
  for (const Case& c : cases) {
    for (int value = 0; value < ui::kIconCount; ++value) {
      const auto icon = static_cast<ui::Icon>(value);
      const std::vector<uint32_t> painted = pixels(c, icon, false);
      const std::vector<uint32_t> stroked = pixels(c, icon, true);
      // Translucent strokes that overlap are blended in the picture first:
      // those few pixels round once more.
      const int tolerance = c.alpha < 1 ? 8 : 1;
      int differing = 0;
      for (size_t i = 0; i < painted.size(); ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
          differing += std::abs(static_cast<int>((painted[i] >> shift) & 0xFF) -
                                static_cast<int>((stroked[i] >> shift) & 0xFF)) > tolerance;
        }
      }
      EXPECT_EQ(differing, 0) << "icon " << value << " at " << c.cx << ", " << c.cy << " × " << c.scale;
    }
  }
}

// The sheet's close button, and an icon button only while enabled.
TEST_F(Widgets, SheetCloseAndIconButtonsClick) {
  bool closed = false;
  bool icon = false;
  bool enabled = false;
  auto draw = [&](ui::Ctx& c) {
    closed = ui::sheetBox(c, ui::Rect{200, 100, 400, 300}, "Adjust", "sheet");
    icon = ui::iconButton(c, ui::Rect{20, 20, 40, 40}, ui::Icon::Play, enabled, !enabled, "icon");
  };
  h_.frame(draw);
  std::optional<ui::Rect> close = h_.widget("sheet.close");
  ASSERT_TRUE(close);
  h_.frame(draw, ScreenHarness::click(close->x + 5, close->y + 5));
  EXPECT_TRUE(closed);
  for (bool e : {false, true}) {
    enabled = e;
    h_.frame(draw, ScreenHarness::click(40, 40));
    EXPECT_EQ(icon, e);
  }
}
