#include "media/video_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <tuple>

#include "media/errors.h"
#include "media/video.h"
#include "media/video_export_internal.h"
#include "platform/fs.h"
#include "support/media_clips.h"

using namespace media_clips;
using media::ExportOptions;
using media::ExportProgress;
using media::Fade;
using media::Segment;
using testing_support::TempDir;

namespace {

// One frame at 25 fps, in seconds: the tolerance for lengths and sync.
constexpr double kFrame = 0.04;

// Luma of black.
constexpr double kBlack = 16;

// Clips shared by the tests, made once per build tree.
struct Clips {
  std::string plain = testClip(4);                           // 320 × 240, 25 fps, stereo tone
  std::string silent = testClip(2, 320, 240, 25, 0);         // no sound
  std::string wide = testClip(2, 640, 360, 30, 44100, 1);    // 44.1 kHz mono tone
  std::string stereo44 = testClip(2, 320, 240, 25, 44100, 2);  // 44.1 kHz stereo tone
  std::string sync = syncClip(4);                            // flashes and beeps
  std::string sync30 = syncClip(4, 30, 44100);               // the same at 30 fps, 44.1 kHz
};

class VideoExport : public ::testing::Test {
 protected:
  static const Clips& clips() {
    static const Clips c;
    return c;
  }

  // A working-copy export: fast encoder setting, small output.
  static ExportOptions quick() {
    ExportOptions o;
    o.intermediate = true;
    return o;
  }

  bool run(const std::string& src, const std::string& out, const ExportOptions& opts, std::string* err = nullptr) {
    std::string word;
    const bool ok = media::exportVideo(src, out, opts, nullptr, {}, &word);
    if (err) *err = word;
    EXPECT_TRUE(!ok || word.empty()) << word;
    return ok;
  }

  // The plain clip's halves joined by a 500 ms cross fade at 2000 ms (output 3500 ms), plus fades; frame lumas.
  std::vector<FrameLuma> crossFaded(const std::vector<Fade>& fades, const std::string& name) {
    ExportOptions o = quick();
    o.encoder = "libvpx-vp9";
    o.segments = {{"", 0, 2000}, {"", 2000, 4000}};
    o.fades = {{Fade::Cross, 2000, 500}};
    o.fades.insert(o.fades.end(), fades.begin(), fades.end());
    last_ = out_.file(name);
    EXPECT_TRUE(run(clips().plain, last_, o));
    return frameLuma(last_);
  }

  TempDir out_;
  std::string last_;  // the last cross-faded export
};

// The two tags a signed export carries.
ExportOptions signedOptions(ExportOptions o = {}) {
  o.software = "Korvelle Test 1.0";
  o.comment = "bearbeitet";
  return o;
}
void expectSigned(ProbeResult& p) {
  EXPECT_EQ(p.tags["software"], "Korvelle Test 1.0");
  EXPECT_EQ(p.tags["comment"], "bearbeitet");
  EXPECT_EQ(p.tags["description"], "bearbeitet");
}

// Each flash has a beep onset within a frame, and every beep a flash.
void expectInSync(const std::string& path, const std::vector<double>& expected) {
  const std::vector<double> flashes = flashTimes(path);
  std::vector<double> onsets = soundOnsets(path);
  // silencedetect also reports the end of the stream.
  const double end = audioSeconds(path);
  std::erase_if(onsets, [&](double t) { return t > end - 0.01; });
  ASSERT_EQ(flashes.size(), expected.size()) << path;
  ASSERT_EQ(onsets.size(), expected.size()) << path;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(flashes[i], expected[i], kFrame / 2 + 0.001) << "flash " << i;
    EXPECT_NEAR(onsets[i], flashes[i], kFrame) << "beep " << i;
  }
}

}  // namespace

// --- Selections and their lengths ---

