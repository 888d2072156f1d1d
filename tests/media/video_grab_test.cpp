// Grabbing one frame at a time: the right frame, upright, at the asked size;
// the frame reader gives the same frames for times in any order, with fewer seeks.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "media/errors.h"
#include "media/video.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using media::Image;
using testing_support::fixture;
using media_clips::frameIndex;
using media_clips::indexClip;

namespace {

class VideoGrab : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // 3 s at 25 fps: frames 0 … 74, key frames every 12 frames, B-frames.
    mp4_ = indexClip("index.mp4", 3, "aac");
    webm_ = indexClip("index.webm", 2, "", media_clips::kVp9);
    turned_ = media_clips::rotatedCopy("turned.mp4", mp4_, 270);
    ASSERT_FALSE(mp4_.empty() || webm_.empty() || turned_.empty());
  }

  static int grabIndex(const std::string& path, double ms, bool vertical = false) {
    Image img;
    std::string err;
    if (!media::grabFrame(path, ms, 0, &img, &err)) {
      ADD_FAILURE() << "grab at " << ms << " ms: " << err;
      return -2;
    }
    return frameIndex(img, vertical);
  }

  static inline std::string mp4_, webm_, turned_;
};

}  // namespace

TEST_F(VideoGrab, ReturnsTheFirstFrameAtOrAfterTheTimeAndTheLastPastTheEnd) {
  // 40: on frame 1; 1000: mid-group; 1010: between frames, the next one; 2960: the last frame.
  for (auto [ms, frame] : {std::pair{0, 0}, {40, 1}, {1000, 25}, {1010, 26}, {1479, 37}, {2960, 74}, {2990, 74},
                           {60000, 74}})
    EXPECT_EQ(grabIndex(mp4_, ms), frame) << ms;
  for (auto [ms, frame] : {std::pair{0, 0}, {1000, 25}, {5000, 49}}) EXPECT_EQ(grabIndex(webm_, ms), frame) << ms;
}

TEST_F(VideoGrab, MaxEdgeLimitsTheLongSide) {
  Image img;
  ASSERT_TRUE(media::grabFrame(mp4_, 500, 160, &img, nullptr));
  EXPECT_EQ(std::tuple(img.width, img.height, img.hasAlpha), std::tuple(160, 120, false));
  EXPECT_EQ(frameIndex(img), 13);  // frame 12 is at 480 ms, 13 at 520 ms
  // 0: the stored size; never enlarged; at least 2 × 2.
  for (auto [edge, w, h] : {std::tuple{0, 320, 240}, {5000, 320, 240}, {1, 2, 2}}) {
    ASSERT_TRUE(media::grabFrame(mp4_, 500, edge, &img, nullptr));
    EXPECT_EQ(std::pair(img.width, img.height), std::pair(w, h)) << edge;
  }
}

TEST_F(VideoGrab, TurnedVideosComeOutUpright) {
  Image img;
  std::string err;
  ASSERT_TRUE(media::grabFrame(fixture("phone_rot90.mov"), 1000, 200, &img, &err)) << err;
  EXPECT_EQ(err, "");
  EXPECT_EQ(img.width, 113);  // 568 × 320 limited to 200 × 113, then turned
  EXPECT_EQ(img.height, 200);

  // -90 degree matrix: turned clockwise, the pattern's columns become rows.
  ASSERT_TRUE(media::grabFrame(turned_, 1000, 0, &img, &err)) << err;
  EXPECT_EQ(img.width, 240);
  EXPECT_EQ(img.height, 320);
  EXPECT_EQ(frameIndex(img, true), 25);
}

TEST_F(VideoGrab, FailuresCarryTheirWord) {
  Image img;
  img.width = 5;
  std::string err;
  EXPECT_FALSE(media::grabFrame("/nonexistent/clip.mp4", 0, 0, &img, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_FALSE(media::grabFrame(media_clips::soundOnly(), 0, 0, &img, &err));
  EXPECT_EQ(err, media::err::kNoVideoTrack);
  EXPECT_EQ(img.width, 5) << "a failed grab leaves the image alone";
  EXPECT_FALSE(media::grabFrame(mp4_, 0, 0, nullptr, &err));
}

TEST(VideoGrabColour, FollowsTheClipsColourMatrixAndRange) {
  // 0x30A0C0 as HD (BT.709) video in studio and full range; read as SD or studio range, red is off by 8+.
  for (const char* range : {"tv", "pc"}) {
    SCOPED_TRACE(range);
    const std::string path = media_clips::clip(
        std::string("colour_") + range + ".mp4",
        "-f lavfi -i \"color=c=0x30A0C0:s=64x64:d=0.2\" -vf \"scale=out_color_matrix=bt709:out_range=" +
            std::string(range) + ",format=yuv420p\" -colorspace bt709 -color_range " + range +
            " -c:v libx264 -qp 0");
    ASSERT_FALSE(path.empty());
    Image img;
    ASSERT_TRUE(media::grabFrame(path, 0, 0, &img, nullptr));
    const uint8_t* px = img.row(32) + 32 * 4;
    EXPECT_NEAR(px[0], 0x30, 4);
    EXPECT_NEAR(px[1], 0xA0, 5);
    EXPECT_NEAR(px[2], 0xC0, 4);
  }
}

TEST_F(VideoGrab, FrameReaderWalksForwardWithoutSeekingAndGivesWhatGrabFrameGivesForAnyTimes) {
  media::FrameReader reader;
  ASSERT_TRUE(reader.open(mp4_));
  EXPECT_EQ(reader.info().width, 320);
  // Key frames every 12 frames (480 ms): eight times inside the first group take one seek.
  for (int i = 0; i < 8; ++i) {
    Image img;
    ASSERT_TRUE(reader.frameAt(40.0 * i + 10, 64, &img));
    EXPECT_EQ(frameIndex(img), i + 1);
  }
  EXPECT_EQ(reader.seeks(), 1);
  for (double t : {0, 20, 40, 41, 500, 520, 1999, 2900, 1000, 100, 2990, 5000, 80}) {
    Image a, b;
    ASSERT_TRUE(reader.frameAt(t, 160, &a)) << t;
    ASSERT_TRUE(media::grabFrame(mp4_, t, 160, &b)) << t;
    EXPECT_EQ(frameIndex(a), frameIndex(b)) << t;
    EXPECT_EQ(a.width, 160);
  }
}

TEST(FrameReader, BadInputFailsWithAWord) {
  media::FrameReader reader;
  Image img;
  std::string err;
  EXPECT_FALSE(reader.frameAt(0, 64, &img, &err));
  EXPECT_EQ(err, media::err::kDecodeFailed);
  EXPECT_FALSE(reader.open("/nonexistent/file.mp4", &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_FALSE(reader.open(media_clips::soundOnly(), &err));
  EXPECT_EQ(err, media::err::kNoVideoTrack);
}
