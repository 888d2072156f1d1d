// The application mark: the files the build draws, and how the interface shows
// them (in a child process each: the mark is looked up once per process).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cairo.h>

#include <cstdlib>
#include <string>

#include "media/image.h"
#include "media/image_io.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "support/in_child.h"
#include "support/screen_harness.h"
#include "support/test_support.h"
#include "ui/cairo_guard.h"
#include "ui/widgets.h"

using testing_support::TempDir;

namespace {

// Points the process at an asset folder holding the fonts and, when markColour
// is not 0, an opaque icon_512.png of that colour; the log goes below it too.
void useAssetDir(const TempDir& dir, uint32_t markColour) {
  platform::fs::ensureDir(dir.file("assets/icon"));
  const std::string fonts = std::string(KORVELLE_BINARY_DIR) + "/assets/fonts";
  symlink(fonts.c_str(), dir.file("assets/fonts").c_str());
  setenv("KORVELLE_ASSET_DIR", dir.path().c_str(), 1);
  setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
  if (markColour == 0) return;
  ui::SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 512, 512));
  {
    ui::CairoPtr cr(cairo_create(s.get()));
    cairo_set_source_rgb(cr.get(), ((markColour >> 16) & 0xFF) / 255.0, ((markColour >> 8) & 0xFF) / 255.0,
                         (markColour & 0xFF) / 255.0);
    cairo_paint(cr.get());
  }
  cairo_surface_write_to_png(s.get(), dir.file("assets/icon/icon_512.png").c_str());
}

// Draws the mark twice (then from its cached copy) into r in a 300 × 200 window
// at scale; the pixel at every probe as "AARRGGBB ".
std::string drawAndProbe(const ui::Rect& r, double scale, const std::vector<std::pair<double, double>>& probes) {
  testing_support::ScreenHarness h(300, 200, scale);
  h.frame([&](ui::Ctx& c) {
    ui::drawAppMark(c, r);
    ui::drawAppMark(c, r);
  });
  std::string out;
  for (const auto& [x, y] : probes) {
    char word[16];
    std::snprintf(word, sizeof word, "%08X ", h.pixel(x, y));
    out += word;
  }
  return out;
}

}  // namespace

TEST(AppMark, BuildDrawsEverySize) {
  for (int size : {512, 256, 128, 64, 48}) {
    const std::string path = std::string(KORVELLE_BINARY_DIR) + "/assets/icon/icon_" + std::to_string(size) + ".png";
    media::Image img;
    std::string err;
    ASSERT_TRUE(media::loadImage(path, &img, nullptr, &err)) << path << ": " << err;
    EXPECT_EQ(std::pair(img.width, img.height), std::pair(size, size));
    ASSERT_TRUE(img.hasAlpha);
    // Rounded: the corners are clear, the middle and the edges' middles solid.
    EXPECT_EQ(img.row(0)[3], 0) << size;
    EXPECT_EQ(img.row(size - 1)[(size - 1) * 4 + 3], 0) << size;
    EXPECT_EQ(img.row(size / 2)[(size / 2) * 4 + 3], 255) << size;
    EXPECT_EQ(img.row(size / 2)[3], 255) << size;
    EXPECT_EQ(img.row(0)[(size / 2) * 4 + 3], 255) << size;
  }
}

TEST(AppMark, DrawnRoundedAndCentred) {
  testing_support::ChildResult r = testing_support::inChild([] {
    TempDir dir;
    useAssetDir(dir, 0x3080C0);
    // A 200 × 100 area: a 100-pixel mark centred at x 60 … 160, y 10 … 110.
    const ui::Rect area{10, 10, 200, 100};
    std::string out = drawAndProbe(area, 1, {{110, 60}, {60.5, 60}, {159.5, 60}, {110, 10.5}, {61, 11},
                                             {158, 108}, {58, 60}, {162, 60}});
    // The same at two device pixels per pixel: built at that resolution.
    out += "| " + drawAndProbe(area, 2, {{110, 60}, {61, 11}, {60.25, 60}});
    return out;
  });
  ASSERT_EQ(r.exitCode, 0);
  // Centre and edge middles solid in the file's colour; corners and outside clear.
  EXPECT_EQ(r.out, "FF3080C0 FF3080C0 FF3080C0 FF3080C0 00000000 00000000 00000000 00000000 "
                   "| FF3080C0 00000000 FF3080C0 ");
}

TEST(AppMark, MissingFileIsLoggedOnceAndDrawsNothing) {
  testing_support::ChildResult r = testing_support::inChild([] {
    TempDir dir;
    useAssetDir(dir, 0);
    diag::init();
    std::string out = drawAndProbe(ui::Rect{10, 10, 100, 100}, 1, {{60, 60}});
    out += drawAndProbe(ui::Rect{10, 10, 100, 100}, 1, {{60, 60}});
    diag::shutdown();
    const std::string log = testing_support::readFile(dir.file("data/Korvelle/Korvelle.log"));
    const std::string line = "Bildmarke fehlt: " + dir.file("assets/icon/icon_512.png") + " (";
    size_t count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
    return out + "logged " + std::to_string(count);
  });
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "00000000 00000000 logged 1");
}
