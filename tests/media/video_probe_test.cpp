// Telling images from videos, reading a video's properties, output sizes,
// and the encoders an export can use.
#include <gtest/gtest.h>
#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "media/errors.h"
#include "media/heif_brand.h"
#include "media/video.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using media::EncoderInfo;
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

  static inline TempDir dir_;
  static inline std::string h264_, vp9_, silent_, minus90_, plus90_, sound_, text_;
};

std::vector<uint8_t> ftyp(const char* major, std::vector<const char*> compatible) {
  const uint32_t size = static_cast<uint32_t>(16 + 4 * compatible.size());
  std::vector<uint8_t> box = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8),
                              uint8_t(size), 'f', 't', 'y', 'p'};
  box.insert(box.end(), major, major + 4);
  box.insert(box.end(), {0, 0, 0, 0});
  for (const char* b : compatible) box.insert(box.end(), b, b + 4);
  return box;
}

// No render node and no NVIDIA device: only the software encoders can work.
bool noGraphicsCard() {
  struct stat st {};
  return stat("/dev/dri", &st) != 0 && stat("/dev/nvidia0", &st) != 0;
}

// This FFmpeg build has software H.264.
bool hasX264() { return avcodec_find_encoder_by_name("libx264") != nullptr; }

}  // namespace

TEST_F(VideoProbe, ClassifiesVideosStillsAndEverythingElse) {
  for (const std::string& path : {h264_, vp9_, fixture("phone_rot90.mov")})
    EXPECT_EQ(media::classify(path), MediaKind::Video) << path;
  // HEIF stills would look like HEVC or AV1 video to the demuxer.
  for (const char* name : {"muybridge.gif", "muybridge.apng", "orient_6.jpg", "flower_exif.webp", "iphone11pro.heic",
                           "irvine.avif"})
    EXPECT_EQ(media::classify(fixture(name)), MediaKind::Image) << name;
  for (const std::string& path : {text_, sound_, missing()}) EXPECT_EQ(media::classify(path), MediaKind::Unknown) << path;
}

TEST_F(VideoProbe, ReadsPropertiesOfCommonContainers) {
  VideoInfo info;
  std::string err = "stale";
  using Fields = std::tuple<int, int, int, double, bool, std::string, std::string, std::string>;
  auto fields = [](const VideoInfo& i) {
    return Fields{i.width, i.height, i.rotation, i.fps, i.hasAudio, i.videoCodec, i.audioCodec, i.container};
  };
  for (const auto& [path, seconds, want] :
       {std::tuple{h264_, 3.0, Fields{320, 240, 0, 25, true, "H.264", "AAC", "mov,mp4,m4a,3gp,3g2,mj2"}},
        {vp9_, 2.0, Fields{320, 240, 0, 25, true, "VP9", "Opus", "matroska,webm"}},
        {silent_, 2.0, Fields{320, 240, 0, 25, false, "H.264", "", "mov,mp4,m4a,3gp,3g2,mj2"}}}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(media::readVideoInfo(path, &info, &err));
    EXPECT_EQ(err, "");
    EXPECT_EQ(fields(info), want);
    EXPECT_NEAR(info.durationMs, seconds * 1000, 60);
    if (path == h264_) { EXPECT_GT(info.bitRate, 0); }
  }
}

TEST_F(VideoProbe, DisplayMatrixTurnsTheReportedSize) {
  VideoInfo info;
  // The real phone clip is stored 568 × 320 with a -90 degree matrix.
  ASSERT_TRUE(media::readVideoInfo(fixture("phone_rot90.mov"), &info, nullptr));
  EXPECT_EQ(std::tuple(info.rotation, info.width, info.height, info.hasAudio), std::tuple(90, 320, 568, true));
  EXPECT_NEAR(info.durationMs, 4002, 5);

  for (auto [path, rotation] : {std::pair{minus90_, 90}, {plus90_, 270}}) {
    ASSERT_TRUE(media::readVideoInfo(path, &info, nullptr));
    EXPECT_EQ(std::tuple(info.rotation, info.width, info.height), std::tuple(rotation, 240, 320)) << path;
  }
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
    int w = 0, h = 0;
    media::resolutionToSize(c.lines, c.srcW, c.srcH, &w, &h);
    EXPECT_EQ(std::pair(w, h), std::pair(c.w, c.h)) << c.lines << " of " << c.srcW << "x" << c.srcH;
  }
}

