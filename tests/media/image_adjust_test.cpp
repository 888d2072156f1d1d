// The adjustment in one pass over row bands: colour, clarity and sharpness
// together give, byte for byte, what the steps give one after another (the
// colour alone, then the unsharp mask at each radius), also for pictures
// thinner than the windows and cut into many bands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#include "media/image.h"

namespace {

media::Image noise(int w, int h, unsigned seed) {
  media::Image img = media::Image::create(w, h, true);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w * 4; ++x) img.row(y)[x] = static_cast<uint8_t>(rng());
  }
  return img;
}

int radius(int longSide, double share) { return static_cast<int>(std::max(1L, std::lround(longSide * share))); }

TEST(ImageAdjustOnePass, GivesWhatTheStepsGiveOneAfterAnother) {
  // −60 and 95 take amounts where some differences need the per-value table.
  const media::Adjust settings[] = {
      {20, 10, 10, 5, 20, 20}, {0, 0, 0, 0, -60, 95}, {-30, 40, 0, 20, 42, 0}, {0, 0, 0, 0, 0, 77}, {15, 0, 0, 0, 0, 0}};
  for (const auto& [w, h] : {std::pair{900, 601}, {1, 1}, {3, 700}, {700, 3}, {1200, 40}}) {
    const media::Image src = noise(w, h, static_cast<unsigned>(w * 7 + h));
    for (const media::Adjust& a : settings) {
      media::Image want = src;
      media::applyAdjust(want, {a.brightness, a.contrast, a.saturation, a.warmth, 0, 0});
      const int longSide = std::max(w, h);
      if (a.clarity != 0) media::unsharpLuma(want, radius(longSide, 0.006), 0.9 * a.clarity / 100);
      if (a.sharpness != 0) media::unsharpLuma(want, radius(longSide, 0.0012), 1.2 * a.sharpness / 100);

      const media::Image got = media::adjusted(src, a);
      EXPECT_EQ(got.pixels, want.pixels) << w << "x" << h << " clarity " << a.clarity << " sharpness " << a.sharpness;
      media::Image inPlace = src;
      media::applyAdjust(inPlace, a);
      EXPECT_EQ(inPlace.pixels, want.pixels) << w << "x" << h;
    }
  }
  EXPECT_FALSE(media::adjusted(media::Image{}, settings[0]).valid());
}

}  // namespace
