// High-dynamic-range video: grabbed, played and exported frames come out in standard range with their
// colours, tagged BT.709. The clips are colour bars graded at reference white: a correct conversion gives
// back the standard-range original.
// test-labels: threads
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <tuple>

#include "media/player.h"
#include "media/video.h"
#include "media/video_export.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using media::Image;
using media_clips::clip;

extern "C" const char* __tsan_default_suppressions() {
  return "race:libavutil.so\nrace:libavcodec.so\nrace:libavformat.so\nrace:libswscale.so\n"
         "race:libswresample.so\nrace:libavfilter.so\nrace:libzimg.so\n";
}

namespace {

// One second of colour bars, BT.709 standard range.
const std::string kBars = "-f lavfi -i testsrc2=size=320x180:rate=25:duration=1";
const std::string kHdBars = "-f lavfi -i testsrc2=size=1280x720:rate=25:duration=1";
// The same bars carried into BT.2020 with transfer trc, white at 203 cd/m².
std::string hdrArgs(const char* trc) {
  return kBars + " -vf zscale=tin=bt709:min=bt709:pin=bt709:rin=tv:t=" + trc +
         ":m=bt2020nc:p=bt2020:r=tv:npl=203,format=yuv420p10le -c:v libx265 -preset ultrafast -crf 12"
         " -x265-params log-level=error -color_primaries bt2020 -color_trc " + trc + " -colorspace bt2020nc";
}

struct Clips {
  std::string sdr = clip("bars709.mp4", kBars + " -c:v libx264 -crf 10 -pix_fmt yuv420p -color_primaries bt709"
                                                " -color_trc bt709 -colorspace bt709");
  // High definition, where an untagged clip is BT.709.
  std::string hd = clip("bars709-hd.mp4", kHdBars + " -c:v libx264 -crf 10 -pix_fmt yuv420p -colorspace bt709");
  std::string untagged = clip("bars-untagged-hd.mp4", kHdBars + " -c:v libx264 -crf 10 -pix_fmt yuv420p");
  std::string hlg = clip("bars-hlg.mp4", hdrArgs("arib-std-b67"));
  std::string pq = clip("bars-pq.mp4", hdrArgs("smpte2084"));
};

const Clips& clips() {
  static const Clips c;
  return c;
}

// Mean HSV saturation.
double saturation(const Image& img) {
  double sum = 0;
  for (size_t i = 0; i < img.pixels.size(); i += 4) {
    const int hi = std::max({img.pixels[i], img.pixels[i + 1], img.pixels[i + 2]});
    const int lo = std::min({img.pixels[i], img.pixels[i + 1], img.pixels[i + 2]});
    if (hi > 0) sum += static_cast<double>(hi - lo) / hi;
  }
  return sum / (img.pixels.size() / 4);
}

Image grab(const std::string& path) {
  Image img;
  std::string err;
  EXPECT_TRUE(media::grabFrame(path, 500, 0, &img, &err)) << path << ": " << err;
  return img;
}

// The standard-range original every conversion is held against.
const Image& reference() {
  static const Image img = grab(clips().sdr);
  return img;
}

void expectLikeTheOriginal(const Image& img, const std::string& what, const Image& original = reference()) {
  ASSERT_TRUE(img.valid()) << what;
  EXPECT_LT(media_clips::meanRgbDiff(img, original) / 255, 0.10) << what;
  EXPECT_GT(saturation(img), 0.88) << what;
}

std::string probe(const std::string& path, const std::string& entries) {
  return testing_support::runShell("ffprobe -v error -select_streams v:0 -show_entries stream=" + entries +
                                   " -of default=nw=1:nk=1 '" + path + "'")
      .out;
}

}  // namespace

TEST(Hdr, ProbingNamesTheDynamicRangeAndDepth) {
  for (const auto& [path, range, depth] : {std::tuple{clips().hlg, "HLG", 10}, {clips().pq, "PQ", 10},
                                           {clips().sdr, "", 8}, {clips().untagged, "", 8}}) {
    media::VideoInfo info;
    ASSERT_TRUE(media::readVideoInfo(path, &info)) << path;
    EXPECT_EQ(info.dynamicRange, range) << path;
    EXPECT_EQ(info.bitDepth, depth) << path;
  }
}

TEST(Hdr, GrabbedFramesKeepTheirColours) {
  for (const std::string* path : {&clips().hlg, &clips().pq}) expectLikeTheOriginal(grab(*path), *path);
  // An untagged high-definition clip converts as BT.709.
  EXPECT_EQ(grab(clips().untagged).pixels, grab(clips().hd).pixels);
}

TEST(Hdr, PlayedFramesKeepTheirColours) {
  testing_support::ScopedEnv audio("SDL_AUDIODRIVER", "dummy");
  // The player shows the first frame; the bars move, so compare with the first.
  Image first;
  ASSERT_TRUE(media::grabFrame(clips().sdr, 0, 0, &first));
  for (const std::string* path : {&clips().hlg, &clips().pq}) {
    media::Player p;
    std::string err;
    ASSERT_TRUE(p.open(*path, 0, &err)) << err;
    Image img;
    ASSERT_TRUE(testing_support::waitUntil([&] { return p.takeFrame(&img); }, 5, 0.002)) << *path;
    p.close();
    expectLikeTheOriginal(img, *path, first);
  }
}

TEST(Hdr, ExportsAreStandardRangeAndTaggedBt709) {
  testing_support::TempDir dir;
  for (const std::string* path : {&clips().hlg, &clips().sdr}) {
    const std::string out = dir.file("out.webm");
    media::ExportOptions opts;
    opts.intermediate = true;
    std::atomic<bool> cancel{false};
    std::string err;
    ASSERT_TRUE(media::exportVideo(*path, out, opts, &cancel, nullptr, &err)) << *path << ": " << err;
    EXPECT_EQ(probe(out, "color_primaries,color_transfer,color_space"), "bt709\nbt709\nbt709\n") << *path;
    expectLikeTheOriginal(grab(out), *path);
  }
}
