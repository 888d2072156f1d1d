// Effects act where the editor's timeline shows them, also around cross
// fades; software H.264 for user exports and working copies.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "media/video.h"
#include "media/video_export.h"
#include "support/media_clips.h"

using namespace media_clips;
using media::ExportOptions;
using media::Fade;
using testing_support::TempDir;

namespace {

// Luma of black.
constexpr double kBlack = 16;

// Two halves of a 4 s clip joined with a 500 ms cross fade at 2000 ms: the
// timeline is 4000 ms long, the output 3500 ms; the second half starts at
// 1500 ms in the output.
struct CrossFaded {
  TempDir dir;
  std::string clip;
};
CrossFaded* g_clip = nullptr;

class ExportTimeline : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_clip = new CrossFaded;
    g_clip->clip = testClip(4);
    ASSERT_FALSE(g_clip->clip.empty());
  }
  static void TearDownTestSuite() {
    delete g_clip;
    g_clip = nullptr;
  }

  // Exports the cross-faded pair with the given fades; the frames' luma.
  std::vector<FrameLuma> exportWith(const std::vector<Fade>& fades, const std::string& name) {
    ExportOptions o;
    o.intermediate = true;
    o.encoder = "libvpx-vp9";
    o.segments = {{"", 0, 2000}, {"", 2000, 4000}};
    o.fades = {{Fade::Cross, 2000, 500}};
    o.fades.insert(o.fades.end(), fades.begin(), fades.end());
    out_ = dir_.file(name);
    std::string err;
    EXPECT_TRUE(media::exportVideo(g_clip->clip, out_, o, nullptr, {}, &err)) << err;
    return frameLuma(out_);
  }

  TempDir dir_;
  std::string out_;
};

}  // namespace

TEST_F(ExportTimeline, FadeOutAtTheTimelinesEndReachesBlackAfterACrossFade) {
  const auto frames = exportWith({{Fade::Out, 4000, 500}}, "end.webm");
  ASSERT_GE(frames.size(), 80u);
  EXPECT_NEAR(frames.back().t + 0.04, 3.5, 0.05);
  const double full = lumaNear(frames, 2.5);
  ASSERT_GT(full, 60);
  // The last frame (output 3.46 s) is 40 ms before the anchor: 8 % left.
  EXPECT_LT(frames.back().luma - kBlack, 0.15 * (full - kBlack)) << "the fade out ends at the last frame";
  EXPECT_NEAR(lumaNear(frames, 3.0), full, 8) << "it starts 500 ms before the end";
  const double loud = meanVolumeDb(out_, 2.5, 2.9);
  EXPECT_LT(meanVolumeDb(out_, 3.44, 3.5), loud - 20) << "the sound fades out too";
}

TEST_F(ExportTimeline, FadesBeforeAndAfterACrossFadeStayOnTheirPictures) {
  // A fade in over the first 500 ms (before the cross fade) and a fade out
  // ending at 3000 ms on the timeline: 1000 ms into the second half, which
  // the output shows at 2500 ms.
  const auto frames = exportWith({{Fade::In, 500, 500}, {Fade::Out, 3000, 500}}, "around.webm");
  ASSERT_GE(frames.size(), 80u);
  const double full = lumaNear(frames, 1.0);
  ASSERT_GT(full, 60);
  EXPECT_LT(lumaNear(frames, 0.0), 22);
  EXPECT_NEAR(lumaNear(frames, 0.6), full, 8);
  EXPECT_LT(lumaNear(frames, 2.48), 26) << "black at the anchor's place in the output";
  // Output 2.2 s is timeline 2700 ms: 40 % of the way down.
  EXPECT_NEAR(lumaNear(frames, 2.2) - kBlack, 0.6 * (full - kBlack), 12);
  EXPECT_NEAR(lumaNear(frames, 3.0), full, 8) << "the fade out is over there";
}

