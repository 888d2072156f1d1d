// Encoder discovery, the export encoder choice and the "--encoders" listing.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <utility>

#include "media/video.h"
#include "support/test_support.h"

using media::EncoderInfo;

namespace {

bool exists(const char* path) {
  struct stat st{};
  return stat(path, &st) == 0;
}

// No render node and no NVIDIA device: only the software encoders can work.
bool noGraphicsCard() { return !exists("/dev/dri") && !exists("/dev/nvidia0"); }

// This FFmpeg build has software H.264.
bool hasX264() { return avcodec_find_encoder_by_name("libx264") != nullptr; }

}  // namespace

TEST(Encoders, ProbingFindsVp9AndRestoresTheLibraryLogLevel) {
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
  if (noGraphicsCard()) {
    EXPECT_EQ(list.size(), software);
    EXPECT_EQ(media::plannedEncoder("").name, "libvpx-vp9");
  }
  // Working copies take software H.264 where it exists, else VP9.
  EXPECT_EQ(media::workingCopyEncoder().name, hasX264() ? "libx264" : "libvpx-vp9");
}

TEST(Encoders, PlannedEncoderFallsBackToTheFirstAvailable) {
  const std::vector<EncoderInfo>& list = media::availableEncoders();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(media::plannedEncoder("").name, list.front().name);
  EXPECT_EQ(media::plannedEncoder("libvpx-vp9").name, "libvpx-vp9");
  EXPECT_EQ(media::plannedEncoder("no_such_encoder").name, list.front().name);
  if (noGraphicsCard()) {
    const EncoderInfo e = media::plannedEncoder("h264_nvenc");
    EXPECT_EQ(e.name, "libvpx-vp9");
    EXPECT_EQ(e.container, "webm");
  }
}

TEST(Encoders, ExtensionFollowsTheContainerExactly) {
  EncoderInfo e;
  for (auto [container, ext] : {std::pair{"webm", ".webm"}, {"mp4", ".mp4"}, {"webmx", ".mp4"}, {"WEBM", ".mp4"},
                                {"", ".mp4"}}) {
    e.container = container;
    EXPECT_STREQ(media::extensionForEncoder(e), ext) << container;
  }
}

TEST(Encoders, CommandLineListsEveryEncoderInColumns) {
  std::string want;
  for (const EncoderInfo& e : media::availableEncoders()) {
    char line[256];
    std::snprintf(line, sizeof line, "%-14s %-24s %s\n", e.name.c_str(), e.device.c_str(),
                  e.hardware ? "Grafikkarte" : "Software");
    want += line;
  }
  auto r = testing_support::runProcess({testing_support::korvelleExe(), "--encoders"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, want);
  if (noGraphicsCard()) {
    EXPECT_EQ(r.out, std::string("libvpx-vp9                              Software\n") +
                         (hasX264() ? "libx264                                 Software\n" : ""));
  }
  // Which informational option wins: Startup (parsing) and Cli (the program).
}
