// The filmstrip collector and the stills cache: slot counts by tier, when a
// collection starts, filling, and the stills' sharing and dropping rules.
// test-labels: threads
#include <gtest/gtest.h>
#include <cairo.h>

#include <functional>

#include "editor/filmstrip.h"
#include "editor/stillcache.h"
#include "support/media_clips.h"
#include "support/test_support.h"
#include "ui/cairo_guard.h"
#include "ui/frame.h"

namespace {

// A frame context over a small offscreen surface with a clock of its own.
struct StripCtx {
  StripCtx() {
    ctx.cr = cr.get();
    ctx.w = 1200;
    ctx.h = 100;
    ctx.now = 100;
  }
  ~StripCtx() { ui::resetFilmstrip(); }
  void draw(const std::string& path, double from, double to, double width = 800, int version = 0) {
    ui::drawFilmstrip(ctx, ui::Rect{0, 0, width, 50}, path, version, from, to);
  }
  ui::SurfacePtr surface{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 100)};
  ui::CairoPtr cr{cairo_create(surface.get())};
  ui::Ctx ctx;
};

bool waitFor(const std::function<bool()>& cond) { return testing_support::waitUntil(cond, 60, 0.01); }
ui::FilmstripStatus status() { return ui::filmstripStatus(); }
std::string clip() { return media_clips::indexClip("strip.mp4", 8, "aac"); }

}  // namespace

// Smaller memory tiers get fewer thumbnails; unknown tiers the default (4).
TEST(FilmstripTuning, SlotsFollowTheMemoryTier) {
  for (int tier = 1; tier < 4; ++tier) {
    EXPECT_LT(ui::filmstripTuning(tier).maxThumbs, ui::filmstripTuning(tier + 1).maxThumbs) << tier;
  }
  for (int tier : {0, 99}) EXPECT_EQ(ui::filmstripTuning(tier).slotWidth, ui::filmstripTuning(4).slotWidth) << tier;
  EXPECT_EQ(ui::filmstripCountFor(100, 1.0, 4), 8);  // at least 8
  EXPECT_EQ(ui::filmstripCountFor(10000, 1.0, 1), ui::filmstripTuning(1).maxThumbs);
  EXPECT_EQ(ui::filmstripCountFor(1400, 1.0, 4), 20);  // round(1400 / 70)
  EXPECT_EQ(ui::filmstripCountFor(1400, 2.0, 4), 10);  // slots grow with the interface scale
}

TEST(Filmstrip, NothingIsCollectedForEmptyRequestsAndAnUnreadableFileEndsQuietly) {
  StripCtx c;
  const int before = status().collections;
  ui::drawFilmstrip(c.ctx, ui::Rect{0, 0, 7, 50}, clip(), 0, 0, 1000);
  ui::drawFilmstrip(c.ctx, ui::Rect{0, 0, 800, 3}, clip(), 0, 0, 1000);
  c.draw(clip(), 1000, 1000);
  EXPECT_EQ(status().collections, before);
  EXPECT_FALSE(ui::drawAudioPeaks(c.ctx, ui::Rect{0, 0, 3, 16}));
  c.draw("/nonexistent/clip.mp4", 0, 1000);
  ASSERT_TRUE(waitFor([] { return !status().running; }));
  EXPECT_EQ(status().ready, 0);
}

TEST(Filmstrip, FillsEverySlotAndTheSoundCurveAndStartsOverForAnotherVersionOrWidth) {
  StripCtx c;
  const std::string path = clip();
  c.draw(path, 0, 8000);
  ASSERT_TRUE(waitFor([] { return !status().running; }));
  const ui::FilmstripStatus st = status();
  EXPECT_GE(st.count, 8);
  EXPECT_EQ(st.ready, st.count);
  EXPECT_EQ(st.peaks, static_cast<size_t>(st.count * 12));
  c.draw(path, 0, 8000);
  EXPECT_TRUE(ui::drawAudioPeaks(c.ctx, ui::Rect{0, 60, 800, 16}));

  c.draw(path, 0, 8000, 800, 1);
  EXPECT_EQ(status().collections, st.collections + 1);
  c.draw(path, 0, 8000, 2000, 1);  // another slot count
  EXPECT_EQ(status().collections, st.collections + 2);
  ui::resetFilmstrip();
  EXPECT_EQ(status().ready, 0);
  EXPECT_EQ(status().peaks, 0u);
  EXPECT_FALSE(status().running);
}

TEST(Filmstrip, ScrollingStartsNoCollectionAQuarterSecondsRestDoes) {
  StripCtx c;
  const std::string path = clip();
  c.draw(path, 0, 2000);
  const int first = status().collections;
  // Moving 3 % of the window every 0.1 s: never still long enough.
  double from = 0;
  for (int i = 0; i < 20; ++i) {
    c.ctx.now += 0.1;
    from += 60;
    c.draw(path, from, from + 2000);
  }
  EXPECT_EQ(status().collections, first);
  c.ctx.now += 0.3;
  ASSERT_TRUE(waitFor([&] {
    c.draw(path, from, from + 2000);
    return status().collections == first + 1;
  }));
  EXPECT_DOUBLE_EQ(status().fromMs, from);
  // A move of 1 % is not a new window.
  for (int i = 0; i < 2; ++i) {
    c.ctx.now += 1;
    c.draw(path, from + 15, from + 2015);
  }
  EXPECT_EQ(status().collections, first + 1);
}

// --- Stills ----------------------------------------------------------------------------

TEST(Stills, NearbyRequestsShareAnEntryAndNewVersionsDropOldOnes) {
  ui::resetStills();
  const std::string path = clip();
  EXPECT_EQ(ui::stillAt("", 0, 100), nullptr);
  EXPECT_EQ(ui::stillAt(path, 0, -1), nullptr);
  EXPECT_EQ(ui::stillEntryCount(), 0u);
  ui::stillAt(path, 0, 1000);
  ui::stillAt(path, 0, 1005);
  EXPECT_EQ(ui::stillEntryCount(), 1u);
  ui::stillAt(path, 0, 1015);
  EXPECT_EQ(ui::stillEntryCount(), 2u);
  const media::Image* img = nullptr;
  ASSERT_TRUE(waitFor([&] { return (img = ui::stillAt(path, 0, 1000)) != nullptr; }));
  EXPECT_EQ(media_clips::frameIndex(*img), 25);
  ui::stillAt(path, 1, 1000);
  EXPECT_EQ(ui::stillEntryCount(), 1u);

  // At most eight entries: the oldest goes first.
  for (int i = 0; i < 10; ++i) ui::stillAt(path, 1, 100.0 * i);
  EXPECT_EQ(ui::stillEntryCount(), 8u);
  ui::stillAt(path, 1, 900);  // still held
  EXPECT_EQ(ui::stillEntryCount(), 8u);
  ui::stillAt(path, 1, 0);    // was dropped: asked anew
  EXPECT_EQ(ui::stillEntryCount(), 8u);
  ui::resetStills();
  EXPECT_EQ(ui::stillEntryCount(), 0u);
}

TEST(Stills, AFailedDecodeAnswersNull) {
  ui::resetStills();
  ui::stillAt("/nonexistent.mp4", 0, 10);
  ASSERT_TRUE(waitFor([] {
    // The entry stays (not asked again) once the worker has given up on it.
    return ui::stillEntryCount() == 1u && ui::stillAt("/nonexistent.mp4", 0, 10) == nullptr;
  }));
  ui::resetStills();
}
