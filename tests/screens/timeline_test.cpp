// The video timeline: zoom, snapping, the marker range, the effects track, clips, seeking and panning.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "screens/screen_fixtures.h"
#include "screens/timeline.h"

using namespace screen_fixtures;

namespace {

class Timeline : public HarnessTest {
 protected:
  // Opens a clip of seconds and draws one frame; the view of its timeline.
  ui::TimelineView open(double seconds) {
    EXPECT_TRUE(openVideo(indexClip(seconds)));
    h_.appFrame();
    return view();
  }
  ui::TimelineView view() {
    const ui::Rect strip = *h_.widget("timeline");
    return ui::timelineView(state(), document().videoInfo.durationMs, strip.x, strip.w);
  }
  double rowY(const char* id) {
    const ui::Rect r = *h_.widget(id);
    return r.y + r.h / 2;
  }
  // Press at (x0, y), moves in six steps to (x1, y), release there: one drag.
  void drag(double x0, double x1, double y) {
    h_.appFrame(ScreenHarness::press(x0, y));
    for (int i = 1; i <= 6; ++i) h_.appFrame(ScreenHarness::move(x0 + (x1 - x0) * i / 6, y));
    h_.appFrame(ScreenHarness::release(x1, y));
  }
};

}  // namespace

// --- Zoom -------------------------------------------------------------------------------

TEST(TimelineZoom, TheNarrowestWindowIsAQuarterSecond) {
  for (auto [duration, maxZoom] : {std::pair{10000.0, 40.0}, {1000.0, 4.0}, {400.0, 4.0}, {3600000.0, 14400.0}}) {
    EXPECT_DOUBLE_EQ(ui::maxTimelineZoom(duration), maxZoom) << duration;
    ui::EditorState s;
    for (int i = 0; i < 60; ++i) ui::zoomTimeline(s, duration, 1.5, duration / 3);
    EXPECT_DOUBLE_EQ(s.zoom, maxZoom);
    EXPECT_FALSE(ui::zoomTimeline(s, duration, 1.5, 0));  // no change, nothing to do
  }
}

TEST_F(Timeline, ButtonsZoomAboutTheCentreAndOutIsDisabledAtOne) {
  open(0.8);
  ASSERT_TRUE(h_.clickWidget("timeline.zoomOut"));
  EXPECT_EQ(state().zoom, 1);
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(h_.clickWidget("timeline.zoomIn"));
  EXPECT_DOUBLE_EQ(state().zoom, 4);  // under a second: at most 4
  ASSERT_TRUE(h_.clickWidget("timeline.zoomOut"));
  EXPECT_NEAR(state().zoom, 4 / 1.5, 1e-9);
}

TEST_F(Timeline, TheWheelZoomsAboutThePointerAndShiftScrolls) {
  ui::TimelineView v = open(10);
  const double x = v.pxAt(7500);
  ui::Input in = ScreenHarness::move(x, rowY("timeline"));
  in.wheel = 1;
  h_.appFrame(in);
  EXPECT_DOUBLE_EQ(state().zoom, 1.25);
  h_.appFrame();
  EXPECT_NEAR(view().msAt(x), 7500, 1e-6);
  const double before = state().scrollMs;
  in.wheel = 1;
  in.shift = true;
  h_.appFrame(in);
  EXPECT_NEAR(state().scrollMs, before - 0.15 * 8000, 1e-6);
}

// --- Grid and snapping ----------------------------------------------------------------------

TEST(TimelineSnap, GridStepIsTheFirstFortyPixelsApart) {
  for (auto [pxPerMs, fps, step] : {std::tuple{0.1, 25.0, 500.0}, {1.0, 25.0, 40.0}, {4.0, 25.0, 10.0},
                                    {0.001, 30.0, 60000.0}, {1e-6, 30.0, 600000.0}, {2.0, 0.0, 20.0}})
    EXPECT_DOUBLE_EQ(ui::timelineGridStep(pxPerMs, fps), step) << pxPerMs;
}