TEST_F(VideoExport, WholeSourceWithUserSettingsTagsAndProgress) {
  ExportOptions o = signedOptions();  // the settings a user's export gets
  o.bitRate = 400000;
  const std::string out = out_.file("whole.webm");
  std::vector<ExportProgress> steps;
  std::string err = "stale";
  ASSERT_TRUE(media::exportVideo(
      clips().plain, out, o, nullptr, [&](const ExportProgress& p) { steps.push_back(p); }, &err));
  EXPECT_EQ(err, "");

  ProbeResult p = probe(out);
  EXPECT_NE(p.format.find("webm"), std::string::npos);
  EXPECT_EQ(std::tuple(p.videoCodec, p.audioCodec, p.width, p.height), std::tuple("vp9", "opus", 320, 240));
  expectSigned(p);
  EXPECT_NEAR(videoSeconds(out), 4.0, kFrame);
  EXPECT_NEAR(audioSeconds(out), 4.0, 0.05);
  EXPECT_GT(psnr(out, clips().plain), 30.0);

  ASSERT_GE(steps.size(), 10u);
  for (size_t i = 1; i < steps.size(); ++i) {
    EXPECT_GE(steps[i].percent - steps[i - 1].percent, i + 1 == steps.size() ? 0.0 : 0.5);
  }
  for (const ExportProgress& s : steps) {
    EXPECT_EQ(s.encoder.name, "libvpx-vp9");
    EXPECT_EQ(s.etaSeconds < 0, s.percent < 3.0) << s.percent;  // no estimate at first
    if (s.etaSeconds < 0) { EXPECT_EQ(s.etaSeconds, -1); }
  }
  EXPECT_EQ(steps.back().percent, 100);
  EXPECT_EQ(steps.back().etaSeconds, 0);
}

TEST_F(VideoExport, EmptySegmentsAreSkippedAndAllEmptyIsAnError) {
  ExportOptions o = quick();
  o.segments = {{"", 0, 3000}, {"", 3000, 3000}};
  const std::string out = out_.file("three.webm");
  ASSERT_TRUE(run(clips().plain, out, o));
  EXPECT_NEAR(videoSeconds(out), 3.0, kFrame);

  o.segments = {{"", 1000, 1000}, {clips().silent, 500, 200}};
  std::string err;
  EXPECT_FALSE(run(clips().plain, out_.file("none.webm"), o, &err));
  EXPECT_EQ(err, media::err::kEmptySelection);
  EXPECT_FALSE(platform::fs::isFile(out_.file("none.webm")));
}

TEST_F(VideoExport, CrossFadeOverlapsByHalfTheShorterClip) {
  ExportOptions o = quick();
  o.segments = {{clips().plain, 0, 1000}, {clips().plain, 0, 4000}, {clips().silent, 0, 1000}};
  // 2000 ms asked for at the first seam: half of the 1000 ms clip is 500.
  o.fades = {{Fade::Cross, 1000, 2000}};
  const std::string out = out_.file("cross.webm");
  ASSERT_TRUE(run(clips().plain, out, o));
  EXPECT_NEAR(videoSeconds(out), 5.5, kFrame);
  // Sound runs on through the silent clip to the end.
  EXPECT_NEAR(audioSeconds(out), 5.5, 0.05);
}

TEST_F(VideoExport, SizeIsMadeEvenAndTheExtensionMustMatchTheContainer) {
  ExportOptions o = quick();
  o.segments = {{"", 0, 200}};
  o.width = 1921;
  o.height = 1081;
  o.bitRate = 200000;
  o.encoder = "h264_nonexistent";  // not available: the first encoder is used
  const std::string out = out_.file("big.WEBM");  // the extension in any case
  ASSERT_TRUE(run(clips().plain, out, o));
  EXPECT_EQ(std::tuple(probe(out).videoCodec, probe(out).width, probe(out).height), std::tuple("vp9", 1920, 1080));
  std::string err;
  for (const char* name : {"clip.mp4", "clip"}) {
    EXPECT_FALSE(run(clips().plain, out_.file(name), o, &err));
    EXPECT_EQ(err, media::err::kContainerMismatch) << name;
  }
  o.height = 1;
  EXPECT_FALSE(run(clips().plain, out_.file("flat.webm"), o, &err));
  EXPECT_EQ(err, media::err::kBadSize);
}

