// Saving the image: options, signature, copies of unedited images, extensions, failures, export groups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/exif.h"
#include "platform/filedialog_portal.h"
#include "platform/fs.h"
#include "screens/save_image.h"
#include "screens/screen_fixtures.h"

using namespace screen_fixtures;
using testing_support::readFile;

namespace {

class SaveTest : public SheetTest {
 protected:
  // The export groups drawn alone in a column.
  void groups(ui::Input in = {}) {
    h_.frame([](ui::Ctx& ctx) { ui::imageExportGroups(ctx, 40, 400, 600); }, std::move(in));
  }
};

TEST_F(SaveTest, OptionsFollowTheSettingsAndTheSourceFormatNamesCountVersionsFromOne) {
  EXPECT_EQ(ui::suggestedSaveName("beach.jpg", 0, ".png"), "beach_v1.png");
  EXPECT_EQ(ui::suggestedSaveName("my.holiday.heic", 1, ".jpg"), "my.holiday_v2.jpg");

  open(64, 48, media::OutFormat::Png);
  settings::mutableData().imageFormat = settings::kFormatWebP;
  settings::mutableData().jpegQuality = 77;
  media::OutOptions o = ui::imageOutOptions();
  EXPECT_EQ(o.format, media::OutFormat::WebP);
  EXPECT_EQ(o.quality, 77);
  EXPECT_EQ(o.sourceFormat, "png");
  open(64, 48, media::OutFormat::WebP);
  EXPECT_EQ(ui::imageOutOptions().sourceFormat, "webp");
}

TEST_F(SaveTest, SignatureNamesTheProgramAndTheDay) {
  const media::Meta m = ui::signature();
  EXPECT_EQ(m.software, "Pelmora Media Editor 1.0.0 (1079)");
  const std::string day = media::exifNow().substr(0, 10);
  EXPECT_EQ(m.comment.rfind("Edited on " + day + " with Pelmora Media Editor · https://", 0), 0u) << m.comment;
}

TEST_F(SaveTest, UneditedImageInItsOwnFormatIsCopiedByteForByte) {
  open(320, 240);
  const std::string target = tmp_.file("copy.jpg");
  ASSERT_TRUE(ui::saveImageAnswer(target));
  EXPECT_EQ(readFile(target), readFile(source_));
  EXPECT_TRUE(ui::dialogOpen()) << "the done dialog";
  closeDialog(&h_);

  // Another output format is encoded, with the signature.
  settings::mutableData().imageFormat = settings::kFormatPng;
  const std::string png = tmp_.file("copy");
  ASSERT_TRUE(ui::saveImageAnswer(png));
  EXPECT_FALSE(platform::fs::isFile(png)) << "the extension was appended";
  const std::string written = readFile(png + ".png");
  EXPECT_EQ(written.substr(1, 3), "PNG");
  EXPECT_NE(written.find("Pelmora Media Editor"), std::string::npos);
}

TEST_F(SaveTest, EditedImageIsEncodedWithTheSignature) {
  open(320, 240);
  ASSERT_TRUE(document().commitImage(testPicture(100, 50), "edit"));
  const std::string target = tmp_.file("edited.jpg");
  ASSERT_TRUE(ui::saveImageAnswer(target));
  const std::string bytes = readFile(target);
  EXPECT_NE(bytes, readFile(source_));
  EXPECT_NE(bytes.find("Pelmora Media Editor"), std::string::npos);
  media::Image back;
  ASSERT_TRUE(media::loadImage(target, &back, nullptr, nullptr));
  EXPECT_EQ(back.width, 100);
  EXPECT_EQ(back.height, 50);

  // The extension is compared exactly.
  ASSERT_TRUE(ui::saveImageAnswer(tmp_.file("IMG.JPG")));
  EXPECT_TRUE(platform::fs::isFile(tmp_.file("IMG.JPG.jpg")));
  EXPECT_FALSE(platform::fs::isFile(tmp_.file("IMG.JPG")));
}

TEST_F(SaveTest, TransparentImageWithJpegOutputIsSavedAsPng) {
  media::Image clear = media::Image::create(32, 16, true);  // fully transparent
  media::OutOptions o;
  o.format = media::OutFormat::Png;
  ASSERT_TRUE(media::saveImage(tmp_.file("clear.png"), clear, o, {}, nullptr));
  ASSERT_TRUE(document().openImage(tmp_.file("clear.png")));
  ASSERT_TRUE(document().image.hasAlpha);
  settings::mutableData().imageFormat = settings::kFormatJpeg;
  ASSERT_TRUE(ui::saveImageAnswer(tmp_.file("out.jpg")));
  EXPECT_TRUE(platform::fs::isFile(tmp_.file("out.jpg.png")));
  EXPECT_EQ(readFile(tmp_.file("out.jpg.png")), readFile(tmp_.file("clear.png")))
      << "unedited, and PNG is its own format: copied";
}

TEST_F(SaveTest, AFolderNobodyCanWriteShowsTheErrorAndLeavesNoFile) {
  open(64, 48);
  ASSERT_TRUE(testing_support::writeFile(tmp_.file("plain"), "x"));
  for (const std::string& target : {tmp_.file("plain") + "/out.jpg", std::string("/proc/korvelle_out.jpg")}) {
    EXPECT_FALSE(ui::saveImageAnswer(target)) << target;
    EXPECT_TRUE(ui::dialogOpen()) << target;
    EXPECT_FALSE(platform::fs::isFile(target)) << target;
    closeDialog(&h_);
  }
  // The edited path fails the same way.
  ASSERT_TRUE(document().commitImage(testPicture(10, 10), "edit"));
  EXPECT_FALSE(ui::saveImageAnswer(tmp_.file("plain") + "/edited.jpg"));
  EXPECT_TRUE(ui::dialogOpen());
  EXPECT_EQ(platform::fs::listDir(tmp_.path()).size(), 2u) << "beach.jpg and plain only";
}

TEST_F(SaveTest, SaveAsTakesKorvelleSaveToWithoutADialogButWaitsForARunningOne) {
  open(64, 48);
  state().dialogPurpose = ui::DialogPurpose::OpenImage;
  {
    testing_support::ScopedEnv env("KORVELLE_SAVE_TO", tmp_.file("x.jpg").c_str());
    ui::saveImageAs(h_.ctx());
  }
  EXPECT_EQ(state().dialogPurpose, ui::DialogPurpose::OpenImage);
  EXPECT_EQ(platform::pollDialog(static_cast<std::vector<std::string>*>(nullptr)), platform::kDialogIdle);
  state().dialogPurpose = ui::DialogPurpose::None;

  const std::string target = tmp_.file("chosen.jpg");
  {
    testing_support::ScopedEnv env("KORVELLE_SAVE_TO", target.c_str());
    ui::saveImageAs(h_.ctx());
  }
  EXPECT_EQ(state().dialogPurpose, ui::DialogPurpose::SaveImage);
  std::vector<std::string> paths;
  ASSERT_EQ(platform::pollDialog(&paths), platform::kDialogChosen);
  EXPECT_EQ(paths, std::vector<std::string>{target});
  state().dialogPurpose = ui::DialogPurpose::None;
}

TEST_F(SaveTest, ExportGroupsOfferFormatsAndQualityOrThePngHint) {
  open(64, 48);
  groups();
  for (const char* id : {"export.imgfmt.0", "export.imgfmt.1", "export.imgfmt.2", "export.imgfmt.3"})
    EXPECT_TRUE(h_.hasWidget(id)) << id;
  EXPECT_TRUE(h_.hasWidget("export.quality")) << "JPEG output has a quality";

  const auto png = h_.widget("export.imgfmt.2");
  ASSERT_TRUE(png.has_value());
  groups(ScreenHarness::click(png->x + png->w / 2, png->y + png->h / 2));
  EXPECT_EQ(settings::get().imageFormat, settings::kFormatPng);
  groups();
  EXPECT_FALSE(h_.hasWidget("export.quality")) << "PNG has no quality, the hint stands there";

  const auto jpeg = h_.widget("export.imgfmt.1");
  ASSERT_TRUE(jpeg.has_value());
  groups(ScreenHarness::click(jpeg->x + jpeg->w / 2, jpeg->y + jpeg->h / 2));
  groups();
  const auto q = h_.widget("export.quality");
  ASSERT_TRUE(q.has_value());
  groups(ScreenHarness::press(q->x + q->w * 0.51, q->y + q->h / 2));
  groups(ScreenHarness::release(q->x + q->w * 0.51, q->y + q->h / 2));
  EXPECT_EQ(settings::get().jpegQuality, 75);
  groups(ScreenHarness::press(q->x - 5, q->y + q->h / 2));
  EXPECT_EQ(settings::get().jpegQuality, 50) << "the slider starts at 50";
  groups(ScreenHarness::release(q->x - 5, q->y + q->h / 2));
}

}  // namespace