TEST(TimelineSnap, ABoundaryWithinSevenPixelsWinsNotAtEight) {
  ui::EditorState s;
  s.clipBounds = {5230};
  const double px = 0.1;  // 10 ms per pixel: the radius is 70 ms
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 5299), 5230);
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 5161), 5230);
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 5310), 5310);
  // The grid line only when strictly nearer than the rest.
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 5480), 5500);
  s.markInMs = 5450;
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 5475), 5450);  // as near as the grid: the marker
  // The playhead only where asked; the dragged marker never.
  s.playheadMs = 7777;
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 7790), 7790);
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 7790, ui::SnapOptions{true}), 7777);
  ui::SnapOptions skipIn;
  skipIn.skipIn = true;
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 5420), 5450);
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 5420, skipIn), 5420);
  // Effect edges, and both ends of the video; nothing outside it.
  s.effects = {{1, 3333, 1000}};
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 2300), 2333);
  EXPECT_DOUBLE_EQ(ui::snapTimelineTime(s, 10000, 25, px, 9951), 10000);
}

// --- Marker range strip ----------------------------------------------------------------------

TEST_F(Timeline, MarkersKeepTenMillisecondsApartAndTheRangeMovesWhole) {
  ui::TimelineView v = open(10);
  state().markInMs = 2000;
  state().markOutMs = 4000;
  h_.appFrame();
  const double y = rowY("timeline.range");
  drag(v.pxAt(3000), v.pxAt(9900), y);
  EXPECT_NEAR(state().markOutMs - state().markInMs, 2000, 1e-6);
  EXPECT_NEAR(state().markOutMs, document().videoInfo.durationMs, 1e-6);  // kept inside the video

  state().markInMs = 2000;
  state().markOutMs = 4000;
  h_.appFrame();
  drag(v.pxAt(2000), v.pxAt(9000), y);
  EXPECT_DOUBLE_EQ(state().markInMs, 3990);
  drag(v.pxAt(4000), v.pxAt(100), y);
  EXPECT_DOUBLE_EQ(state().markOutMs, 4000);  // the OUT handle lies under IN now: IN is grabbed first
  state().markInMs = 2000;
  h_.appFrame();
  drag(v.pxAt(4000), v.pxAt(100), y);
  EXPECT_DOUBLE_EQ(state().markOutMs, 2010);
  EXPECT_FALSE(state().gestureActive);
}

TEST_F(Timeline, AClickOnTheStripTheBodyOrAnEffectSeeks) {
  ui::TimelineView v = open(10);
  h_.appFrame(ScreenHarness::click(v.pxAt(6123), rowY("timeline.range")));
  EXPECT_NEAR(state().playheadMs, 6123, 10);
  h_.appFrame(ScreenHarness::click(v.pxAt(3000), rowY("timeline")));
  EXPECT_DOUBLE_EQ(state().playheadMs, 3000);  // snapped to the grid line under the pointer

  state().effects = {{2, 5000, 1000}};
  h_.appFrame();
  const size_t steps = state().undoSteps.size();
  h_.appFrame(ScreenHarness::click(v.pxAt(5300), rowY("effect.0")));
  h_.appFrame();
  EXPECT_NEAR(state().playheadMs, 5300, 8);
  EXPECT_DOUBLE_EQ(state().effects[0].atMs, 5000);
  EXPECT_EQ(state().undoSteps.size(), steps) << "no undo step";
}

TEST_F(Timeline, DraggingTheBodyPansOnlyWhenZoomedAndTheScrollBarDragsTheWindow) {
  ui::TimelineView v = open(10);
  const double y = rowY("timeline");
  drag(v.pxAt(6000), v.pxAt(5000), y);
  EXPECT_EQ(state().scrollMs, 0);
  state().zoom = 4;
  state().scrollMs = 2000;
  h_.appFrame();
  v = view();
  const double playhead = state().playheadMs;
  drag(v.pxAt(3000), v.pxAt(2500), y);
  EXPECT_NEAR(state().scrollMs, 2500, 1e-6);  // moved against the pointer
  EXPECT_EQ(state().playheadMs, playhead);    // a pan does not seek

  state().zoom = 2;
  state().scrollMs = 0;
  h_.appFrame();
  const ui::Rect bar = *h_.widget("timeline.scroll");
  drag(bar.x + bar.w / 4, bar.x + bar.w / 2, bar.y + bar.h / 2);
  EXPECT_NEAR(state().scrollMs, 2500, 1e-6);
}

