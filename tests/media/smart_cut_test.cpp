// Smart cutting checked through the ffmpeg command line: exactly the kept frames at their times, whole
// groups copied bit for bit, edges near-lossless, sound kept; what it cannot reproduce is refused by name.
// test-labels: threads
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "media/smart_cut.h"
#include "support/media_clips.h"
#include "support/test_support.h"

namespace {

using media_clips::clip;
using media_clips::q;
using testing_support::runShell;

constexpr int kW = 320;
constexpr int kH = 240;
constexpr size_t kFrameBytes = kW * kH * 3 / 2;  // yuv420p
constexpr double kMinEdgePsnr = 45.0;

const std::string kPicture = "-f lavfi -i testsrc2=size=320x240:rate=25:duration=5";
const std::string kTone = " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=5";
// Five groups of one second each; three B-frames in a pyramid.
const std::string kX264 = " -c:v libx264 -g 25 -bf 3 -pix_fmt yuv420p";
const std::string kX265 = " -c:v libx265 -pix_fmt yuv420p -x265-params log-level=error:keyint=25:min-keyint=25";

std::string h264Clip() { return clip("sc_h264.mp4", kPicture + kTone + kX264 + " -c:a aac -shortest"); }

// The clips of the table, by name.
std::string makeClip(const std::string& name) {
  if (name == "h264") return h264Clip();
  if (name == "vfr") {  // every fifth frame left out: irregular time stamps
    return clip("sc_vfr.mp4", kPicture + kTone + " -vf \"select='not(eq(mod(n\\,5)\\,2))'\" -fps_mode vfr" + kX264 +
                                  " -c:a aac -shortest");
  }
  if (name == "rotated") return media_clips::rotatedCopy("sc_rot.mp4", h264Clip(), 90);
  if (name == "hevc") return clip("sc_hevc.mp4", kPicture + kTone + kX265 + ":open-gop=0 -c:a aac -shortest");
  if (name == "silent_mkv") return clip("sc_silent.mkv", kPicture + kX264);
  if (name == "surround") return clip("sc_51.mp4", kPicture + kTone + kX264 + " -ac 6 -c:a aac -shortest");
  return "";
}

// Frames in presentation order: times in seconds and raw yuv420p pictures.
struct Frames {
  std::vector<double> times;
  std::vector<std::string> pictures;
};

Frames decode(const std::string& path, const std::string& rawPath) {
  Frames f;
  const auto times = runShell("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 " + q(path));
  std::stringstream lines(times.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) f.times.push_back(std::atof(line.c_str()));
  }
  // No autorotation: the copied pictures are compared as stored.
  media_clips::ffmpeg("-noautorotate -i " + q(path) + " -an -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + q(rawPath));
  const std::string all = testing_support::readFile(rawPath);
  for (size_t at = 0; at + kFrameBytes <= all.size(); at += kFrameBytes) f.pictures.push_back(all.substr(at, kFrameBytes));
  return f;
}

double psnr(const std::string& a, const std::string& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    sum += d * d;
  }
  return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

std::string decodeErrors(const std::string& path) {
  return runShell("ffmpeg -hide_banner -nostdin -v error -i " + q(path) + " -f null - 2>&1").out;
}

// The source frames the segments keep (as the export: from 1 ms before the start, up to the end) and
// where they land in the result.
struct Expected {
  std::vector<size_t> source;  // indices into the source's frames
  std::vector<double> times;   // output times, seconds
  double seconds = 0;
};

Expected expectedFrames(const std::vector<double>& src, const std::vector<media::Segment>& segs) {
  Expected e;
  for (const media::Segment& s : segs) {
    double first = -1;
    double last = 0;
    size_t lastIndex = 0;
    for (size_t i = 0; i < src.size(); ++i) {
      const double ms = src[i] * 1000.0;
      if (ms < s.inMs - 1.0 || ms >= s.outMs) continue;
      if (first < 0) first = src[i];
      e.source.push_back(i);
      e.times.push_back(e.seconds + src[i] - first);
      last = src[i];
      lastIndex = i;
    }
    if (first < 0) continue;
    const double dur = lastIndex + 1 < src.size() ? src[lastIndex + 1] - last : 0.04;
    e.seconds += last + dur - first;
  }
  return e;
}

// Cuts src and checks the result against it; returns the result's path.
std::string cutAndCheck(const std::string& src, const std::vector<media::Segment>& segs,
                        const testing_support::TempDir& dir, const std::string& name) {
  const std::string out = dir.file(name + ".mp4");
  media::SmartCutRequest req;
  req.segments = segs;
  media::SmartCutStats stats;
  std::string err;
  double lastPercent = -1;
  EXPECT_TRUE(media::smartCut(src, out, req, nullptr, [&](const media::ExportProgress& p) { lastPercent = p.percent; },
                              &stats, &err))
      << err;
  EXPECT_EQ(lastPercent, 100.0);
  EXPECT_EQ(decodeErrors(out), "");

  const Frames source = decode(src, dir.file(name + ".src.yuv"));
  const Frames result = decode(out, dir.file(name + ".out.yuv"));
  const Expected want = expectedFrames(source.times, segs);
  EXPECT_EQ(stats.frames, static_cast<int64_t>(want.source.size()));
  EXPECT_EQ(stats.copiedFrames + stats.encodedFrames, stats.frames);
  EXPECT_NEAR(stats.durationMs, want.seconds * 1000.0, 1.0);
  // The picture track's stored length is the kept time, whichever frame the edge encoder wrote last.
  const auto trackSeconds =
      runShell("ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 " + q(out));
  EXPECT_NEAR(std::atof(trackSeconds.out.c_str()), want.seconds, 0.002);
  EXPECT_EQ(result.times.size(), want.source.size());
  EXPECT_EQ(result.pictures.size(), want.source.size());
  int64_t identical = 0;
  for (size_t i = 0; i < result.times.size() && i < want.times.size(); ++i) {
    EXPECT_NEAR(result.times[i], want.times[i], 0.001) << "frame " << i;
    if (i >= result.pictures.size() || want.source[i] >= source.pictures.size()) continue;
    const std::string& got = result.pictures[i];
    const std::string& was = source.pictures[want.source[i]];
    if (got == was) {
      ++identical;
    } else {
      EXPECT_GE(psnr(got, was), kMinEdgePsnr) << "frame " << i;
    }
  }
  EXPECT_GE(identical, stats.copiedFrames);
  const std::string rotation =
      "ffprobe -v error -select_streams v:0 -show_entries stream_side_data=rotation -of csv=p=0 ";
  EXPECT_EQ(runShell(rotation + q(out)).out, runShell(rotation + q(src)).out) << "the display matrix is kept";

  if (media_clips::probe(src).audioCodec.empty()) {
    EXPECT_TRUE(media_clips::probe(out).audioCodec.empty());
  } else {
    const media_clips::ProbeResult p = media_clips::probe(out);
    EXPECT_EQ(p.channels, media_clips::probe(src).channels);
    // Within one AAC frame of the pictures.
    EXPECT_NEAR(media_clips::audioSeconds(out), stats.durationMs / 1000.0, 1024.0 / p.sampleRate + 0.001);
  }
  return out;
}

struct CutCase {
  const char* clip;
  std::vector<media::Segment> segments;
};

class SmartCutTable : public ::testing::TestWithParam<CutCase> {};

TEST_P(SmartCutTable, KeepsExactlyTheKeptFrames) {
  const CutCase& c = GetParam();
  const std::string src = makeClip(c.clip);
  ASSERT_FALSE(src.empty());
  testing_support::TempDir dir;
  cutAndCheck(src, c.segments, dir, "cut");
}

// Key frames at every whole second.
INSTANTIATE_TEST_SUITE_P(
    Ranges, SmartCutTable,
    ::testing::Values(CutCase{"h264", {{"", 500, 3300}}},                    // off key frames
                      CutCase{"h264", {{"", 1000, 3000}}},                   // on key frames: copy only
                      CutCase{"h264", {{"", 0, 1200}, {"", 2600, 5000}}},    // a range removed
                      CutCase{"h264", {{"", 0, 40}}},                        // the first frame
                      CutCase{"h264", {{"", 4960, 5000}}},                   // the last frame
                      CutCase{"h264", {{"", 1100, 1700}}},                   // inside one group
                      CutCase{"vfr", {{"", 500, 3300}, {"", 3700, 4500}}},   //
                      CutCase{"rotated", {{"", 500, 3300}}},                 //
                      CutCase{"hevc", {{"", 0, 1200}, {"", 2600, 5000}}},    //
                      CutCase{"silent_mkv", {{"", 700, 4100}}},              //
                      CutCase{"surround", {{"", 0, 1200}, {"", 2600, 5000}}}));

// A cancel reaches the sound and both edge threads: the cut stops with its word and leaves no file.
TEST(SmartCut, CancelStopsEveryThread) {
  const std::string src = h264Clip();
  testing_support::TempDir dir;
  const std::string out = dir.file("cancelled.mp4");
  media::SmartCutRequest req;
  req.segments = {{"", 500, 1700}, {"", 2300, 3300}};  // four edges
  std::atomic<bool> cancel{true};
  std::string err;
  EXPECT_FALSE(media::smartCut(src, out, req, &cancel, nullptr, nullptr, &err));
  EXPECT_EQ(err, "CANCELLED");
  EXPECT_NE(access(out.c_str(), F_OK), 0);
}

TEST(SmartCut, ACutOfACutStillHolds) {
  testing_support::TempDir dir;
  const std::string first = cutAndCheck(h264Clip(), {{"", 500, 3300}}, dir, "first");
  cutAndCheck(first, {{"", 300, 1500}, {"", 1900, 2700}}, dir, "second");
}

struct RefusedCase {
  std::string clipArgs;  // "" takes the H.264 clip
  const char* clipName;
  int width;
  bool fades;
  bool otherFile;
  const char* outName;
  const char* word;
  bool standardRange = false;  // a user's export: HLG must be tone-mapped
};

class SmartCutRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(SmartCutRefused, SaysWhy) {
  const RefusedCase& c = GetParam();
  const std::string src = c.clipArgs.empty() ? h264Clip() : clip(c.clipName, c.clipArgs);
  ASSERT_FALSE(src.empty());
  testing_support::TempDir dir;
  media::SmartCutRequest req;
  req.segments = {{c.otherFile ? dir.file("other.mp4") : "", 500, 3300}};
  req.width = c.width;
  req.height = c.width > 0 ? c.width * 3 / 4 : 0;
  req.fades = c.fades;
  req.standardRange = c.standardRange;
  std::string err;
  const std::string out = dir.file(c.outName);
  EXPECT_FALSE(media::smartCut(src, out, req, nullptr, nullptr, nullptr, &err));
  EXPECT_EQ(err, c.word);
  EXPECT_NE(access(out.c_str(), F_OK), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fallbacks, SmartCutRefused,
    ::testing::Values(
        RefusedCase{kPicture + kX265 + ":open-gop=1", "sc_hevc_open.mp4", 0, false, false, "o.mp4", "OPEN_GOP"},
        RefusedCase{kPicture + " -c:v libvpx-vp9 -deadline realtime -cpu-used 8", "sc_vp9.webm", 0, false, false,
                    "o.mp4", "CODEC"},
        RefusedCase{kPicture + " -c:v libx264 -g 25 -pix_fmt yuv420p -f mpegts", "sc_h264.ts", 0, false, false,
                    "o.mp4", "CONTAINER"},
        RefusedCase{"", "", 0, false, false, "o.webm", "CONTAINER"},
        RefusedCase{"", "", 160, false, false, "o.mp4", "RESIZED"},
        RefusedCase{"", "", 0, true, false, "o.mp4", "FADES"},
        RefusedCase{"", "", 0, false, true, "o.mp4", "OTHER_FILE"},
        RefusedCase{kPicture + " -c:v libx264 -g 25 -pix_fmt yuv420p -color_primaries bt2020 -color_trc arib-std-b67 "
                               "-colorspace bt2020nc",
                    "sc_hlg.mp4", 0, false, false, "o.mp4", "HDR", true}));

}  // namespace
