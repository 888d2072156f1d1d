// Telling images from videos, reading a video's properties, output sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/errors.h"
#include "media/heif_brand.h"
#include "media/video.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using media::MediaKind;
using media::VideoInfo;
using testing_support::fixture;
using testing_support::TempDir;
using media_clips::indexClip;
using media_clips::rotatedCopy;

namespace {

class VideoProbe : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    h264_ = indexClip("h264_aac.mp4", 3, "aac");
    vp9_ = indexClip("vp9_opus.webm", 2, "opus", media_clips::kVp9);
    silent_ = indexClip("silent.mp4", 2, "");
    minus90_ = rotatedCopy("matrix_minus90.mp4", silent_, 270);
    plus90_ = rotatedCopy("matrix_plus90.mp4", silent_, 90);
    sound_ = media_clips::soundOnly();
    ASSERT_FALSE(h264_.empty() || vp9_.empty() || silent_.empty() || minus90_.empty() ||
                 plus90_.empty() || sound_.empty());
    text_ = dir_.file("notes.txt");
    ASSERT_TRUE(testing_support::writeFile(text_, "just some words\nand more\n"));
  }
  static std::string missing() { return dir_.file("does_not_exist.mp4"); }

  static TempDir dir_;
  static std::string h264_, vp9_, silent_, minus90_, plus90_, sound_, text_;
};

TempDir VideoProbe::dir_;
std::string VideoProbe::h264_, VideoProbe::vp9_, VideoProbe::silent_, VideoProbe::minus90_,
    VideoProbe::plus90_, VideoProbe::sound_, VideoProbe::text_;

std::vector<uint8_t> ftyp(const char* major, std::vector<const char*> compatible) {
  const uint32_t size = static_cast<uint32_t>(16 + 4 * compatible.size());
  std::vector<uint8_t> box = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
                              uint8_t(size), 'f', 't', 'y', 'p'};
  box.insert(box.end(), major, major + 4);
  box.insert(box.end(), {0, 0, 0, 0});
  for (const char* b : compatible) box.insert(box.end(), b, b + 4);
  return box;
}

}  // namespace

TEST_F(VideoProbe, ClassifiesVideosStillsAndEverythingElse) {
  EXPECT_EQ(media::classify(h264_), MediaKind::Video);
  EXPECT_EQ(media::classify(vp9_), MediaKind::Video);
  EXPECT_EQ(media::classify(fixture("phone_rot90.mov")), MediaKind::Video);
  EXPECT_EQ(media::classify(fixture("muybridge.gif")), MediaKind::Image);
  EXPECT_EQ(media::classify(fixture("muybridge.apng")), MediaKind::Image);
  EXPECT_EQ(media::classify(fixture("orient_6.jpg")), MediaKind::Image);
  EXPECT_EQ(media::classify(fixture("flower_exif.webp")), MediaKind::Image);
  // HEIF stills would look like HEVC or AV1 video to the demuxer.
  EXPECT_EQ(media::classify(fixture("iphone11pro.heic")), MediaKind::Image);
  EXPECT_EQ(media::classify(fixture("irvine.avif")), MediaKind::Image);
  EXPECT_EQ(media::classify(text_), MediaKind::Unknown);
  EXPECT_EQ(media::classify(sound_), MediaKind::Unknown);
  EXPECT_EQ(media::classify(missing()), MediaKind::Unknown);
}

TEST_F(VideoProbe, ReadsPropertiesOfCommonContainers) {
  VideoInfo info;
  std::string err = "stale";
  ASSERT_TRUE(media::readVideoInfo(h264_, &info, &err));
  EXPECT_EQ(err, "");
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  EXPECT_EQ(info.rotation, 0);
  EXPECT_NEAR(info.durationMs, 3000, 60);
  EXPECT_DOUBLE_EQ(info.fps, 25);
  EXPECT_GT(info.bitRate, 0);
  EXPECT_TRUE(info.hasAudio);
  EXPECT_EQ(info.videoCodec, "H.264");
  EXPECT_EQ(info.audioCodec, "AAC");
  EXPECT_EQ(info.container, "mov,mp4,m4a,3gp,3g2,mj2");

  ASSERT_TRUE(media::readVideoInfo(vp9_, &info, &err));
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 240);
  EXPECT_NEAR(info.durationMs, 2000, 60);
  EXPECT_DOUBLE_EQ(info.fps, 25);
  EXPECT_TRUE(info.hasAudio);
  EXPECT_EQ(info.videoCodec, "VP9");
  EXPECT_EQ(info.audioCodec, "Opus");
  EXPECT_EQ(info.container, "matroska,webm");

  ASSERT_TRUE(media::readVideoInfo(silent_, &info, &err));
  EXPECT_FALSE(info.hasAudio);
  EXPECT_EQ(info.audioCodec, "");
  EXPECT_EQ(info.videoCodec, "H.264");
}