// --- Effects track ---------------------------------------------------------------------------

TEST_F(Timeline, PlacingMovingAndResizingAreOneUndoStepEach) {
  ui::TimelineView v = open(10);
  const double y = rowY("timeline.effects");
  state().armedKind = 1;
  h_.appFrame(ScreenHarness::click(v.pxAt(6000), y));
  ASSERT_EQ(state().effects.size(), 1u);
  const auto& e = state().effects[0];
  EXPECT_EQ((std::tuple{e.kind, e.atMs, e.lengthMs}), (std::tuple{1, 6000.0, 500.0}));
  EXPECT_EQ(state().armedKind, -1);
  h_.appFrame();
  EXPECT_EQ(state().undoSteps.size(), 1u);

  // Move: the anchor follows; no step until the release.
  h_.appFrame(ScreenHarness::press(v.pxAt(5750), y));
  for (int i = 1; i <= 5; ++i) h_.appFrame(ScreenHarness::move(v.pxAt(5750 + 200 * i), y));
  EXPECT_EQ(state().draggedEffect, 0);
  EXPECT_EQ(state().undoSteps.size(), 1u);
  h_.appFrame(ScreenHarness::release(v.pxAt(6750), y));
  h_.appFrame();
  EXPECT_DOUBLE_EQ(state().effects[0].atMs, 7000);
  EXPECT_EQ(state().undoSteps.size(), 2u);

  // Resize from the start edge: the anchor stays.
  drag(v.pxAt(6500) + 2, v.pxAt(6000), y);
  h_.appFrame();
  EXPECT_DOUBLE_EQ(state().effects[0].atMs, 7000);
  EXPECT_DOUBLE_EQ(state().effects[0].lengthMs, 1000);
  EXPECT_EQ(state().undoSteps.size(), 3u);

  // Each step undoes on its own.
  ASSERT_TRUE(ui::undoStep());
  EXPECT_DOUBLE_EQ(state().effects[0].lengthMs, 500);
  ASSERT_TRUE(ui::undoStep());
  EXPECT_DOUBLE_EQ(state().effects[0].atMs, 6000);
  ASSERT_TRUE(ui::undoStep());
  EXPECT_TRUE(state().effects.empty());
}

// --- Clips ---------------------------------------------------------------------------------------

TEST_F(Timeline, ClipsSelectDeselectAndReorder) {
  ui::TimelineView v = open(9);
  state().clips = {{"a.mp4", 0, 3000}, {"b.mp4", 0, 3000}, {"c.mp4", 0, 3000}};
  state().clipBounds = {3000, 6000};
  h_.appFrame();
  ASSERT_TRUE(h_.hasWidget("clip.2"));
  ASSERT_TRUE(h_.clickWidget("clip.1"));
  EXPECT_EQ(state().selectedClip, 1);
  ASSERT_TRUE(h_.clickWidget("clip.1"));
  EXPECT_EQ(state().selectedClip, -1);

  // A new order recomposes the work (from missing files here); the next gesture waits for its answer.
  const std::vector<media::Segment> clips = state().clips;
  auto settle = [&] {
    ui::stopExportJob();
    ui::busy() = ui::BusyState{};
    h_.appFrame();
    for (int i = 0; i < 5 && ui::dialogOpen(); ++i) h_.clickWidget("dialog.0");
    state().clips = clips;
    state().clipBounds = {3000, 6000};
    h_.appFrame();
  };
  const double y = rowY("clip.0");
  drag(v.pxAt(1500), v.pxAt(8000), y);
  EXPECT_TRUE(logHas("Clip 1 → Platz 3"));
  EXPECT_EQ(state().draggedClip, -1);
  EXPECT_FALSE(state().gestureActive);
  settle();
  drag(v.pxAt(7500), v.pxAt(3500), y);
  EXPECT_TRUE(logHas("Clip 3 → Platz 2"));
  // Dropped where it was: no new order.
  drag(v.pxAt(4000), v.pxAt(4600), y);
  EXPECT_FALSE(logHas("Clip 2 → Platz 2"));
}