TEST_F(VideoExport, VanishedSourceIsSkipped) {
  const std::string gone = out_.file("gone.mp4");
  ExportOptions o = quick();
  o.segments = {{"", 0, 1000}, {gone, 0, 1000}, {"", 2000, 3000}};
  const std::string out = out_.file("skip.webm");
  ::testing::internal::CaptureStderr();
  const bool ok = run(clips().plain, out, o);
  const std::string said = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ok);
  EXPECT_NE(said.find("[export] uebersprungen: " + gone + " (UNSUPPORTED_FORMAT)\n"),
            std::string::npos)
      << said;
  EXPECT_NEAR(videoSeconds(out), 2.0, kFrame);

  // Only unreadable files: nothing left.
  o.segments = {{gone, 0, 1000}};
  std::string err;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(run(clips().plain, out_.file("none.webm"), o, &err));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  // An unreadable main source fails with its own word.
  EXPECT_FALSE(run(gone, out_.file("none.webm"), quick(), &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
}

TEST_F(VideoExport, ExportOverItsOwnSourceReplacesItOnlyAtTheEnd) {
  // Working copies are re-encoded at every edit: at a constant high quality, whatever the bit rate.
  ExportOptions copy = quick();
  copy.bitRate = 100000;
  const std::string src = out_.file("self.webm");
  ASSERT_TRUE(run(clips().plain, src, copy));
  EXPECT_GT(psnr(src, clips().plain), 45.0);
  const std::string before = testing_support::readFile(src);
  ExportOptions o = quick();
  o.segments = {{"", 0, 1000}, {"", 2000, 3000}};
  bool intactWhileRunning = true;
  std::string err;
  ASSERT_TRUE(media::exportVideo(
      src, src, o, nullptr,
      [&](const ExportProgress& p) {
        if (p.percent < 100 && testing_support::readFile(src) != before) {
          intactWhileRunning = false;
        }
      },
      &err))
      << err;
  EXPECT_TRUE(intactWhileRunning);
  EXPECT_NEAR(videoSeconds(src), 2.0, kFrame);
  EXPECT_EQ(platform::fs::listDir(out_.path()), std::vector<std::string>{"self.webm"});
}

TEST_F(VideoExport, Mp4WithAacKeepsTheSourcesRateAndTags) {
  // A software H.264 encoder stands in for the graphics-card ones: the same container and sound path.
  const std::vector<media::EncoderInfo> h264 = {{"libx264", "", false, "h264", "mp4"}};
  ExportOptions o = signedOptions();
  o.segments = {{"", 0, 1500}};
  const std::string out = out_.file("wide.mp4");
  std::string err;
  ASSERT_TRUE(media::exporter::exportWith(h264, clips().wide, out, o, nullptr, {}, &err)) << err;
  ProbeResult p = probe(out);
  EXPECT_NE(p.format.find("mp4"), std::string::npos);
  EXPECT_EQ(std::tuple(p.videoCodec, p.audioCodec, p.width, p.height), std::tuple("h264", "aac", 640, 360));
  EXPECT_EQ(std::pair(p.sampleRate, p.channels), std::pair(44100, 1));  // one source: its own rate and channels
  expectSigned(p);
  EXPECT_EQ(testing_support::runShell("ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 " +
                                      q(out)).out,
            "yuv420p\n");
  EXPECT_NEAR(videoSeconds(out, 30), 1.5, 1.0 / 30);
  // The index sits in front of the data, so playback starts at once.
  const std::string bytes = testing_support::readFile(out);
  EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));

  // Two sources: 48 kHz stereo; picture and sound in step across the cut.
  ExportOptions cut;
  cut.segments = {{"", 0, 1000}, {clips().sync30, 2000, 4000}};
  const std::string synced = out_.file("sync.mp4");
  ASSERT_TRUE(media::exporter::exportWith(h264, clips().sync, synced, cut, nullptr, {}, &err));
  p = probe(synced);
  EXPECT_EQ(p.sampleRate, 48000);
  EXPECT_EQ(p.channels, 2);
  expectInSync(synced, {0.48, 1.0 + 14.0 / 30, 2.0 + 14.0 / 30});
}

// --- Pictures ---

