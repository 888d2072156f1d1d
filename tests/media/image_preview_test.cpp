// The quick reductions behind previews.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "media/image.h"

namespace {

// Pixel (x, y) carries x + 10·y in red, 2·x in green, y in blue, 255 - x in alpha.
media::Image ramp(int w, int h) {
  media::Image img = media::Image::create(w, h, true);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = img.row(y);
    for (int x = 0; x < w; ++x, p += 4) {
      p[0] = static_cast<uint8_t>(x + 10 * y);
      p[1] = static_cast<uint8_t>(2 * x);
      p[2] = static_cast<uint8_t>(y);
      p[3] = static_cast<uint8_t>(255 - x);
    }
  }
  return img;
}

TEST(ShrinkByBlocks, AveragesWholeAndPartialBlocks) {
  const media::Image src = ramp(7, 5);
  const media::Image out = media::shrinkByBlocks(src, 3);
  ASSERT_EQ(out.width, 3);
  ASSERT_EQ(out.height, 2);
  EXPECT_TRUE(out.hasAlpha);
  // Block (0, 0): x 0…2, y 0…2: red mean 1 + 10 = 11, green 2, blue 1, alpha 254.
  EXPECT_EQ(std::vector<int>(out.row(0), out.row(0) + 4), (std::vector<int>{11, 2, 1, 254}));
  // Block (2, 1): the single column x 6, rows y 3…4: red 6 + 35 = 41 (rounded from 41), blue 3.5 → 4.
  const uint8_t* p = out.row(1) + 2 * 4;
  EXPECT_EQ(p[0], 41);
  EXPECT_EQ(p[2], 4);
  EXPECT_EQ(p[3], 249);
}

TEST(ShrinkByBlocks, FactorOneCopiesAndBadInputIsEmpty) {
  const media::Image src = ramp(4, 4);
  const media::Image same = media::shrinkByBlocks(src, 1);
  ASSERT_EQ(same.width, 4);
  EXPECT_EQ(same.row(3)[0], src.row(3)[0]);
  EXPECT_FALSE(media::shrinkByBlocks(media::Image{}, 4).valid());
}

TEST(PreviewLongEdge, ReachesTheTargetAndNeverEnlarges) {
  const struct {
    int w, h, edge, wantW, wantH;
  } cases[] = {{6000, 4000, 900, 900, 600}, {4000, 6000, 900, 600, 900}, {1200, 800, 900, 900, 600},
               {640, 480, 900, 640, 480}, {5000, 37, 900, 900, 7}};
  for (const auto& c : cases) {
    const media::Image out = media::previewLongEdge(media::Image::create(c.w, c.h, false), c.edge);
    EXPECT_EQ(std::pair(out.width, out.height), std::pair(c.wantW, c.wantH)) << c.w << "x" << c.h;
  }
}

}  // namespace
