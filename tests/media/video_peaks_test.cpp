// Peak levels of a file's sound for the timeline.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/video.h"
#include "support/media_clips.h"
#include "support/test_support.h"

namespace {

// A tone of amplitude 0.8 from 1000 to 1500 ms in 3 s of silence.
const char* kBurst = "0.8*sin(2*PI*440*t)*between(t\\,1\\,1.5)";

// A file of generated sound: one aevalsrc expression per channel, "|" between.
std::string sound(const std::string& name, const std::string& exprs, const std::string& codec) {
  return media_clips::clip(name, "-f lavfi -i \"aevalsrc=" + exprs + ":s=48000:d=3\" -c:a " + codec);
}

class AudioPeaks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    burstS16_ = sound("burst_s16.wav", kBurst, "pcm_s16le");
    burstAac_ = sound("burst_aac.m4a", kBurst, "aac");  // decodes to planar float
    halfS32_ = sound("half_s32.wav", "0.5*sin(2*PI*440*t)", "pcm_s32le");
    // Three interleaved channels with sound in the middle one.
    middle_ = sound("middle_of_three.wav", "0|0.8*sin(2*PI*440*t)|0", "pcm_s16le");
    silentTrack_ = media_clips::clip(
        "silent_track.mp4", media_clips::indexSource(320, 240, 25, 2) +
                                " -f lavfi -i \"anullsrc=r=48000:cl=stereo\" -c:v libx264 -c:a aac -shortest");
    noSound_ = media_clips::indexClip("no_sound.mp4", 1, "");
    for (const std::string* p : {&burstS16_, &burstAac_, &halfS32_, &middle_, &silentTrack_, &noSound_})
      ASSERT_FALSE(p->empty());
  }

  static inline std::string burstS16_, burstAac_, halfS32_, middle_, silentTrack_, noSound_;
};

}  // namespace

TEST_F(AudioPeaks, RejectsBadRequestsWithoutOpening) {
  std::vector<float> out = {0.5f};
  EXPECT_FALSE(media::audioPeaks(burstS16_, 0, 3000, 0, &out));
  EXPECT_FALSE(media::audioPeaks(burstS16_, 1000, 1000, 10, &out));
  EXPECT_FALSE(media::audioPeaks(burstS16_, 2000, 1000, 10, &out));
  EXPECT_EQ(out, std::vector<float>{0.5f}) << "nothing touched";
  EXPECT_FALSE(media::audioPeaks(burstS16_, 0, 3000, 10, nullptr));
  // An unreadable file leaves the zeros in place.
  EXPECT_FALSE(media::audioPeaks("/nonexistent/sound.wav", 0, 3000, 4, &out));
  EXPECT_EQ(out, std::vector<float>(4, 0.0f));
}

TEST_F(AudioPeaks, SilenceIsZeroAndNoSoundIsEmpty) {
  std::vector<float> out;
  EXPECT_TRUE(media::audioPeaks(silentTrack_, 0, 2000, 20, &out));
  EXPECT_EQ(out, std::vector<float>(20, 0.0f));
  EXPECT_FALSE(media::audioPeaks(noSound_, 0, 1000, 20, &out));
  EXPECT_TRUE(out.empty());
}

TEST_F(AudioPeaks, ToneBurstLandsInItsBuckets) {
  // 30 buckets of 100 ms: the burst fills buckets 10 … 14.
  std::vector<float> out;
  ASSERT_TRUE(media::audioPeaks(burstS16_, 0, 3000, 30, &out));
  ASSERT_EQ(out.size(), 30u);
  for (int b = 0; b < 30; ++b) {
    const bool burst = b >= 10 && b <= 14;
    EXPECT_TRUE(burst ? out[b] > 0.7f && out[b] <= 0.81f : out[b] == 0.0f) << "bucket " << b << ": " << out[b];
  }
  // Lossy and planar float: the same picture, edges blurred by the codec.
  ASSERT_TRUE(media::audioPeaks(burstAac_, 0, 3000, 30, &out));
  for (int b = 0; b < 30; ++b) {
    if (b >= 10 && b <= 14) { EXPECT_GT(out[b], 0.6f) << "bucket " << b; }
    if (b < 9 || b > 15) { EXPECT_LT(out[b], 0.05f) << "bucket " << b; }
  }
}

TEST_F(AudioPeaks, WindowCountsOnlyItsOwnSamples) {
  // 1250 … 1750 ms starts inside a packet: the first half is the burst's end.
  std::vector<float> out;
  ASSERT_TRUE(media::audioPeaks(burstS16_, 1250, 1750, 10, &out));
  for (int b = 0; b < 10; ++b) {
    if (b < 5) { EXPECT_GT(out[b], 0.5f) << "bucket " << b; }
    if (b >= 5) { EXPECT_EQ(out[b], 0.0f) << "bucket " << b; }
  }
  // A window before the burst sees only silence, but it did see samples.
  ASSERT_TRUE(media::audioPeaks(burstS16_, 100, 900, 4, &out));
  EXPECT_EQ(out, std::vector<float>(4, 0.0f));
  // A window past the end of the sound stores nothing.
  EXPECT_FALSE(media::audioPeaks(burstS16_, 5000, 6000, 4, &out));
  EXPECT_EQ(out, std::vector<float>(4, 0.0f));
}

TEST_F(AudioPeaks, ScalesEachSampleFormatToOneAndSeesEveryChannel) {
  std::vector<float> out;
  ASSERT_TRUE(media::audioPeaks(halfS32_, 0, 3000, 3, &out));
  for (float v : out) EXPECT_NEAR(v, 0.5f, 0.02f);
  // Three channels: the sampling stride walks across all of them.
  ASSERT_TRUE(media::audioPeaks(middle_, 0, 3000, 6, &out));
  for (float v : out) EXPECT_GT(v, 0.7f);
}