// Turned sources: VideoExportGraph and the phone clip end to end.
TEST_F(VideoExport, FitModes) {
  // 4:3 into 16:9: contain pads left and right with black, cover fills.
  const auto leftEdgeLuma = [&](const std::string& path) {
    const auto run = testing_support::runShell(
        "ffprobe -v error -f lavfi -i \"movie=" + path +
        ",crop=16:ih:0:0,signalstats\" -read_intervals %+#1 -show_entries "
        "frame_tags=lavfi.signalstats.YAVG -of csv=p=0");
    return std::atof(run.out.c_str());
  };
  ExportOptions o = quick();
  o.segments = {{"", 0, 400}};
  o.width = 640;
  o.height = 360;
  o.fitMode = media::FitMode::Contain;
  const std::string contain = out_.file("contain.webm");
  ASSERT_TRUE(run(clips().plain, contain, o));
  EXPECT_LT(leftEdgeLuma(contain), 20);
  o.fitMode = media::FitMode::Cover;
  const std::string cover = out_.file("cover.webm");
  ASSERT_TRUE(run(clips().plain, cover, o));
  EXPECT_GT(leftEdgeLuma(cover), 30);
  EXPECT_EQ(probe(cover).width, 640);
}

TEST_F(VideoExport, FadesReachBlackAndSilenceAtTheirAnchors) {
  ExportOptions o = quick();
  o.fades = {{Fade::In, 1000, 1000}, {Fade::Out, 3000, 1000}};
  const std::string out = out_.file("fades.webm");
  ASSERT_TRUE(run(clips().plain, out, o));
  const auto frames = frameLuma(out);
  ASSERT_GE(frames.size(), 99u);
  const double full = lumaNear(frames, 1.6);
  EXPECT_GT(full, 60);
  EXPECT_LT(lumaNear(frames, 0.0), 18);  // the fade in starts black
  EXPECT_NEAR(lumaNear(frames, 1.2), full, 8);
  EXPECT_LT(lumaNear(frames, 2.96), 22);        // nearly black just before the anchor
  EXPECT_LT(lumaNear(frames, 3.0), 18);         // black at the fade out's anchor
  EXPECT_NEAR(lumaNear(frames, 3.5), full, 8);  // the effect ends there
  // Half way through the fade in, about half the brightness above black.
  EXPECT_NEAR(lumaNear(frames, 0.5) - 16, (full - 16) / 2, 10);

  const double loud = meanVolumeDb(out, 1.5, 1.9);
  EXPECT_GT(loud, -30);
  EXPECT_LT(meanVolumeDb(out, 0.0, 0.02), loud - 30);
  EXPECT_LT(meanVolumeDb(out, 2.98, 3.0), loud - 30);
}

// --- Sound and sync ---

TEST_F(VideoExport, SilentClipBetweenSoundsGetsSilence) {
  ExportOptions o = quick();
  o.segments = {{"", 0, 2000}, {clips().silent, 0, 2000}, {"", 2000, 4000}};
  const std::string out = out_.file("gap.webm");
  ASSERT_TRUE(run(clips().plain, out, o));
  EXPECT_EQ(probe(out).audioCodec, "opus");
  EXPECT_NEAR(videoSeconds(out), 6.0, kFrame);
  EXPECT_NEAR(audioSeconds(out), 6.0, 0.05);
  EXPECT_GT(meanVolumeDb(out, 0.2, 1.8), -30);
  EXPECT_LT(meanVolumeDb(out, 2.1, 3.9), -70);
  EXPECT_GT(meanVolumeDb(out, 4.2, 5.8), -30);

  // A silent clip alone gives a file without sound.
  const std::string mute = out_.file("mute.webm");
  ASSERT_TRUE(run(clips().silent, mute, quick()));
  EXPECT_EQ(probe(mute).audioCodec, "");
}

// A plain cut: Mp4WithAacKeepsTheSourcesRateAndTags.
TEST_F(VideoExport, PictureAndSoundStayInStepAcrossAppendsAndCrossFades) {
  // Three clips appended, one at another frame rate and sample rate.
  ExportOptions append = quick();
  append.segments = {{"", 0, 2000}, {clips().sync30, 600, 2600}, {"", 0, 1500}};
  const std::string b = out_.file("sync_append.webm");
  ASSERT_TRUE(run(clips().sync, b, append));
  // (At 30 fps the flash frame is at k + 14/30 s.)
  expectInSync(b, {0.48, 1.48, 1.4 + 44.0 / 30, 1.4 + 74.0 / 30, 4.48, 5.48});

  // A cross fade of 400 ms: the second clip starts 400 ms early.
  ExportOptions cross = quick();
  cross.segments = {{"", 0, 3000}, {"", 0, 3000}};
  cross.fades = {{Fade::Cross, 3000, 400}};
  const std::string c = out_.file("sync_cross.webm");
  ASSERT_TRUE(run(clips().sync, c, cross));
  EXPECT_NEAR(videoSeconds(c), 5.6, kFrame);
  expectInSync(c, {0.48, 1.48, 2.48, 2.6 + 0.48, 2.6 + 1.48, 2.6 + 2.48});
}