TEST(HeifBrand, RecognisesImageBrandsInTheFileTypeBox) {
  auto is = [](const std::vector<uint8_t>& b) { return media::isHeifStillBytes(b.data(), b.size()); };
  EXPECT_TRUE(is(ftyp("heic", {"mif1", "heic"})));
  EXPECT_TRUE(is(ftyp("heix", {})));
  EXPECT_TRUE(is(ftyp("msf1", {})));
  EXPECT_TRUE(is(ftyp("avif", {"mif1", "avif", "miaf"})));  // AVIF stills share the container, but are no HEIC
  auto isHeic = [](const std::vector<uint8_t>& b) { return media::isHeicStillBytes(b.data(), b.size()); };
  EXPECT_FALSE(isHeic(ftyp("avif", {"mif1", "avif", "miaf"})));
  EXPECT_TRUE(isHeic(ftyp("heic", {"mif1", "heic"})));
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
}

TEST(Encoders, ProbingFindsVp9RestoresTheLibraryLogLevelAndPlansAFallback) {
  av_log_set_level(AV_LOG_VERBOSE);
  const std::vector<EncoderInfo>& list = media::availableEncoders();
  EXPECT_EQ(av_log_get_level(), AV_LOG_VERBOSE);
  av_log_set_level(AV_LOG_INFO);

  ASSERT_FALSE(list.empty());
  // Software H.264 comes last, after VP9, so VP9 stays the default.
  size_t software = 1;
  if (hasX264()) {
    ASSERT_GE(list.size(), 2u);
    const EncoderInfo& x = list.back();
    EXPECT_EQ(std::tuple(x.name, x.hardware, x.codec, x.container), std::tuple("libx264", false, "h264", "mp4"));
    software = 2;
  }
  const EncoderInfo& vp9 = list[list.size() - software];
  EXPECT_EQ(std::tuple(vp9.name, vp9.device, vp9.hardware, vp9.codec, vp9.container),
            std::tuple("libvpx-vp9", "", false, "vp9", "webm"));
  int vaapi = 0;
  for (const EncoderInfo& e : list) vaapi += e.name == "h264_vaapi";
  EXPECT_LE(vaapi, 1) << "one VA-API entry at most, on the first node that works";
  // Unknown names fall back to the first available encoder; without a card, so do the card ones.
  EXPECT_EQ(media::plannedEncoder("").name, list.front().name);
  EXPECT_EQ(media::plannedEncoder("no_such_encoder").name, list.front().name);
  EXPECT_EQ(media::plannedEncoder("libvpx-vp9").name, "libvpx-vp9");
  if (noGraphicsCard()) {
    EXPECT_EQ(list.size(), software);
    EXPECT_EQ(media::plannedEncoder("h264_nvenc").name, "libvpx-vp9");
  }
  // Working copies take software H.264 where it exists, else VP9.
  EXPECT_EQ(media::workingCopyEncoder().name, hasX264() ? "libx264" : "libvpx-vp9");
}

TEST(Encoders, CommandLineListsEveryEncoderInColumns) {
  auto r = testing_support::runProcess({testing_support::korvelleExe(), "--encoders"});
  EXPECT_EQ(r.exitCode, 0);
  for (const EncoderInfo& e : media::availableEncoders()) EXPECT_NE(r.out.find(e.name + ' '), std::string::npos) << e.name;
  if (noGraphicsCard()) {
    EXPECT_EQ(r.out, std::string("libvpx-vp9                              Software\n") +
                         (hasX264() ? "libx264                                 Software\n" : ""));
  }
}
