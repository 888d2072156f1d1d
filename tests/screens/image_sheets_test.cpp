// The rotate, crop, adjust, resize and format sheets on an open image, without the editor screen.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "editor/social_formats.h"
#include "screens/screen_fixtures.h"

using namespace screen_fixtures;

namespace {

// The colour at (x, y) as 0xRRGGBB, and whether red or blue dominates there.
uint32_t rgbAt(const media::Image& img, int x, int y) {
  const uint8_t* p = img.row(y) + static_cast<size_t>(x) * 4;
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
bool reddish(const media::Image& img, int x, int y) {
  return rgbAt(img, x, y) >> 16 > 150 && (rgbAt(img, x, y) & 0xFF) < 80;
}
bool bluish(const media::Image& img, int x, int y) {
  return (rgbAt(img, x, y) & 0xFF) > 150 && rgbAt(img, x, y) >> 16 < 80;
}

// --- Rotate ------------------------------------------------------------------------------

TEST_F(SheetTest, AngleSnapsWithinThreeDegreesOfARightAngle) {
  openSheet(ui::Sheet::Rotate, 320, 240);
  // Right angles exactly, not nearly.
  for (auto [dragged, want] : {std::pair{88.0, 90.0}, {86.0, 86.0}, {-92.5, -90.0}, {2.5, 0.0}, {-177.5, -180.0},
                               {176.0, 176.0}, {45.0, 45.0}}) {
    setSlider("slider.angle", dragged, -180, 180);
    EXPECT_NEAR(state().rotateAngle, want, std::fmod(want, 90) == 0 ? 0 : 0.2) << "dragged to " << dragged;
  }
}

TEST_F(SheetTest, RotateApplyWaitsForAnAngleThenCommitsAndCloses) {
  openSheet(ui::Sheet::Rotate, 320, 240);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(document().versions.size(), 1u) << "nothing to apply at 0°";
  ASSERT_TRUE(clickSheet("sheet.reset"));
  EXPECT_EQ(state().rotateAngle, 0);

  state().rotateAngle = 12.5;
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(document().versions.size(), 2u);
  const media::Size inner = media::insideCrop(320, 240, 12.5);
  EXPECT_EQ(document().image.width, inner.width);
  EXPECT_EQ(document().image.height, inner.height);
  EXPECT_EQ(document().versions[1].label, "Rotate");
  EXPECT_EQ(state().rotateAngle, 0);
  EXPECT_EQ(state().sheet, ui::Sheet::None);
}

TEST_F(SheetTest, FlipsCommitAtOnceAndKeepThePendingAngle) {
  open(320, 240);
  state().sheet = ui::Sheet::Rotate;
  state().rotateAngle = 30;
  sheetFrame();
  ASSERT_TRUE(reddish(document().image, 10, 200));
  ASSERT_TRUE(clickSheet("sheet.flipH"));
  ASSERT_EQ(document().versions.size(), 2u);
  EXPECT_TRUE(bluish(document().image, 10, 200));
  EXPECT_EQ(document().versions[1].label, "Flip horizontally");
  ASSERT_TRUE(clickSheet("sheet.flipV"));
  ASSERT_EQ(document().versions.size(), 3u);
  EXPECT_TRUE(bluish(document().image, 10, 10)) << "the green band went to the bottom";
  EXPECT_EQ(state().rotateAngle, 30);
  EXPECT_EQ(state().sheet, ui::Sheet::Rotate);
}

// --- Crop -----------------------------------------------------------------------------------

class CropTest : public SheetTest {
 protected:
  // The picture lies at (100, 100) at half its size.
  const ui::Rect picture{100, 100, 160, 120};
  void overlay(ui::Input in = {}) {
    h_.frame([this](ui::Ctx& ctx) { ui::drawCropOverlay(ctx, picture); }, std::move(in));
  }
  // Drags from screen point (x0, y0) to (x1, y1) over three frames.
  void drag(double x0, double y0, double x1, double y1) {
    overlay(ScreenHarness::press(x0, y0));
    overlay(ScreenHarness::move((x0 + x1) / 2, (y0 + y1) / 2));
    overlay(ScreenHarness::move(x1, y1));
    overlay(ScreenHarness::release(x1, y1));
  }
  std::array<int, 4> crop() {
    const auto& c = state().cropRect;
    return {c.x, c.y, c.width, c.height};
  }
  using R = std::array<int, 4>;
};

TEST_F(CropTest, FrameStartsWholeAndCornersStopAtSixteenPixelsAndAtTheImageEdges) {
  open(320, 240);
  overlay();
  EXPECT_EQ(crop(), (R{0, 0, 320, 240}));
  drag(260, 220, 0, 0);  // bottom-right corner far up and left
  EXPECT_EQ(crop(), (R{0, 0, 16, 16}));
  EXPECT_EQ(state().cropHandle, -1) << "released";
  const auto br = h_.widget("crop.handle.4");
  ASSERT_TRUE(br.has_value());
  drag(br->x + br->w / 2, br->y + br->h / 2, 900, 700);  // back out past the image
  EXPECT_EQ(crop(), (R{0, 0, 320, 240}));
  drag(100, 100, 600, 600);  // top-left corner: stops 16 px before the other one
  EXPECT_EQ(crop(), (R{320 - 16, 240 - 16, 16, 16}));
}

TEST_F(CropTest, MovingTheFrameKeepsItInsideAndPressesOutsideItAreIgnored) {
  open(320, 240);
  state().cropRect = {40, 40, 100, 80};
  overlay(ScreenHarness::press(105, 105));  // image point (10, 10)
  EXPECT_EQ(state().cropHandle, -1);
  EXPECT_FALSE(h_.ctx().clickTaken);
  overlay(ScreenHarness::release(105, 105));
  drag(140, 130, -500, -500);
  EXPECT_EQ(crop(), (R{0, 0, 100, 80}));
  drag(130, 120, 2000, 2000);
  EXPECT_EQ(crop(), (R{220, 160, 100, 80}));
  drag(250, 200, 247, 203);  // 3 screen pixels are 6 image pixels at this scale
  EXPECT_EQ(crop(), (R{214, 160, 100, 80}));
}

TEST_F(CropTest, ApplyCropsClosesAndStartsAgainFromTheWholeImage) {
  openSheet(ui::Sheet::Crop, 320, 240);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(document().versions.size(), 1u) << "the whole image is no crop";

  state().cropRect = {160, 30, 100, 50};
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(document().versions.size(), 2u);
  EXPECT_EQ(document().image.width, 100);
  EXPECT_EQ(document().image.height, 50);
  EXPECT_TRUE(bluish(document().image, 50, 40));
  EXPECT_EQ(state().sheet, ui::Sheet::None);
  EXPECT_EQ(state().cropRect.width, 0);

  state().sheet = ui::Sheet::Crop;
  state().cropRect = {10, 10, 20, 20};
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.reset"));
  EXPECT_EQ(crop(), (R{0, 0, 100, 50}));
}

// --- Adjust -------------------------------------------------------------------------------

TEST_F(SheetTest, AdjustPreviewsOnTheProxyAppliesOnTheFullImageAndResets) {
  openSheet(ui::Sheet::Adjust, 1200, 800);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(document().versions.size(), 1u) << "nothing to apply with all amounts 0";

  setSlider("slider.warmth", -50, -100, 100);
  ASSERT_TRUE(state().preview.valid());
  ASSERT_TRUE(clickSheet("sheet.reset"));
  EXPECT_EQ(state().adjustAmounts.warmth, 0);
  EXPECT_FALSE(state().preview.valid());
  EXPECT_EQ(document().versions.size(), 1u);

  setSlider("slider.brightness", 40, -100, 100);
  EXPECT_NEAR(state().adjustAmounts.brightness, 40, 1);
  EXPECT_EQ(state().adjustAmounts.brightness, std::round(state().adjustAmounts.brightness)) << "whole numbers";
  ASSERT_TRUE(state().preview.valid());
  EXPECT_EQ(state().preview.width, 900);
  EXPECT_EQ(state().preview.height, 600);
  EXPECT_FALSE(state().previewDirty);

  const uint32_t before = rgbAt(document().image, 300, 400);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(document().versions.size(), 2u);
  EXPECT_EQ(document().image.width, 1200);
  EXPECT_GT(rgbAt(document().image, 300, 400) >> 16, before >> 16) << "brighter";
  EXPECT_EQ(state().adjustAmounts.brightness, 0);
  EXPECT_FALSE(state().preview.valid());
}

// The proxy follows undo, a new edit taking an undone version's number, another file of the same name.
TEST_F(SheetTest, AdjustProxyIsRebuiltForEveryOtherPicture) {
  open(320, 240);
  auto previewWidth = [this] {
    state().sheet = ui::Sheet::Adjust;
    state().adjustAmounts = media::Adjust{};
    sheetFrame();
    setSlider("slider.contrast", 30, -100, 100);
    return state().preview.width;
  };
  auto cropTo = [this](int w, int h) {
    state().sheet = ui::Sheet::Crop;
    state().cropRect = {0, 0, w, h};
    sheetFrame();
    ASSERT_TRUE(clickSheet("sheet.apply"));
  };
  cropTo(200, 100);
  ASSERT_EQ(document().image.width, 200);
  EXPECT_EQ(previewWidth(), 200);
  ASSERT_TRUE(document().undo());
  EXPECT_EQ(previewWidth(), 320);
  EXPECT_EQ(state().preview.height, 240);
  state().preview = media::Image{};
  cropTo(100, 100);
  ASSERT_EQ(document().current, 1);
  EXPECT_EQ(previewWidth(), 100);

  ASSERT_TRUE(document().undo());
  EXPECT_EQ(previewWidth(), 320);
  ui::closeDocument();
  open(200, 100);  // same path, same version index
  EXPECT_EQ(previewWidth(), 200);
}

// --- Resize -------------------------------------------------------------------------------

TEST_F(SheetTest, ResizeChipsHalfResetAndTheFloorOf240) {
  openSheet(ui::Sheet::Resize, 1000, 600);
  EXPECT_EQ(state().longEdge, 1000) << "an unset value starts at the current size";
  EXPECT_FALSE(h_.hasWidget("resize.chip.1080")) << "no chip that would enlarge";
  ASSERT_TRUE(clickSheet("resize.chip.720"));
  EXPECT_EQ(state().longEdge, 720);
  ASSERT_TRUE(clickSheet("resize.halfChip"));
  EXPECT_EQ(state().longEdge, 500);
  ASSERT_TRUE(clickSheet("sheet.reset"));
  EXPECT_EQ(state().longEdge, 1000);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(document().versions.size(), 1u) << "the current size is no change";

  const auto r = h_.widget("slider.longEdge");
  ASSERT_TRUE(r.has_value());
  sheetFrame(ScreenHarness::press(r->x - 5, r->y + r->h / 2));
  sheetFrame(ScreenHarness::release(r->x - 5, r->y + r->h / 2));
  EXPECT_EQ(state().longEdge, 240);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(document().versions.size(), 2u);
  EXPECT_EQ(document().image.width, 240);
  EXPECT_EQ(document().image.height, 144);
  EXPECT_EQ(document().versions[1].label, "Size");
  state().sheet = ui::Sheet::Resize;
  sheetFrame();
  ASSERT_TRUE(clickSheet("resize.halfChip"));
  EXPECT_EQ(state().longEdge, 240) << "half of a small image stops at 240";
}

// --- Format -------------------------------------------------------------------------------

TEST_F(SheetTest, StoredPlatformIndexIsClampedToTheTable) {
  open(320, 240);
  state().sheet = ui::Sheet::Format;
  for (auto [stored, shown] : {std::pair{99, 16}, {-3, 0}, {5, 5}}) {
    state().platformIndex = stored;
    state().presetIndex = 7;
    sheetFrame();
    EXPECT_EQ(state().platformIndex, shown) << stored;
    EXPECT_EQ(state().presetIndex, static_cast<int>(formats::platforms()[size_t(shown)].presets.size()) - 1);
  }
}

TEST_F(SheetTest, FormatFitsToThePresetWithTheStoredFitAndCloses) {
  open(640, 480);
  state().sheet = ui::Sheet::Format;
  state().platformIndex = 2;
  state().presetIndex = 1;
  sheetFrame();
  // Another platform starts at its first preset: Instagram's 1080 × 1080.
  ASSERT_TRUE(clickSheet("format.platform"));
  ASSERT_TRUE(state().platformListOpen);
  sheetFrame();
  ASSERT_TRUE(clickSheet("format.platform.0"));
  EXPECT_EQ(state().platformIndex, 0);
  EXPECT_EQ(state().presetIndex, 0);
  EXPECT_FALSE(state().platformListOpen);
  sheetFrame();
  ASSERT_TRUE(clickSheet("format.fit.cover"));
  EXPECT_EQ(settings::get().imageFitMode, settings::kFitCover);
  ASSERT_TRUE(clickSheet("format.fit.contain"));
  ASSERT_TRUE(clickSheet("format.pad.white"));
  EXPECT_EQ(settings::get().imagePadMode, settings::kPadWhite);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(document().versions.size(), 2u);
  EXPECT_EQ(document().image.width, 1080);
  EXPECT_EQ(document().image.height, 1080);
  EXPECT_EQ(rgbAt(document().image, 540, 5), 0xFFFFFFu) << "white border above";
  EXPECT_EQ(state().sheet, ui::Sheet::None);
}

// --- The worker path ------------------------------------------------------------------------

TEST_F(SheetTest, LargePicturesAreProcessedBehindTheBusyOverlay) {
  open(2000, 1200);  // 2.4 megapixels
  state().sheet = ui::Sheet::Rotate;
  state().rotateAngle = 90;
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  if (ui::imageEditRunning()) {
    EXPECT_TRUE(ui::busy().active);
    EXPECT_FALSE(ui::busy().cancellable);
    sheetFrame();  // the apply button stays disabled while it runs
    ui::finishImageEdit();
  }
  EXPECT_FALSE(ui::busy().active);
  ASSERT_EQ(document().versions.size(), 2u);
  EXPECT_EQ(document().image.width, 1200);
  EXPECT_EQ(document().image.height, 2000);
  EXPECT_EQ(state().sheet, ui::Sheet::None);
}

ui::ImageEdit edit(const char* label, std::function<media::Image(const media::Image&)> op) {
  ui::ImageEdit e;
  e.timer = "test";
  e.label = label;
  e.errorKey = "errors.crop";
  e.op = std::move(op);
  return e;
}

TEST_F(SheetTest, AResultForAVersionLeftMeanwhileIsDroppedAFailureIsShown) {
  open(2000, 1200);
  auto flip = [](const media::Image& img) { return media::transform(img, media::TransformOp::FlipH); };
  ASSERT_TRUE(ui::startImageEdit(edit("first", flip)));
  ui::finishImageEdit();
  ASSERT_EQ(document().versions.size(), 2u);

  ASSERT_TRUE(ui::startImageEdit(edit("second", flip)));
  EXPECT_FALSE(ui::startImageEdit(edit("third", flip))) << "one at a time";
  ASSERT_TRUE(document().undo());
  ui::finishImageEdit();
  EXPECT_EQ(document().versions.size(), 2u);
  EXPECT_EQ(document().current, 0);
  EXPECT_FALSE(ui::dialogOpen());

  // A failed operation shows the sheet's error and keeps the document.
  ASSERT_TRUE(ui::startImageEdit(edit("broken", [](const media::Image&) { return media::Image{}; })));
  ui::finishImageEdit();
  EXPECT_EQ(document().versions.size(), 2u);
  EXPECT_EQ(document().current, 0);
  EXPECT_TRUE(ui::dialogOpen());
}

// --- The video half ---------------------------------------------------------------------------

class VideoSheetTest : public SheetTest {
 protected:
  void SetUp() override {
    SheetTest::SetUp();
    ASSERT_TRUE(document().openVideo(toneClip(1920, 1080, 0.5)));
  }
};

TEST_F(VideoSheetTest, ResizeOffersOnlySmallerHeightsAndOriginalKeepsTheSize) {
  state().sheet = ui::Sheet::Resize;
  sheetFrame();
  EXPECT_TRUE(h_.hasWidget("resize.chip.original"));
  EXPECT_TRUE(h_.hasWidget("resize.chip.720"));
  EXPECT_FALSE(h_.hasWidget("resize.chip.1080")) << "not below the short side";
  EXPECT_FALSE(h_.hasWidget("resize.chip.2160"));
  EXPECT_FALSE(h_.hasWidget("slider.longEdge")) << "the image controls stay away";
  ASSERT_TRUE(clickSheet("resize.chip.720"));
  EXPECT_EQ(state().targetHeight, 720);
  ASSERT_TRUE(clickSheet("resize.chip.original"));
  EXPECT_EQ(state().targetHeight, 0);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(document().versions.size(), 1u) << "the original size is no change";
}

}  // namespace