TEST_F(VideoExport, EditAfterEditKeepsTheTimeLine) {
  // WebM working copies' pictures start a few ms in; each edit of the last copy must not add that again.
  std::string from = clips().sync;
  std::vector<double> first;
  for (int generation = 0; generation < 3; ++generation) {
    const std::string to = out_.file("gen" + std::to_string(generation) + ".webm");
    ExportOptions o = quick();
    o.segments = {{"", 0, 3000}};
    ASSERT_TRUE(run(from, to, o));
    const auto flashes = flashTimes(to);
    ASSERT_EQ(flashes.size(), 3u) << generation;
    if (first.empty()) first = flashes;
    for (size_t i = 0; i < flashes.size(); ++i) EXPECT_NEAR(flashes[i], first[i], 0.002);
    expectInSync(to, {0.48, 1.48, 2.48});
    from = to;
  }
}

// --- Effects around a cross fade: where the timeline shows them ---

TEST_F(VideoExport, FadesBeforeAndAfterACrossFadeStayOnTheirPictures) {
  // Fades in over the first 500 ms, out to 3000 ms on the timeline (output 2500) and out to the end (3500).
  const auto frames =
      crossFaded({{Fade::In, 500, 500}, {Fade::Out, 3000, 500}, {Fade::Out, 4000, 500}}, "around.webm");
  ASSERT_GE(frames.size(), 80u);
  EXPECT_NEAR(frames.back().t + 0.04, 3.5, 0.05);
  const double full = lumaNear(frames, 1.0);
  ASSERT_GT(full, 60);
  EXPECT_LT(lumaNear(frames, 0.0), 22);
  EXPECT_NEAR(lumaNear(frames, 0.6), full, 8);
  EXPECT_LT(lumaNear(frames, 2.48), 26) << "black at the anchor's place in the output";
  // Output 2.2 s is timeline 2700 ms: 40 % of the way down.
  EXPECT_NEAR(lumaNear(frames, 2.2) - kBlack, 0.6 * (full - kBlack), 12);
  EXPECT_NEAR(lumaNear(frames, 3.0), full, 8) << "between the two fade outs";
  // The last frame (output 3.46 s) is 40 ms before the end's anchor: 8 % left.
  EXPECT_LT(frames.back().luma - kBlack, 0.15 * (full - kBlack)) << "the fade out ends at the last frame";
  EXPECT_LT(meanVolumeDb(last_, 3.44, 3.5), meanVolumeDb(last_, 2.9, 3.1) - 20) << "the sound fades out too";
}

// --- Working copies in MP4 ---

TEST_F(VideoExport, Mp4WorkingCopiesKeepTheirSoundBitForBit) {
  if (media::workingCopyEncoder().name != "libx264") GTEST_SKIP() << "no libx264 in this FFmpeg";
  // MP4 working copies carry lossless sound: every generation holds the very same samples.
  std::string from = clips().stereo44;
  std::vector<std::string> digests;
  for (int generation = 0; generation < 3; ++generation) {
    ExportOptions o = quick();
    o.encoder = "libx264";
    o.bitRate = 100000;  // ignored: working copies hold a constant quality
    const std::string to = out_.file("gen" + std::to_string(generation) + ".mp4");
    ASSERT_TRUE(run(from, to, o));
    const ProbeResult p = probe(to);
    EXPECT_EQ(std::tuple(p.videoCodec, p.audioCodec, p.sampleRate), std::tuple("h264", "alac", 44100));
    EXPECT_GT(psnr(to, clips().stereo44), 44.0) << generation;
    EXPECT_NEAR(videoSeconds(to), 2.0, kFrame);
    // MD5 of the decoded sound as 16-bit samples.
    digests.push_back(testing_support::runShell("ffmpeg -hide_banner -loglevel error -nostdin -i " + q(to) +
                                                " -map 0:a -c:a pcm_s16le -f md5 -")
                          .out);
    ASSERT_FALSE(digests.back().empty());
    from = to;
  }
  EXPECT_EQ(digests, std::vector<std::string>(3, digests[0]));
}