TEST_F(ExportTimeline, FadeAcrossACrossFadeFollowsTheTimeline) {
  // A fade out over the last 2500 ms of the timeline starts in the first
  // half and runs through the seam; 500 ms into the second half (output
  // 2000 ms, timeline 2500 ms) it is 40 % of the way down.
  const auto frames = exportWith({{Fade::Out, 4000, 2500}}, "across.webm");
  ASSERT_GE(frames.size(), 80u);
  const auto plain = exportWith({}, "plain.webm");
  const double full = lumaNear(plain, 2.0);
  ASSERT_GT(full, 60);
  EXPECT_NEAR(lumaNear(frames, 2.0) - kBlack, 0.6 * (full - kBlack), 10);
  EXPECT_NEAR(lumaNear(frames, 1.0), lumaNear(plain, 1.0), 6) << "before the fade starts";
  EXPECT_LT(frames.back().luma - kBlack, 0.15 * (full - kBlack));
}

// --- Software H.264 ---

class X264 : public ::testing::Test {
 protected:
  void SetUp() override {
    bool found = false;
    for (const media::EncoderInfo& e : media::availableEncoders()) found |= e.name == "libx264";
    if (!found) GTEST_SKIP() << "no libx264 in this FFmpeg";
    clip_ = testClip(2, 320, 240, 25, 44100, 2);
    ASSERT_FALSE(clip_.empty());
  }

  static std::string pixelFormat(const std::string& path) {
    return testing_support::runShell("ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 " +
                                     q(path)).out;
  }
  // MD5 of the decoded sound as 16-bit samples.
  static std::string soundDigest(const std::string& path) {
    return testing_support::runShell("ffmpeg -hide_banner -loglevel error -nostdin -i " + q(path) +
                                     " -map 0:a -c:a pcm_s16le -f md5 -")
        .out;
  }

  TempDir dir_;
  std::string clip_;
};

TEST_F(X264, UserExportIsMp4WithAacInYuv420p) {
  ExportOptions o;
  o.encoder = "libx264";
  o.bitRate = 1000000;
  const std::string out = dir_.file("user.mp4");
  std::string err;
  ASSERT_TRUE(media::exportVideo(clip_, out, o, nullptr, {}, &err)) << err;
  const ProbeResult p = probe(out);
  EXPECT_NE(p.format.find("mp4"), std::string::npos);
  EXPECT_EQ(p.videoCodec, "h264");
  EXPECT_EQ(p.audioCodec, "aac");
  EXPECT_EQ(pixelFormat(out), "yuv420p\n");
  EXPECT_NEAR(videoSeconds(out), 2.0, 0.04);
  EXPECT_GT(psnr(out, clip_), 35.0);
  // The index in front and the container check: VideoExport.Mp4WithAacKeepsTheSourcesRateAndTags.
}

TEST_F(X264, WorkingCopiesKeepTheirSoundBitForBit) {
  // Working copies in MP4 carry lossless sound: once the source's sound is
  // decoded, every later generation holds the very same samples.
  std::string from = clip_;
  std::vector<std::string> digests;
  for (int generation = 0; generation < 3; ++generation) {
    ExportOptions o;
    o.intermediate = true, o.encoder = "libx264";
    o.bitRate = 100000;  // ignored: working copies hold a constant quality
    const std::string to = dir_.file("gen" + std::to_string(generation) + ".mp4");
    std::string err;
    ASSERT_TRUE(media::exportVideo(from, to, o, nullptr, {}, &err)) << err;
    const ProbeResult p = probe(to);
    EXPECT_EQ(std::tuple(p.videoCodec, p.audioCodec, p.sampleRate), std::tuple("h264", "alac", 44100));
    EXPECT_GT(psnr(to, clip_), 44.0) << generation;
    EXPECT_NEAR(videoSeconds(to), 2.0, 0.04);
    digests.push_back(soundDigest(to));
    ASSERT_FALSE(digests.back().empty());
    from = to;
  }
  EXPECT_EQ(digests, std::vector<std::string>(3, digests[0]));
}