TEST_F(VideoProbe, DisplayMatrixTurnsTheReportedSize) {
  VideoInfo info;
  // The real phone clip is stored 568 × 320 with a -90 degree matrix.
  ASSERT_TRUE(media::readVideoInfo(fixture("phone_rot90.mov"), &info, nullptr));
  EXPECT_EQ(info.rotation, 90);
  EXPECT_EQ(info.width, 320);
  EXPECT_EQ(info.height, 568);
  EXPECT_TRUE(info.hasAudio);
  EXPECT_NEAR(info.durationMs, 4002, 5);

  ASSERT_TRUE(media::readVideoInfo(minus90_, &info, nullptr));
  EXPECT_EQ(info.rotation, 90);
  EXPECT_EQ(info.width, 240);
  EXPECT_EQ(info.height, 320);

  ASSERT_TRUE(media::readVideoInfo(plus90_, &info, nullptr));
  EXPECT_EQ(info.rotation, 270);
  EXPECT_EQ(info.width, 240);
  EXPECT_EQ(info.height, 320);
}

TEST_F(VideoProbe, ReportsWhyAFileIsNoVideo) {
  VideoInfo info;
  info.width = 77;
  std::string err;
  EXPECT_FALSE(media::readVideoInfo(text_, &info, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_FALSE(media::readVideoInfo(sound_, &info, &err));
  EXPECT_EQ(err, media::err::kNoVideoTrack);
  EXPECT_FALSE(media::readVideoInfo(missing(), &info, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_EQ(info.width, 77) << "a failed read leaves the record alone";
  EXPECT_FALSE(media::readVideoInfo(h264_, nullptr, &err));
}

TEST(ResolutionToSize, ScalesTheShortSideDownToEvenSizesAndNeverUp) {
  const struct {
    int lines, srcW, srcH, w, h;
  } cases[] = {
      {1080, 1920, 1080, 1920, 1080}, {720, 1920, 1080, 1280, 720}, {720, 1080, 1920, 720, 1280},
      {480, 1920, 1080, 852, 480},  // 853.3 rounded, then down to even
      {361, 1000, 1000, 360, 360},  // square counts as portrait
      {1, 1920, 1080, 2, 2},          {2160, 1920, 1080, 1920, 1080},
      {0, 1921, 1081, 1921, 1081},  // bad target: the source unchanged, odd sizes too
      {720, 0, 1080, 0, 1080},
  };
  for (const auto& c : cases) {
    int w = 0;
    int h = 0;
    media::resolutionToSize(c.lines, c.srcW, c.srcH, &w, &h);
    EXPECT_EQ(w, c.w) << c.lines << " of " << c.srcW << "x" << c.srcH;
    EXPECT_EQ(h, c.h) << c.lines << " of " << c.srcW << "x" << c.srcH;
  }
  int h = 0;
  media::resolutionToSize(720, 1920, 1080, nullptr, &h);
  EXPECT_EQ(h, 720);
  int w = 0;
  media::resolutionToSize(720, 1920, 1080, &w, nullptr);
  EXPECT_EQ(w, 1280);
}

TEST(VideoExtensions, ListsTheOpenableContainersInOrder) {
  const std::vector<std::string> want = {"mp4", "mov", "m4v", "mkv", "webm", "avi", "3gp", "mts"};
  EXPECT_EQ(media::videoExtensions(), want);
}

TEST(HeifBrand, RecognisesImageBrandsInTheFileTypeBox) {
  auto is = [](const std::vector<uint8_t>& b) { return media::isHeifStillBytes(b.data(), b.size()); };
  EXPECT_TRUE(is(ftyp("heic", {"mif1", "heic"})));
  EXPECT_TRUE(is(ftyp("heix", {})));
  EXPECT_TRUE(is(ftyp("msf1", {})));
  EXPECT_TRUE(is(ftyp("avif", {"mif1", "avif", "miaf"})));  // AVIF stills share the container
  EXPECT_FALSE(is(ftyp("isom", {"isom", "iso2", "avc1", "mp41"})));
  EXPECT_FALSE(is(ftyp("qt  ", {"qt  "})));
  EXPECT_FALSE(is(ftyp("avif", {"avis"})));

  // A compatible brand beyond the box's own size does not count.
  std::vector<uint8_t> shortBox = ftyp("isom", {"mif1"});
  shortBox[3] = 16;
  EXPECT_FALSE(is(shortBox));
  // 64-bit box size.
  std::vector<uint8_t> large = {0, 0, 0, 1, 'f', 't', 'y', 'p', 0, 0, 0, 0, 0, 0, 0, 28,
                                'm', 's', 'f', '1', 0, 0, 0, 0, 'i', 's', 'o', 'm'};
  EXPECT_TRUE(is(large));
  // Truncated, wrong box, nonsense sizes.
  std::vector<uint8_t> heic = ftyp("heic", {});
  EXPECT_FALSE(media::isHeifStillBytes(heic.data(), 11));
  EXPECT_TRUE(media::isHeifStillBytes(heic.data(), 12));
  std::vector<uint8_t> moov = heic;
  std::memcpy(moov.data() + 4, "moov", 4);
  EXPECT_FALSE(is(moov));
  std::vector<uint8_t> tiny = heic;
  tiny[3] = 8;
  EXPECT_FALSE(is(tiny));
  EXPECT_FALSE(media::isHeifStillBytes(nullptr, 100));

  EXPECT_TRUE(media::isHeifStill(fixture("iphone11pro.heic")));
  EXPECT_FALSE(media::isHeifStill(fixture("phone_rot90.mov")));
  EXPECT_FALSE(media::isHeifStill(fixture("orient_1.jpg")));
  EXPECT_FALSE(media::isHeifStill("/nonexistent/file.heic"));
}
