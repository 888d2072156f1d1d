// The frame reader: the same frames as grabFrame for times in order, back in
// time and past the end, with fewer seeks.
#include <gtest/gtest.h>

#include <vector>

#include "media/video.h"
#include "support/media_clips.h"

TEST(FrameReader, GivesWhatGrabFrameGivesForAnyOrderOfTimes) {
  const std::string path = media_clips::indexClip("reader.mp4", 4, "");
  ASSERT_FALSE(path.empty());
  media::FrameReader reader;
  ASSERT_TRUE(reader.open(path));
  EXPECT_EQ(reader.info().width, 320);
  const std::vector<double> times{0, 20, 40, 41, 500, 520, 1999, 3000, 1000, 100, 3990, 5000, 80};
  for (double t : times) {
    media::Image a, b;
    ASSERT_TRUE(reader.frameAt(t, 160, &a)) << t;
    ASSERT_TRUE(media::grabFrame(path, t, 160, &b)) << t;
    EXPECT_EQ(media_clips::frameIndex(a), media_clips::frameIndex(b)) << t;
    EXPECT_EQ(a.width, 160);
  }
}

TEST(FrameReader, WalksForwardWithoutSeekingInsideAGroup) {
  const std::string path = media_clips::indexClip("reader.mp4", 4, "");
  media::FrameReader reader;
  ASSERT_TRUE(reader.open(path));
  // Key frames every 12 frames (480 ms): eight times inside the first group.
  for (int i = 0; i < 8; ++i) {
    media::Image img;
    ASSERT_TRUE(reader.frameAt(40.0 * i + 10, 64, &img));
    EXPECT_EQ(media_clips::frameIndex(img), i + 1);
  }
  EXPECT_EQ(reader.seeks(), 1);
}

TEST(FrameReader, BadInputFailsWithAWord) {
  media::FrameReader reader;
  media::Image img;
  std::string err;
  EXPECT_FALSE(reader.frameAt(0, 64, &img, &err));
  EXPECT_EQ(err, "DECODE_FAILED");
  EXPECT_FALSE(reader.open("/nonexistent/file.mp4", &err));
  EXPECT_EQ(err, "UNSUPPORTED_FORMAT");
  EXPECT_FALSE(reader.open(media_clips::soundOnly(), &err));
  EXPECT_EQ(err, "NO_VIDEO_TRACK");
}

TEST(FrameReader, NearTakesAKeyFrameWithinReachElseTheExactFrame) {
  const std::string path = media_clips::indexClip("reader.mp4", 4, "");
  media::FrameReader reader;
  ASSERT_TRUE(reader.open(path));
  media::Image img, exact;
  // Key frames at least every 12 frames (480 ms): one lies within 100 ms of
  // 500, and the answer is a frame within that reach.
  ASSERT_TRUE(reader.frameNear(500, 100, 64, &img));
  EXPECT_NEAR(media_clips::frameIndex(img) * 40.0, 500, 100);
  // No key frame within reach, or no reach at all: the exact frame.
  for (double t : {300.0, 1000.0}) {
    ASSERT_TRUE(reader.frameNear(t, t == 300 ? 100 : 0, 64, &img));
    ASSERT_TRUE(media::grabFrame(path, t, 64, &exact));
    EXPECT_EQ(media_clips::frameIndex(img), media_clips::frameIndex(exact)) << t;
  }
}
