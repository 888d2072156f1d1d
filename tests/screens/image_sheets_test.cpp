// The rotate, crop, adjust, resize and format sheets on an open image, driven
// through the screen harness without the editor screen.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "editor/social_formats.h"
#include "image_sheets_fixtures.h"
#include "support/media_clips.h"
#include "ui/gpu.h"

using image_sheets::SheetTest;
using testing_support::ScreenHarness;

namespace {

const auto* const kFolders = ::testing::AddGlobalTestEnvironment(new image_sheets::FoldersEnvironment);

// --- Rotate ------------------------------------------------------------------------------

TEST_F(SheetTest, AngleSnapsWithinThreeDegreesOfARightAngle) {
  open(320, 240);
  st().sheet = ui::Sheet::Rotate;
  sheetFrame();
  struct Case {
    double dragged;
    double expected;
  };
  const Case cases[] = {{88, 90}, {86, 86}, {-92.5, -90}, {2.5, 0}, {-177.5, -180}, {176, 176}, {45, 45}};
  for (const Case& c : cases) {
    setSlider("slider.angle", c.dragged, -180, 180);
    EXPECT_NEAR(st().rotateAngle, c.expected, 0.2) << "dragged to " << c.dragged;
    if (c.expected == 90 || c.expected == 0 || c.expected == -90 || c.expected == -180) {
      EXPECT_EQ(st().rotateAngle, c.expected);  // exactly, not nearly
    }
  }
}

TEST_F(SheetTest, RotateApplyWaitsForAnAngleThenCommitsAndCloses) {
  open(320, 240);
  st().sheet = ui::Sheet::Rotate;
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(doc().versions.size(), 1u) << "nothing to apply at 0°";
  ASSERT_TRUE(clickSheet("sheet.reset"));
  EXPECT_EQ(st().rotateAngle, 0);

  st().rotateAngle = 12.5;
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(doc().versions.size(), 2u);
  const media::Size inner = media::insideCrop(320, 240, 12.5);
  EXPECT_EQ(doc().image.width, inner.width);
  EXPECT_EQ(doc().image.height, inner.height);
  EXPECT_EQ(doc().versions[1].label, "Rotate");
  EXPECT_EQ(st().rotateAngle, 0);
  EXPECT_EQ(st().sheet, ui::Sheet::None);
}

TEST_F(SheetTest, FlipsCommitAtOnceAndKeepThePendingAngle) {
  open(320, 240);
  st().sheet = ui::Sheet::Rotate;
  st().rotateAngle = 30;
  sheetFrame();
  ASSERT_TRUE(image_sheets::reddish(doc().image, 10, 200));
  ASSERT_TRUE(clickSheet("sheet.flipH"));
  ASSERT_EQ(doc().versions.size(), 2u);
  EXPECT_TRUE(image_sheets::bluish(doc().image, 10, 200));
  EXPECT_EQ(doc().versions[1].label, "Flip horizontally");
  ASSERT_TRUE(clickSheet("sheet.flipV"));
  ASSERT_EQ(doc().versions.size(), 3u);
  EXPECT_TRUE(image_sheets::bluish(doc().image, 10, 10)) << "the green band went to the bottom";
  EXPECT_EQ(st().rotateAngle, 30);
  EXPECT_EQ(st().sheet, ui::Sheet::Rotate);
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
};

TEST_F(CropTest, FrameStartsAsTheWholeImage) {
  open(320, 240);
  overlay();
  const ui::EditorState::CropRect c = st().cropRect;
  EXPECT_EQ(c.x, 0);
  EXPECT_EQ(c.y, 0);
  EXPECT_EQ(c.width, 320);
  EXPECT_EQ(c.height, 240);
  const auto frame = h_.widget("crop.frame");
  ASSERT_TRUE(frame.has_value());
  EXPECT_DOUBLE_EQ(frame->w, 160);
}

TEST_F(CropTest, CornersStopAtSixteenPixelsAndAtTheImageEdges) {
  open(320, 240);
  overlay();
  // Bottom-right corner dragged far up and left: 16 × 16 remain.
  drag(260, 220, 0, 0);
  EXPECT_EQ(st().cropRect.x, 0);
  EXPECT_EQ(st().cropRect.width, 16);
  EXPECT_EQ(st().cropRect.height, 16);
  EXPECT_EQ(st().cropHandle, -1) << "released";

  // Back out past the image: the corner stops at the edge.
  const auto br = h_.widget("crop.handle.4");
  ASSERT_TRUE(br.has_value());
  drag(br->x + br->w / 2, br->y + br->h / 2, 900, 700);
  EXPECT_EQ(st().cropRect.width, 320);
  EXPECT_EQ(st().cropRect.height, 240);

  // Top-left corner towards the bottom right: stops 16 px before the other corner.
  drag(100, 100, 600, 600);
  EXPECT_EQ(st().cropRect.x, 320 - 16);
  EXPECT_EQ(st().cropRect.y, 240 - 16);
  EXPECT_EQ(st().cropRect.width, 16);
  EXPECT_EQ(st().cropRect.height, 16);
}

TEST_F(CropTest, MovingTheFrameKeepsItInside) {
  open(320, 240);
  st().cropRect = {40, 40, 100, 80};
  overlay();
  // Inside the frame (screen 100 + 40/2 … ) moves it; far left and up.
  drag(140, 130, -500, -500);
  EXPECT_EQ(st().cropRect.x, 0);
  EXPECT_EQ(st().cropRect.y, 0);
  EXPECT_EQ(st().cropRect.width, 100);
  drag(130, 120, 2000, 2000);
  EXPECT_EQ(st().cropRect.x, 220);
  EXPECT_EQ(st().cropRect.y, 160);
  EXPECT_EQ(st().cropRect.height, 80);
  // A drag by 3 screen pixels is 6 image pixels at this scale.
  drag(250, 200, 247, 203);
  EXPECT_EQ(st().cropRect.x, 214);
  EXPECT_EQ(st().cropRect.y, 160);
}

TEST_F(CropTest, PressOutsideTheFrameIsNotTaken) {
  open(320, 240);
  st().cropRect = {100, 100, 50, 50};
  overlay(ScreenHarness::press(110, 110));
  EXPECT_EQ(st().cropHandle, -1);
  EXPECT_FALSE(h_.ctx().clickTaken);
}

TEST_F(CropTest, ApplyCropsClosesAndStartsAgainFromTheWholeImage) {
  open(320, 240);
  st().sheet = ui::Sheet::Crop;
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(doc().versions.size(), 1u) << "the whole image is no crop";

  st().cropRect = {160, 30, 100, 50};
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(doc().versions.size(), 2u);
  EXPECT_EQ(doc().image.width, 100);
  EXPECT_EQ(doc().image.height, 50);
  EXPECT_TRUE(image_sheets::bluish(doc().image, 50, 40));
  EXPECT_EQ(st().sheet, ui::Sheet::None);
  EXPECT_EQ(st().cropRect.width, 0);

  st().sheet = ui::Sheet::Crop;
  st().cropRect = {10, 10, 20, 20};
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.reset"));
  EXPECT_EQ(st().cropRect.width, 100);
  EXPECT_EQ(st().cropRect.height, 50);
}

// --- Adjust -------------------------------------------------------------------------------

TEST_F(SheetTest, AdjustPreviewsOnTheProxyAndAppliesOnTheFullImage) {
  open(1200, 800);
  st().sheet = ui::Sheet::Adjust;
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(doc().versions.size(), 1u) << "nothing to apply with all amounts 0";

  setSlider("slider.brightness", 40, -100, 100);
  EXPECT_NEAR(st().adjustAmounts.brightness, 40, 1);
  EXPECT_EQ(st().adjustAmounts.brightness, std::round(st().adjustAmounts.brightness)) << "whole numbers";
  ASSERT_TRUE(st().preview.valid());
  EXPECT_EQ(st().preview.width, 900);
  EXPECT_EQ(st().preview.height, 600);
  EXPECT_FALSE(st().previewDirty);

  const uint32_t before = image_sheets::rgbAt(doc().image, 300, 400);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(doc().versions.size(), 2u);
  EXPECT_EQ(doc().image.width, 1200);
  EXPECT_GT(image_sheets::rgbAt(doc().image, 300, 400) >> 16, before >> 16) << "brighter";
  EXPECT_EQ(st().adjustAmounts.brightness, 0);
  EXPECT_FALSE(st().preview.valid());
}

TEST_F(SheetTest, AdjustResetClearsAmountsAndPreview) {
  open(320, 240);
  st().sheet = ui::Sheet::Adjust;
  sheetFrame();
  setSlider("slider.warmth", -50, -100, 100);
  ASSERT_TRUE(st().preview.valid());
  ASSERT_TRUE(clickSheet("sheet.reset"));
  EXPECT_EQ(st().adjustAmounts.warmth, 0);
  EXPECT_FALSE(st().preview.valid());
  EXPECT_EQ(doc().versions.size(), 1u);
}

TEST_F(SheetTest, ReopeningAdjustAfterAnUndoRebuildsTheProxy) {
  open(320, 240);
  st().sheet = ui::Sheet::Crop;
  st().cropRect = {0, 0, 200, 100};
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(doc().image.width, 200);

  st().sheet = ui::Sheet::Adjust;
  sheetFrame();
  setSlider("slider.contrast", 30, -100, 100);
  ASSERT_EQ(st().preview.width, 200);

  ASSERT_TRUE(doc().undo());
  st().adjustAmounts = media::Adjust{};
  sheetFrame();
  setSlider("slider.contrast", 30, -100, 100);
  EXPECT_EQ(st().preview.width, 320);
  EXPECT_EQ(st().preview.height, 240);

  // A new edit after the undo takes the same version number: still rebuilt.
  st().adjustAmounts = media::Adjust{};
  st().preview = media::Image{};
  st().sheet = ui::Sheet::Crop;
  st().cropRect = {0, 0, 100, 100};
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(doc().current, 1);
  st().sheet = ui::Sheet::Adjust;
  sheetFrame();
  setSlider("slider.contrast", 30, -100, 100);
  EXPECT_EQ(st().preview.width, 100);
}

TEST_F(SheetTest, AnotherPictureUnderTheSameNameGetsItsOwnProxy) {
  open(320, 240);
  st().sheet = ui::Sheet::Adjust;
  sheetFrame();
  setSlider("slider.brightness", 30, -100, 100);
  ASSERT_EQ(st().preview.width, 320);
  // The file is replaced and opened again: same path, same version index.
  ui::closeDocument();
  open(200, 100);
  st().sheet = ui::Sheet::Adjust;
  st().adjustAmounts = media::Adjust{};
  sheetFrame();
  setSlider("slider.brightness", 30, -100, 100);
  EXPECT_EQ(st().preview.width, 200);
}

// --- Resize -------------------------------------------------------------------------------

TEST_F(SheetTest, LongEdgeSliderStopsAt240) {
  open(640, 480);
  st().sheet = ui::Sheet::Resize;
  st().longEdge = 640;
  sheetFrame();
  const auto r = h_.widget("slider.longEdge");
  ASSERT_TRUE(r.has_value());
  sheetFrame(ScreenHarness::press(r->x - 5, r->y + r->h / 2));
  sheetFrame(ScreenHarness::release(r->x - 5, r->y + r->h / 2));
  EXPECT_EQ(st().longEdge, 240);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(doc().versions.size(), 2u);
  EXPECT_EQ(doc().image.width, 240);
  EXPECT_EQ(doc().image.height, 180);
  EXPECT_EQ(doc().versions[1].label, "Size");
  EXPECT_EQ(st().longEdge, 240);
}

TEST_F(SheetTest, ResizeChipsHalfAndReset) {
  open(1000, 600);
  st().sheet = ui::Sheet::Resize;
  sheetFrame();
  EXPECT_EQ(st().longEdge, 1000) << "an unset value starts at the current size";
  EXPECT_FALSE(h_.hasWidget("resize.chip.1080")) << "no chip that would enlarge";
  ASSERT_TRUE(clickSheet("resize.chip.720"));
  EXPECT_EQ(st().longEdge, 720);
  ASSERT_TRUE(clickSheet("resize.halfChip"));
  EXPECT_EQ(st().longEdge, 500);
  ASSERT_TRUE(clickSheet("sheet.reset"));
  EXPECT_EQ(st().longEdge, 1000);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(doc().versions.size(), 1u) << "the current size is no change";
}

TEST_F(SheetTest, HalfOfASmallImageIs240) {
  open(400, 300);
  st().sheet = ui::Sheet::Resize;
  sheetFrame();
  ASSERT_TRUE(clickSheet("resize.halfChip"));
  EXPECT_EQ(st().longEdge, 240);
}

// --- Format -------------------------------------------------------------------------------

TEST_F(SheetTest, StoredPlatformIndexIsClampedToTheTable) {
  open(320, 240);
  st().sheet = ui::Sheet::Format;
  const struct {
    int stored;
    int shown;
  } cases[] = {{99, 16}, {-3, 0}, {5, 5}};
  for (const auto& c : cases) {
    st().platformIndex = c.stored;
    st().presetIndex = 7;
    sheetFrame();
    EXPECT_EQ(st().platformIndex, c.shown) << c.stored;
    const formats::Platform& p = formats::platforms()[static_cast<size_t>(c.shown)];
    EXPECT_EQ(st().presetIndex, static_cast<int>(p.presets.size()) - 1);
  }
  EXPECT_STREQ(formats::platforms()[16].id, "vk");
  EXPECT_STREQ(formats::platforms()[0].id, "instagram");
}

TEST_F(SheetTest, AnotherPlatformStartsAtItsFirstPreset) {
  open(320, 240);
  st().sheet = ui::Sheet::Format;
  st().presetIndex = 2;
  sheetFrame();
  ASSERT_TRUE(clickSheet("format.platform"));
  ASSERT_TRUE(st().platformListOpen);
  sheetFrame();
  ASSERT_TRUE(clickSheet("format.platform.2"));
  EXPECT_EQ(st().platformIndex, 2);
  EXPECT_EQ(st().presetIndex, 0);
  EXPECT_FALSE(st().platformListOpen);
}

TEST_F(SheetTest, FormatFitsToThePresetWithTheStoredFitAndCloses) {
  open(640, 480);
  st().sheet = ui::Sheet::Format;
  st().platformIndex = 0;
  st().presetIndex = 1;  // Instagram portrait 1080 × 1350
  sheetFrame();
  ASSERT_TRUE(clickSheet("format.fit.cover"));
  EXPECT_EQ(settings::get().imageFitMode, settings::kFitCover);
  ASSERT_TRUE(clickSheet("format.fit.contain"));
  ASSERT_TRUE(clickSheet("format.pad.white"));
  EXPECT_EQ(settings::get().imagePadMode, settings::kPadWhite);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  ASSERT_EQ(doc().versions.size(), 2u);
  EXPECT_EQ(doc().image.width, 1080);
  EXPECT_EQ(doc().image.height, 1350);
  EXPECT_EQ(image_sheets::rgbAt(doc().image, 540, 5), 0xFFFFFFu) << "white border above";
  EXPECT_EQ(st().sheet, ui::Sheet::None);
}

// --- The worker path ------------------------------------------------------------------------

TEST_F(SheetTest, LargePicturesAreProcessedBehindTheBusyOverlay) {
  open(2000, 1200);  // 2.4 megapixels
  st().sheet = ui::Sheet::Rotate;
  st().rotateAngle = 90;
  sheetFrame();
  ASSERT_TRUE(clickSheet("sheet.apply"));
  if (ui::imageEditRunning()) {
    EXPECT_TRUE(ui::busy().active);
    EXPECT_FALSE(ui::busy().cancellable);
    sheetFrame();  // the apply button stays disabled while it runs
    ui::finishImageEdit();
  }
  EXPECT_FALSE(ui::busy().active);
  ASSERT_EQ(doc().versions.size(), 2u);
  EXPECT_EQ(doc().image.width, 1200);
  EXPECT_EQ(doc().image.height, 2000);
  EXPECT_EQ(st().sheet, ui::Sheet::None);
}

TEST_F(SheetTest, AResultForAVersionLeftMeanwhileIsDropped) {
  open(2000, 1200);
  ui::ImageEdit flip;
  flip.timer = "test";
  flip.label = "first";
  flip.errorKey = "errors.transform";
  flip.op = [](const media::Image& img) { return media::transform(img, media::TransformOp::FlipH); };
  ASSERT_TRUE(ui::startImageEdit(flip));
  ui::finishImageEdit();
  ASSERT_EQ(doc().versions.size(), 2u);

  flip.label = "second";
  ASSERT_TRUE(ui::startImageEdit(flip));
  EXPECT_FALSE(ui::startImageEdit(flip)) << "one at a time";
  ASSERT_TRUE(doc().undo());
  ui::finishImageEdit();
  EXPECT_EQ(doc().versions.size(), 2u);
  EXPECT_EQ(doc().current, 0);
  EXPECT_FALSE(ui::dialogOpen());
}

TEST_F(SheetTest, AFailedOperationShowsTheSheetsErrorAndKeepsTheDocument) {
  open(320, 240);
  ui::ImageEdit broken;
  broken.timer = "test";
  broken.label = "broken";
  broken.errorKey = "errors.crop";
  broken.op = [](const media::Image&) { return media::Image{}; };
  ASSERT_TRUE(ui::startImageEdit(broken));
  ui::finishImageEdit();
  EXPECT_EQ(doc().versions.size(), 1u);
  EXPECT_TRUE(ui::dialogOpen());
}

// --- Pictures of the sheets ------------------------------------------------------------------

// With KORVELLE_SHEET_PICTURES set to a folder, each sheet is drawn in
// English and Arabic into <folder>/<sheet>_<lang>.png for looking them over.
TEST_F(SheetTest, SheetsDrawInEnglishAndArabic) {
  open(1200, 800);
  const char* folder = std::getenv("KORVELLE_SHEET_PICTURES");
  const struct {
    ui::Sheet sheet;
    const char* name;
    const char* id;
  } sheets[] = {{ui::Sheet::Rotate, "rotate", "sheet.rotate"},
                {ui::Sheet::Crop, "crop", "sheet.crop"},
                {ui::Sheet::Adjust, "adjust", "sheet.adjust"},
                {ui::Sheet::Resize, "resize", "sheet.resize"},
                {ui::Sheet::Format, "format", "sheet.format"}};
  for (const char* lang : {"en", "ar"}) {
    i18n::setLanguage(lang);
    for (const auto& s : sheets) {
      st().sheet = s.sheet;
      st().rotateAngle = s.sheet == ui::Sheet::Rotate ? 12 : 0;
      st().adjustAmounts.brightness = s.sheet == ui::Sheet::Adjust ? 20 : 0;
      sheetFrame();
      EXPECT_TRUE(h_.hasWidget(s.id)) << s.name << " " << lang;
      EXPECT_TRUE(h_.hasWidget("sheet.apply")) << s.name << " " << lang;
      if (folder != nullptr) {
        const std::string path = std::string(folder) + "/" + s.name + "_" + lang + ".png";
        EXPECT_EQ(cairo_surface_write_to_png(h_.surface(), path.c_str()), CAIRO_STATUS_SUCCESS) << path;
      }
    }
  }
  i18n::setLanguage("en");
}

// --- The video half ---------------------------------------------------------------------------

class VideoSheetTest : public SheetTest {
 protected:
  void openVideo() {
    const std::string clip = media_clips::clip(
        "sheets_1080.mp4", "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=1 -c:v libx264 -pix_fmt yuv420p");
    ASSERT_FALSE(clip.empty());
    std::string err;
    ASSERT_TRUE(doc().openVideo(clip, &err)) << err;
  }
};

TEST_F(VideoSheetTest, ResizeOffersOnlySmallerHeightsAndOriginalKeepsTheSize) {
  openVideo();
  st().sheet = ui::Sheet::Resize;
  sheetFrame();
  EXPECT_TRUE(h_.hasWidget("resize.chip.original"));
  EXPECT_TRUE(h_.hasWidget("resize.chip.720"));
  EXPECT_FALSE(h_.hasWidget("resize.chip.1080")) << "not below the short side";
  EXPECT_FALSE(h_.hasWidget("resize.chip.2160"));
  EXPECT_FALSE(h_.hasWidget("slider.longEdge")) << "the image controls stay away";
  ASSERT_TRUE(clickSheet("resize.chip.720"));
  EXPECT_EQ(st().targetHeight, 720);
  ASSERT_TRUE(clickSheet("resize.chip.original"));
  EXPECT_EQ(st().targetHeight, 0);
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(doc().versions.size(), 1u) << "the original size is no change";
}

TEST_F(VideoSheetTest, FormatShowsTheVideoFitWithoutBorderAndExportsOnApply) {
  openVideo();
  st().sheet = ui::Sheet::Format;
  sheetFrame();
  EXPECT_FALSE(h_.hasWidget("format.pad.blur")) << "the border belongs to images";
  ASSERT_TRUE(clickSheet("format.fit.stretch"));
  EXPECT_EQ(settings::get().videoFitMode, settings::kFitStretch);
  EXPECT_EQ(settings::get().imageFitMode, settings::kFitContain) << "kept apart";
  ASSERT_TRUE(clickSheet("sheet.apply"));
  EXPECT_EQ(st().sheet, ui::Sheet::None) << "the sheet closes while the work renders";
}

}  // namespace
