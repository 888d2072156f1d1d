// The decisions main takes before the window opens: arguments, window size,
// dropped-file texts.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/drop_uri.h"
#include "app/launch.h"
#include "app/renderer.h"

namespace {

ui::LaunchOptions parse(std::vector<const char*> args) {
  args.insert(args.begin(), "korvelle");
  ui::LaunchOptions o;
  ui::parseFirstPass(static_cast<int>(args.size()), args.data(), &o);
  ui::parseSecondPass(static_cast<int>(args.size()), args.data(), &o);
  return o;
}

}  // namespace

TEST(Startup, ArgumentsAreComparedExactlyAndTheFirstInfoOptionWins) {
  EXPECT_EQ(parse({"--help", "--version"}).info, ui::InfoRequest::Help);
  EXPECT_EQ(parse({"--version", "--help"}).info, ui::InfoRequest::Version);
  EXPECT_EQ(parse({"--encoders"}).info, ui::InfoRequest::Encoders);
  EXPECT_EQ(parse({"--version=1", "-v", "--Help"}).info, ui::InfoRequest::None);
  EXPECT_EQ(parse({"--size", "--version"}).info, ui::InfoRequest::None);  // a value, not an option

  ui::LaunchOptions o = parse({"a.jpg", "--fullscreen", "b.mp4", "--windowed", "--size", "1000x700"});
  EXPECT_EQ(o.file, "b.mp4");  // the last file wins
  EXPECT_TRUE(o.fullscreen);
  EXPECT_TRUE(o.windowed);
  EXPECT_EQ(o.sizeW, 1000);
  EXPECT_EQ(o.sizeH, 700);

  o = parse({"--size", "800"});
  EXPECT_EQ(o.sizeW, 800);
  EXPECT_EQ(o.sizeH, 0);
  o = parse({"--size", "big"});
  EXPECT_EQ(o.sizeW, 0);
  o = parse({"--size"});  // nothing follows
  EXPECT_EQ(o.sizeW, 0);
  EXPECT_TRUE(o.file.empty());
}

TEST(Startup, DefaultWindowSizeFollowsTheDisplay) {
  // 1920 wide, usable height 1040: 773.76 × 435.24, raised to the minimum.
  ui::WindowSize s = ui::defaultWindowSize(1920, 1040);
  EXPECT_EQ(s.w, 860);
  EXPECT_EQ(s.h, 560);
  s = ui::defaultWindowSize(3840, 2160);  // 1547.52 × 870.48
  EXPECT_EQ(s.w, 1547);
  EXPECT_EQ(s.h, 870);
  s = ui::defaultWindowSize(5000, 900);  // too tall at 40 %: height-limited
  EXPECT_EQ(s.w, 1457);
  EXPECT_EQ(s.h, 820);
  s = ui::defaultWindowSize(0, 1080);
  EXPECT_EQ(s.w, 1280);
  EXPECT_EQ(s.h, 720);
}

TEST(Startup, RequestedSizeUsesSizeOptionOrSavedSizeClampedToTheDisplay) {
  ui::LaunchOptions none;
  ui::WindowSize s = ui::requestedWindowSize(none, 1500, 900, 1920, 1080);
  EXPECT_EQ(s.w, 1500);
  EXPECT_EQ(s.h, 900);
  s = ui::requestedWindowSize(none, 5000, 5000, 1920, 1080);  // clamped
  EXPECT_EQ(s.w, 1900);
  EXPECT_EQ(s.h, 1000);
  s = ui::requestedWindowSize(none, 400, 300, 1920, 1080);  // raised to the minimum
  EXPECT_EQ(s.w, 860);
  EXPECT_EQ(s.h, 560);
  s = ui::requestedWindowSize(none, 5000, 5000, 0, 0);  // unusable bounds: unclamped
  EXPECT_EQ(s.w, 5000);

  ui::LaunchOptions sized;
  sized.sizeW = 3000;
  sized.sizeH = 2000;
  s = ui::requestedWindowSize(sized, 1500, 900, 1920, 1080);  // exceeds the display, unclamped
  EXPECT_EQ(s.w, 3000);
  EXPECT_EQ(s.h, 2000);
  sized.sizeW = 800;
  sized.sizeH = 0;  // "--size 800": the default, the saved size ignored
  s = ui::requestedWindowSize(sized, 1500, 900, 1920, 1040);
  EXPECT_EQ(s.w, 860);
  EXPECT_EQ(s.h, 560);
}

TEST(Startup, DroppedFileTextsAreDecoded) {
  const std::pair<const char*, const char*> cases[] = {
      {"file:///home/u/My%20Photo.jpg\r\n", "/home/u/My Photo.jpg"},
      {"file://localhost/home/a.jpg\r\n", "/home/a.jpg"},  // never the relative "localhost/home/a.jpg"
      {"file://elsewhere/home/a.jpg", ""},                  // another machine's file
      {"file:///a%41B", "/aAB"},
      {"file:///%E6%97%A5.png", "/\xE6\x97\xA5.png"},
      {"file:///a%zz", ""},   // not an escape: no well-formed URI
      {"file:///x%00y", ""},  // no NUL inside a path
      {"file:///a%0D%0A", "/a"},  // decoded line breaks at the end go too
      {"/plain/My%20Photo.jpg\n", "/plain/My%20Photo.jpg"},  // a plain path is kept as it is
      {"file://", ""},
      {"\r\n\n", ""},
  };
  for (const auto& [text, path] : cases) EXPECT_EQ(ui::decodeDroppedFile(text), path) << text;
}

TEST(Startup, OpenGlWithoutAGraphicsCardIsRecognised) {
  const std::pair<const char*, bool> cases[] = {
      {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
      {"softpipe", true},
      {"Mesa X11 Software Rasterizer", true},
      {"zink (llvmpipe (LLVM 15.0.6, 256 bits))", true},
      {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
      {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)", false},
      {"", false},
  };
  for (const auto& [name, software] : cases) EXPECT_EQ(ui::isSoftwareRasteriser(name), software) << name;
}
