// The filmstrip collector and the stills cache: slot counts by tier, when a
// collection starts, filling, and the stills' sharing and dropping rules.
// test-labels: threads
#include <gtest/gtest.h>
#include <cairo.h>

#include <chrono>
#include <functional>
#include <thread>

#include "editor/filmstrip.h"
#include "editor/stillcache.h"
#include "support/media_clips.h"
#include "ui/frame.h"

namespace {

// A frame context over a small offscreen surface with a clock of its own.
class StripCtx {
 public:
  StripCtx() : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1200, 100)), cr_(cairo_create(surface_)) {
    ctx.cr = cr_;
    ctx.w = 1200;
    ctx.h = 100;
    ctx.now = 100;
  }
  ~StripCtx() {
    ui::resetFilmstrip();
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
  }
  void draw(const std::string& path, double from, double to, double width = 800) {
    ui::drawFilmstrip(ctx, ui::Rect{0, 0, width, 50}, path, 0, from, to);
  }
  ui::Ctx ctx;

 private:
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

bool waitFor(const std::function<bool()>& cond) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string clip() { return media_clips::indexClip("strip.mp4", 8, "aac"); }

}  // namespace

TEST(FilmstripTuning, SlotsFollowTheMemoryTier) {
  const struct {
    int tier;
    double slot;
    int maxThumbs;
    int decode;
  } kTable[] = {{1, 150, 14, 144}, {2, 110, 24, 192}, {3, 90, 36, 288}, {4, 70, 48, 384}, {0, 70, 48, 384}};
  for (const auto& row : kTable) {
    const ui::FilmstripTuning t = ui::filmstripTuning(row.tier);
    EXPECT_EQ(t.slotWidth, row.slot);
    EXPECT_EQ(t.maxThumbs, row.maxThumbs);
    EXPECT_EQ(t.decodeSize, row.decode);
  }
  EXPECT_EQ(ui::filmstripCountFor(100, 1.0, 4), 8);      // at least 8
  EXPECT_EQ(ui::filmstripCountFor(10000, 1.0, 4), 48);   // at most the tier's maximum
  EXPECT_EQ(ui::filmstripCountFor(10000, 1.0, 1), 14);
  EXPECT_EQ(ui::filmstripCountFor(1400, 1.0, 4), 20);    // round(1400 / 70)
  EXPECT_EQ(ui::filmstripCountFor(1400, 2.0, 4), 10);    // slots grow with the interface scale
}

TEST(Filmstrip, NothingIsDrawnOrCollectedForEmptyRequests) {
  StripCtx c;
  const int before = ui::filmstripStatus().collections;
  ui::drawFilmstrip(c.ctx, ui::Rect{0, 0, 7, 50}, clip(), 0, 0, 1000);
  ui::drawFilmstrip(c.ctx, ui::Rect{0, 0, 800, 3}, clip(), 0, 0, 1000);
  ui::drawFilmstrip(c.ctx, ui::Rect{0, 0, 800, 50}, clip(), 0, 1000, 1000);
  EXPECT_EQ(ui::filmstripStatus().collections, before);
  EXPECT_FALSE(ui::drawAudioPeaks(c.ctx, ui::Rect{0, 0, 3, 16}));
}

TEST(Filmstrip, FillsEverySlotAndTheSoundCurve) {
  StripCtx c;
  c.draw(clip(), 0, 8000);
  ASSERT_TRUE(waitFor([] { return !ui::filmstripStatus().running; }));
  const ui::FilmstripStatus st = ui::filmstripStatus();
  EXPECT_GE(st.count, 8);
  EXPECT_EQ(st.ready, st.count);
  EXPECT_EQ(st.peaks, static_cast<size_t>(st.count * 12));
  c.draw(clip(), 0, 8000);
  EXPECT_TRUE(ui::drawAudioPeaks(c.ctx, ui::Rect{0, 60, 800, 16}));
}

TEST(Filmstrip, ScrollingStartsNoCollectionAQuarterSecondsRestDoes) {
  StripCtx c;
  const std::string path = clip();
  c.draw(path, 0, 2000);
  const int first = ui::filmstripStatus().collections;
  // Moving 3 % of the window every 0.1 s: never still long enough.
  double from = 0;
  for (int i = 0; i < 20; ++i) {
    c.ctx.now += 0.1;
    from += 60;
    c.draw(path, from, from + 2000);
  }
  EXPECT_EQ(ui::filmstripStatus().collections, first);
  c.ctx.now += 0.3;
  ASSERT_TRUE(waitFor([&] {
    c.draw(path, from, from + 2000);
    return ui::filmstripStatus().collections == first + 1;
  }));
  EXPECT_DOUBLE_EQ(ui::filmstripStatus().fromMs, from);
  // A move of 1 % is not a new window.
  c.ctx.now += 1;
  c.draw(path, from + 15, from + 2015);
  c.ctx.now += 1;
  c.draw(path, from + 15, from + 2015);
  EXPECT_EQ(ui::filmstripStatus().collections, first + 1);
}

TEST(Filmstrip, AnotherVersionOrWidthStartsOver) {
  StripCtx c;
  const std::string path = clip();
  c.draw(path, 0, 8000);
  const int first = ui::filmstripStatus().collections;
  ui::drawFilmstrip(c.ctx, ui::Rect{0, 0, 800, 50}, path, 1, 0, 8000);
  EXPECT_EQ(ui::filmstripStatus().collections, first + 1);
  c.draw(path, 0, 8000, 2000);  // another slot count
  EXPECT_EQ(ui::filmstripStatus().collections, first + 2);
  ui::resetFilmstrip();
  EXPECT_EQ(ui::filmstripStatus().ready, 0);
  EXPECT_EQ(ui::filmstripStatus().peaks, 0u);
  EXPECT_FALSE(ui::filmstripStatus().running);
}

TEST(Filmstrip, AFileThatCannotBeReadEndsTheCollectorQuietly) {
  StripCtx c;
  c.draw("/nonexistent/clip.mp4", 0, 1000);
  ASSERT_TRUE(waitFor([] { return !ui::filmstripStatus().running; }));
  EXPECT_EQ(ui::filmstripStatus().ready, 0);
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
  ui::resetStills();
  EXPECT_EQ(ui::stillEntryCount(), 0u);
}

TEST(Stills, AtMostEightEntriesTheOldestGoesFirst) {
  ui::resetStills();
  const std::string path = clip();
  for (int i = 0; i < 10; ++i) ui::stillAt(path, 0, 100.0 * i);
  EXPECT_EQ(ui::stillEntryCount(), 8u);
  ui::stillAt(path, 0, 900);  // still held
  EXPECT_EQ(ui::stillEntryCount(), 8u);
  ui::stillAt(path, 0, 0);    // was dropped: asked anew
  EXPECT_EQ(ui::stillEntryCount(), 8u);
  ui::resetStills();
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
