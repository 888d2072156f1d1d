// The decisions main takes before the window opens: arguments, window size, dropped-file texts.
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
  EXPECT_EQ(parse({"--version=1", "-v", "--Help", "--encoders"}).info, ui::InfoRequest::Encoders);
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
  o = parse({"--size"});  // nothing follows
  EXPECT_EQ(o.sizeW, 0);
  EXPECT_TRUE(o.file.empty());
}

TEST(Startup, DefaultWindowSizeFollowsTheDisplay) {
  const struct {
    int displayW, displayH, w, h;
  } cases[] = {
      {1920, 1040, 860, 560},   // 773.76 × 435.24, raised to the minimum
      {5000, 900, 1457, 820},   // too tall at 40 %: height-limited
      {0, 1080, 1280, 720},
  };
  for (const auto& c : cases) {
    const ui::WindowSize s = ui::defaultWindowSize(c.displayW, c.displayH);
    EXPECT_EQ(std::pair(s.w, s.h), std::pair(c.w, c.h)) << c.displayW << "x" << c.displayH;
  }
}

TEST(Startup, RequestedSizeUsesSizeOptionOrSavedSizeClampedToTheDisplay) {
  const struct {
    int optionW, optionH, savedW, savedH, displayW, displayH, w, h;
  } cases[] = {
      {0, 0, 1500, 900, 1920, 1080, 1500, 900},
      {0, 0, 5000, 5000, 1920, 1080, 1900, 1000},  // clamped
      {0, 0, 400, 300, 1920, 1080, 860, 560},      // raised to the minimum
      {0, 0, 5000, 5000, 0, 0, 5000, 5000},        // unusable bounds: unclamped
      {3000, 2000, 1500, 900, 1920, 1080, 3000, 2000},  // exceeds the display, unclamped
      {800, 0, 1500, 900, 1920, 1040, 860, 560},   // "--size 800": the default, the saved size ignored
  };
  for (const auto& c : cases) {
    ui::LaunchOptions o;
    o.sizeW = c.optionW;
    o.sizeH = c.optionH;
    const ui::WindowSize s = ui::requestedWindowSize(o, c.savedW, c.savedH, c.displayW, c.displayH);
    EXPECT_EQ(std::pair(s.w, s.h), std::pair(c.w, c.h)) << c.optionW << "x" << c.optionH << " saved " << c.savedW;
  }
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
      {"Mesa X11 Software Rasterizer", true},
      {"zink (llvmpipe (LLVM 15.0.6, 256 bits))", true},
      {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)", false},
      {"", false},
  };
  for (const auto& [name, software] : cases) EXPECT_EQ(ui::isSoftwareRasteriser(name), software) << name;
}