// --- Pieces ---

TEST(VideoExportBlend, RowsMixByTheWeightAndFramesBlendEveryPlane) {
  // 200 over 100 at weights of 256, by hand; 53 bytes: the vector part and a tail.
  for (const auto& [w, want] : {std::pair{0, 100}, std::pair{64, 125}, std::pair{128, 150}, std::pair{256, 200}}) {
    std::vector<uint8_t> head(53, 200);
    const std::vector<uint8_t> tail(53, 100);
    media::exporter::blendRow(head.data(), tail.data(), 53, w);
    EXPECT_EQ(head, std::vector<uint8_t>(53, static_cast<uint8_t>(want))) << w;
  }
  // Any bytes (the vector halves told apart): each result lies between its two sources.
  std::mt19937 rng(7);
  std::vector<uint8_t> a(53), b(53);
  for (size_t i = 0; i < 53; ++i) a[i] = static_cast<uint8_t>(rng()), b[i] = static_cast<uint8_t>(rng());
  std::vector<uint8_t> got = a;
  media::exporter::blendRow(got.data(), b.data(), 53, 77);
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_TRUE(got[i] >= std::min(a[i], b[i]) && got[i] <= std::max(a[i], b[i])) << i;
  }
  // Odd sizes: the chroma planes' last row and column are blended too.
  media::av::FramePtr head = media::av::makeFrame(), tail = media::av::makeFrame();
  for (AVFrame* f : {head.get(), tail.get()}) {
    f->format = AV_PIX_FMT_YUV420P;
    f->width = 35;
    f->height = 7;
    ASSERT_EQ(av_frame_get_buffer(f, 0), 0);
  }
  for (int p = 0; p < 3; ++p) {
    const int rows = p == 0 ? 7 : 4;
    for (int y = 0; y < rows; ++y) {
      std::memset(head->data[p] + y * head->linesize[p], 200, head->linesize[p]);
      std::memset(tail->data[p] + y * tail->linesize[p], 100, tail->linesize[p]);
    }
  }
  ASSERT_TRUE(media::exporter::canBlend(head.get(), tail.get()));
  media::exporter::blendFrames(head.get(), tail.get(), 64);
  EXPECT_EQ(head->data[0][6 * head->linesize[0] + 34], 125);
  EXPECT_EQ(head->data[2][3 * head->linesize[2] + 17], 125);

  tail->width = 34;
  EXPECT_FALSE(media::exporter::canBlend(head.get(), tail.get()));
}

TEST(VideoExportGraph, FadesBeforeTheSourcesZeroAreShifted) {
  using media::exporter::FadePiece;
  // A fade out that began 0.5 s before this source's zero.
  const std::vector<FadePiece> pieces = {{false, -0.5, 1.0, 0.0, 0.5}};
  int64_t shift = 0;
  const auto moved = media::exporter::shiftPieces(pieces, AVRational{1, 1000}, &shift);
  EXPECT_EQ(shift, 500);
  EXPECT_DOUBLE_EQ(moved[0].startS, 0.0);
  EXPECT_DOUBLE_EQ(moved[0].toS, 1.0);
  const std::string chain =
      media::exporter::videoChain(90, media::FitMode::Stretch, 640, 360, moved, shift,
                                  media::exporter::ChainEnd::Software, "yuv420p");
  EXPECT_EQ(chain,
            "transpose=clock,scale=640:360,setsar=1,setpts=PTS+500,"
            "fade=t=out:st=0.000:d=1.000:alpha=0:enable='between(t\\,0.500\\,1.000)',"
            "setpts=PTS-500,format=yuv420p");
  // Fades that start at or after zero keep the plain chain.
  const std::vector<FadePiece> inside = {{true, 1.0, 0.5, 1.0, 1.5}};
  const auto same = media::exporter::shiftPieces(inside, AVRational{1, 48000}, &shift);
  EXPECT_EQ(media::exporter::audioChain(same, shift, 48000, "stereo"),
            "afade=t=in:st=1.000:d=0.500:enable='between(t\\,1.000\\,1.500)',"
            "aresample=48000,aformat=sample_fmts=fltp:channel_layouts=stereo");
  EXPECT_EQ(shift, 0);
}
