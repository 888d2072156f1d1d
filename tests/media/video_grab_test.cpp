// Grabbing one frame at a time: the right frame, upright, at the asked size.
#include <gtest/gtest.h>

#include <string>

#include "media/video.h"
#include "support/test_support.h"
#include "video_fixtures.h"

using media::Image;
using testing_support::fixture;
using testing_support::TempDir;
using video_fixtures::ffmpeg;
using video_fixtures::frameIndex;
using video_fixtures::makeIndexClip;

namespace {

class VideoGrab : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    // 3 s at 25 fps: frames 0 … 74, key frames every 12 frames, B-frames.
    ASSERT_TRUE(makeIndexClip(file("index.mp4"), 3, "aac"));
    ASSERT_TRUE(makeIndexClip(file("index.webm"), 2, "", "libvpx-vp9 -deadline realtime -cpu-used 8 -g 12"));
    ASSERT_TRUE(ffmpeg("-i '" + file("index.mp4") + "' -c copy -metadata:s:v:0 rotate=270 '" +
                       file("turned.mp4") + "'"));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string file(const std::string& name) { return dir_->file(name); }

  static int grabIndex(const std::string& path, double ms, bool vertical = false) {
    Image img;
    std::string err;
    if (!media::grabFrame(path, ms, 0, &img, &err)) {
      ADD_FAILURE() << "grab at " << ms << " ms: " << err;
      return -2;
    }
    return frameIndex(img, vertical);
  }

  static TempDir* dir_;
};

TempDir* VideoGrab::dir_ = nullptr;

}  // namespace

TEST_F(VideoGrab, ReturnsTheFirstFrameAtOrAfterTheTime) {
  EXPECT_EQ(grabIndex(file("index.mp4"), 0), 0);
  EXPECT_EQ(grabIndex(file("index.mp4"), 40), 1);     // exactly on frame 1
  EXPECT_EQ(grabIndex(file("index.mp4"), 1000), 25);  // mid-GOP: decoded forward from frame 24
  EXPECT_EQ(grabIndex(file("index.mp4"), 1010), 26);  // between frames: the next one
  EXPECT_EQ(grabIndex(file("index.mp4"), 1479), 37);
  EXPECT_EQ(grabIndex(file("index.mp4"), 2960), 74);  // the last frame
  EXPECT_EQ(grabIndex(file("index.webm"), 1000), 25);
  EXPECT_EQ(grabIndex(file("index.webm"), 0), 0);
}

TEST_F(VideoGrab, TimesPastTheEndGiveTheLastFrame) {
  EXPECT_EQ(grabIndex(file("index.mp4"), 2990), 74);
  EXPECT_EQ(grabIndex(file("index.mp4"), 60000), 74);
  EXPECT_EQ(grabIndex(file("index.webm"), 5000), 49);
}

TEST_F(VideoGrab, MaxEdgeLimitsTheLongSide) {
  Image img;
  ASSERT_TRUE(media::grabFrame(file("index.mp4"), 500, 160, &img, nullptr));
  EXPECT_EQ(img.width, 160);
  EXPECT_EQ(img.height, 120);
  EXPECT_FALSE(img.hasAlpha);
  EXPECT_EQ(frameIndex(img), 13);  // frame 12 is at 480 ms, 13 at 520 ms
  ASSERT_TRUE(media::grabFrame(file("index.mp4"), 500, 0, &img, nullptr));
  EXPECT_EQ(img.width, 320);
  EXPECT_EQ(img.height, 240);
  ASSERT_TRUE(media::grabFrame(file("index.mp4"), 500, 5000, &img, nullptr));  // never enlarges
  EXPECT_EQ(img.width, 320);
  ASSERT_TRUE(media::grabFrame(file("index.mp4"), 500, 1, &img, nullptr));  // at least 2 × 2
  EXPECT_EQ(img.width, 2);
  EXPECT_EQ(img.height, 2);
  // Opaque: every alpha byte 255.
  ASSERT_TRUE(media::grabFrame(file("index.mp4"), 500, 64, &img, nullptr));
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) ASSERT_EQ(img.row(y)[x * 4 + 3], 255);
  }
}

TEST_F(VideoGrab, TurnedVideosComeOutUpright) {
  Image img;
  std::string err;
  ASSERT_TRUE(media::grabFrame(fixture("phone_rot90.mov"), 1000, 200, &img, &err)) << err;
  EXPECT_EQ(err, "");
  EXPECT_EQ(img.width, 113);  // 568 × 320 limited to 200 × 113, then turned
  EXPECT_EQ(img.height, 200);

  // -90 degree matrix: turned clockwise, the pattern's columns become rows,
  // bit 0 at the top.
  ASSERT_TRUE(media::grabFrame(file("turned.mp4"), 1000, 0, &img, &err)) << err;
  EXPECT_EQ(img.width, 240);
  EXPECT_EQ(img.height, 320);
  EXPECT_EQ(frameIndex(img, true), 25);
}

TEST_F(VideoGrab, FailuresCarryTheirWord) {
  Image img;
  img.width = 5;
  std::string err;
  EXPECT_FALSE(media::grabFrame(file("missing.mp4"), 0, 0, &img, &err));
  EXPECT_EQ(err, "UNSUPPORTED_FORMAT");
  ASSERT_TRUE(ffmpeg("-f lavfi -i \"sine=duration=1\" -c:a aac '" + file("sound.m4a") + "'"));
  EXPECT_FALSE(media::grabFrame(file("sound.m4a"), 0, 0, &img, &err));
  EXPECT_EQ(err, "NO_VIDEO_TRACK");
  EXPECT_EQ(img.width, 5) << "a failed grab leaves the image alone";
  EXPECT_FALSE(media::grabFrame(file("index.mp4"), 0, 0, nullptr, &err));
}
