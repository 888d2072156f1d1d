// The image buffer and its operations: hand-checked cases, edge cases, agreement with one plain scaler
// call, and stored checksums of fixed inputs for the operations written without the scaler.
#include "media/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

using media::Adjust;
using media::FitMode;
using media::Image;
using media::PadMode;
using media::TransformOp;

// --- Test images -------------------------------------------------------------------

Image randomImage(int w, int h, unsigned seed, bool alpha = true) {
  Image img = Image::create(w, h, alpha);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < static_cast<size_t>(w) * h * 4; ++i) img.pixels[i] = static_cast<uint8_t>(rng());
  return img;
}

Image fromPixels(int w, int h, const std::vector<uint32_t>& rgba, bool alpha = true) {
  Image img = Image::create(w, h, alpha);
  for (int i = 0; i < w * h; ++i) {
    const uint32_t v = rgba[i];
    uint8_t* p = img.pixels.data() + i * 4;
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
  }
  return img;
}

uint32_t pixel(const Image& img, int x, int y) {
  const uint8_t* p = img.row(y) + x * 4;
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Same size, flag and pixel rows (the tail margin is checked separately).
::testing::AssertionResult sameImage(const Image& a, const Image& b) {
  const size_t n = static_cast<size_t>(a.width) * a.height * 4;
  if (a.width != b.width || a.height != b.height || a.hasAlpha != b.hasAlpha || a.pixels.size() < n ||
      b.pixels.size() < n) {
    return ::testing::AssertionFailure() << a.width << "x" << a.height << " vs " << b.width << "x" << b.height;
  }
  const auto diff = std::mismatch(a.pixels.begin(), a.pixels.begin() + static_cast<std::ptrdiff_t>(n), b.pixels.begin());
  if (diff.first == a.pixels.begin() + static_cast<std::ptrdiff_t>(n)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "first difference at byte " << diff.first - a.pixels.begin();
}

bool isEmpty(const Image& img) { return img.width == 0 && img.height == 0 && img.pixels.empty(); }

bool hasZeroTail(const Image& img) {
  const size_t rows = static_cast<size_t>(img.width) * img.height * 4;
  if (img.pixels.size() != rows + media::kImageTailMargin) return false;
  return std::all_of(img.pixels.begin() + static_cast<std::ptrdiff_t>(rows), img.pixels.end(),
                     [](uint8_t b) { return b == 0; });
}

// Odd sizes: single pixels and lines, and sizes that are no multiple of any band height.
const std::vector<std::pair<int, int>> kSizes = {{1, 1}, {1, 7}, {9, 1}, {2, 3}, {7, 5}, {33, 17}, {65, 129}, {301, 203}};

// FNV-1a over size, alpha flag and pixel rows: one stored number stands for a whole run of fixed inputs.
constexpr uint64_t kFnvStart = 0xcbf29ce484222325ULL;
void addToChecksum(uint64_t* hash, const Image& img) {
  const auto fold = [&](const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) *hash = (*hash ^ p[i]) * 0x100000001b3ULL;
  };
  const int32_t head[3] = {img.width, img.height, img.hasAlpha ? 1 : 0};
  fold(reinterpret_cast<const uint8_t*>(head), sizeof head);
  fold(img.pixels.data(), std::min(img.pixels.size(), static_cast<size_t>(img.width) * img.height * 4));
}

// One scaler call over the whole picture: what the banded scaling must give.
Image refScale(const Image& src, int w, int h) {
  Image dst = Image::create(w, h, src.hasAlpha);
  const int flags = w * h < src.width * src.height ? SWS_LANCZOS : SWS_BICUBIC;
  SwsContext* ctx = sws_getContext(src.width, src.height, AV_PIX_FMT_RGBA, w, h, AV_PIX_FMT_RGBA, flags,
                                   nullptr, nullptr, nullptr);
  if (!ctx) return Image{};
  const uint8_t* srcData[4] = {src.pixels.data(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {src.width * 4, 0, 0, 0};
  uint8_t* dstData[4] = {dst.pixels.data(), nullptr, nullptr, nullptr};
  const int dstStride[4] = {w * 4, 0, 0, 0};
  sws_scale(ctx, srcData, srcStride, 0, src.height, dstData, dstStride);
  sws_freeContext(ctx);
  return dst;
}

// --- The buffer ----------------------------------------------------------------------

TEST(ImageBuffer, CreateIsZeroFilledWithTheTailMargin) {
  const Image img = Image::create(3, 2, true);
  EXPECT_EQ(std::tuple(img.width, img.height, img.hasAlpha), std::tuple(3, 2, true));
  EXPECT_TRUE(img.valid());
  EXPECT_EQ(img.pixels.size(), 3u * 2 * 4 + 128);
  EXPECT_TRUE(std::all_of(img.pixels.begin(), img.pixels.end(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(img.row(1) - img.row(0), 12);

  const Image big = Image::create(2000, 1500, false);  // large enough for the huge-page path
  EXPECT_TRUE(hasZeroTail(big));
  EXPECT_TRUE(std::all_of(big.pixels.begin(), big.pixels.end(), [](uint8_t b) { return b == 0; }));

  for (auto [w, h] : {std::pair{-4, 3}, {5, 0}, {5, -2}}) {
    const Image bad = Image::create(w, h, false);
    EXPECT_FALSE(bad.valid()) << w << "x" << h;
    EXPECT_EQ(bad.width * bad.height, 0) << w << "x" << h;
  }
}

// --- Scaling -------------------------------------------------------------------------

TEST(ImageScale, MatchesOneScalerCallBitForBit) {
  const std::vector<std::array<int, 4>> cases = {
      {1, 1, 1, 1},   {1, 1, 5, 3},     {1, 9, 3, 17},    {9, 1, 2, 1},       {7, 5, 7, 5},
      {7, 5, 3, 2},   {37, 23, 11, 7},  {33, 17, 100, 51}, {301, 203, 97, 61}, {301, 203, 640, 401},
      {640, 480, 1920, 1080}, {1280, 960, 1279, 961}};
  unsigned seed = 1;
  for (const auto& c : cases) {
    for (bool alpha : {false, true}) {
      const Image src = randomImage(c[0], c[1], seed++, alpha);
      const Image got = media::scaleExact(src, c[2], c[3]);
      EXPECT_TRUE(sameImage(got, refScale(src, c[2], c[3]))) << c[0] << "x" << c[1] << " -> " << c[2] << "x" << c[3];
      EXPECT_TRUE(hasZeroTail(got));
    }
  }
}

TEST(ImageScale, InvalidRequestsGiveEmptyImages) {
  const Image src = randomImage(8, 8, 3);
  EXPECT_TRUE(isEmpty(media::scaleExact(src, 0, 5)));
  EXPECT_TRUE(isEmpty(media::scaleExact(src, 5, -1)));
  EXPECT_TRUE(isEmpty(media::scaleExact(Image{}, 5, 5)));
  EXPECT_TRUE(isEmpty(media::resizeTo(src, 0, 2, FitMode::Cover, PadMode::Black)));
  EXPECT_TRUE(isEmpty(media::resizeTo(Image{}, 2, 2, FitMode::Contain, PadMode::Blur)));
  Image truncated = src;
  truncated.pixels.resize(8 * 8 * 4 - 1);
  EXPECT_TRUE(isEmpty(media::scaleExact(truncated, 4, 4)));
  // Without the tail margin the rows are still scaled (from a padded copy).
  Image noMargin = src;
  noMargin.pixels.resize(8 * 8 * 4);
  EXPECT_TRUE(sameImage(media::scaleExact(noMargin, 5, 3), refScale(src, 5, 3)));
}

TEST(ImageScale, LongEdgeShrinksOnlyAndKeepsTheAspect) {
  const Image land = randomImage(301, 203, 11);
  const Image small = media::resizeLongEdge(land, 100);  // lround(100 · 203 / 301) = lround(67.44)
  EXPECT_TRUE(sameImage(small, refScale(land, 100, 67)));
  const Image portrait = randomImage(203, 301, 12);
  EXPECT_TRUE(sameImage(media::resizeLongEdge(portrait, 100), refScale(portrait, 67, 100)));

  const Image line = randomImage(1000, 1, 13);
  EXPECT_EQ(media::resizeLongEdge(line, 10).height, 1);  // never below one pixel

  for (int edge : {301, 5000, 0, -7}) {
    const Image copy = media::resizeLongEdge(land, edge);
    EXPECT_TRUE(sameImage(copy, land)) << edge;
    EXPECT_TRUE(hasZeroTail(copy));
  }
  EXPECT_TRUE(sameImage(media::resizeLongEdge(Image(land), 400), land));
  EXPECT_TRUE(sameImage(media::resizeLongEdge(Image(land), 100), small));
}

// --- Cropping ------------------------------------------------------------------------

TEST(ImageCrop, CopiesTheRectangleAndClampsOrigins) {
  // 4 × 3, pixel (x, y) = 0xXY0000FF.
  std::vector<uint32_t> px;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) px.push_back((static_cast<uint32_t>(x) << 28) | (static_cast<uint32_t>(y) << 24) | 0xFF);
  const Image src = fromPixels(4, 3, px);
  // Inside; beyond the right edge (the last column); a negative origin at 0, request kept; oversized.
  const struct {
    int x, y, w, h, ow, oh;
    uint32_t first, last;
  } cases[] = {{1, 1, 2, 2, 2, 2, 0x110000FF, 0x220000FF},
               {10, 0, 3, 2, 1, 2, 0x300000FF, 0x310000FF},
               {-5, -1, 2, 2, 2, 2, 0x000000FF, 0x110000FF},
               {2, 1, 100, 100, 2, 2, 0x210000FF, 0x320000FF}};
  for (const auto& c : cases) {
    const Image out = media::cropTo(src, c.x, c.y, c.w, c.h);
    ASSERT_EQ(std::pair(out.width, out.height), std::pair(c.ow, c.oh)) << c.x << "," << c.y;
    EXPECT_EQ(pixel(out, 0, 0), c.first) << c.x << "," << c.y;
    EXPECT_EQ(pixel(out, c.ow - 1, c.oh - 1), c.last) << c.x << "," << c.y;
    EXPECT_TRUE(out.hasAlpha);
    EXPECT_TRUE(hasZeroTail(out));
  }
  EXPECT_TRUE(isEmpty(media::cropTo(src, 0, 0, 0, 2)));
  EXPECT_TRUE(isEmpty(media::cropTo(src, 0, 0, 2, -1)));
  EXPECT_TRUE(isEmpty(media::cropTo(Image{}, 0, 0, 2, 2)));
}

TEST(ImageCrop, InPlaceGivesTheCopysBytesAndTheChecksumHolds) {
  unsigned seed = 20;
  uint64_t sum = kFnvStart;
  for (const auto& [w, h] : kSizes) {
    const Image src = randomImage(w, h, seed++);
    const int rects[][4] = {{0, 0, w, h}, {w / 3, h / 4, w / 2 + 1, h / 2 + 1}, {w - 1, h - 1, 5, 5},
                            {-3, 2, w, 3}, {w + 4, -2, 2, h + 9}, {1, 0, w, h}};
    for (const auto& r : rects) {
      const Image copy = media::cropTo(src, r[0], r[1], r[2], r[3]);
      const Image inPlace = media::cropTo(Image(src), r[0], r[1], r[2], r[3]);
      EXPECT_TRUE(sameImage(inPlace, copy)) << w << "x" << h;
      EXPECT_TRUE(hasZeroTail(inPlace));
      addToChecksum(&sum, copy);
    }
  }
  EXPECT_EQ(sum, 0x9e069f58c7bae1c2ULL);
}

// --- Fitting -------------------------------------------------------------------------

// By hand: contain pastes the source scaled to fw × fh at (ox, oy); cover crops it scaled to cw × ch at (cx, cy).
TEST(ImageFit, EveryModePlacesTheScaledPictureAsWorkedOut) {
  const struct {
    int sw, sh, w, h;
    int fw, fh, ox, oy;
    int cw, ch, cx, cy;
  } cases[] = {
      {301, 203, 100, 100, 100, 67, 0, 16, 148, 100, 24, 0}, {203, 301, 120, 67, 45, 67, 37, 0, 120, 178, 0, 55},
      {64, 64, 30, 90, 30, 30, 0, 30, 90, 90, 30, 0},        {1, 1, 5, 3, 3, 3, 1, 0, 5, 5, 0, 1},
      {9, 1, 4, 4, 4, 1, 0, 1, 36, 4, 16, 0},                {33, 17, 200, 48, 93, 48, 53, 0, 200, 103, 0, 27},
      {100, 50, 40, 40, 40, 20, 0, 10, 80, 40, 20, 0},       {640, 427, 108, 135, 108, 72, 0, 31, 202, 135, 47, 0}};
  unsigned seed = 40;
  for (const auto& c : cases) {
    for (bool alpha : {false, true}) {
      const Image src = randomImage(c.sw, c.sh, seed++, alpha);
      const std::string what = std::to_string(c.sw) + "x" + std::to_string(c.sh) + (alpha ? " alpha" : "");
      const Image stretched = media::resizeTo(src, c.w, c.h, FitMode::Stretch, PadMode::Black);
      EXPECT_TRUE(sameImage(stretched, media::scaleExact(src, c.w, c.h))) << what;
      const Image covered = media::resizeTo(src, c.w, c.h, FitMode::Cover, PadMode::Black);
      EXPECT_TRUE(sameImage(covered, media::cropTo(media::scaleExact(src, c.cw, c.ch), c.cx, c.cy, c.w, c.h)))
          << what;
      EXPECT_TRUE(hasZeroTail(covered));

      const Image fitted = media::scaleExact(src, c.fw, c.fh);
      for (PadMode pad : {PadMode::Black, PadMode::White, PadMode::Blur}) {
        const Image out = media::resizeTo(src, c.w, c.h, FitMode::Contain, pad);
        ASSERT_EQ(std::pair(out.width, out.height), std::pair(c.w, c.h)) << what;
        EXPECT_EQ(out.hasAlpha, alpha);
        EXPECT_TRUE(hasZeroTail(out));
        EXPECT_TRUE(sameImage(media::cropTo(out, c.ox, c.oy, c.fw, c.fh), fitted)) << what << " pad " << int(pad);
        if (pad == PadMode::Blur) continue;
        // Around the picture: the pad colour, or transparent with alpha.
        const uint32_t border = alpha ? 0u : pad == PadMode::White ? 0xFFFFFFFFu : 0x000000FFu;
        for (int y = 0; y < c.h; ++y) {
          for (int x = 0; x < c.w; ++x) {
            const bool inside = x >= c.ox && x < c.ox + c.fw && y >= c.oy && y < c.oy + c.fh;
            if (!inside) {
              ASSERT_EQ(pixel(out, x, y), border) << what << " at " << x << "," << y;
            }
          }
        }
      }
    }
  }
}

// The blurred border: the cover picture shrunk to a long side of min(w, h) / 24 pixels and enlarged again;
// a much larger source is first averaged in blocks (here 26) and cropped centred to the border's shape.
TEST(ImageFit, BlurBorderShrinksAndEnlargesAsWorkedOut) {
  const Image large = randomImage(640, 427, 45, true);
  const Image out = media::resizeTo(large, 108, 135, FitMode::Contain, PadMode::Blur);
  const Image blocks = media::cropTo(media::shrinkByBlocks(large, 26), 5, 0, 14, 17);
  const Image canvas = media::scaleExact(media::scaleExact(blocks, 3, 4), 108, 135);
  EXPECT_TRUE(sameImage(media::cropTo(out, 0, 0, 108, 31), media::cropTo(canvas, 0, 0, 108, 31)));
  EXPECT_TRUE(sameImage(media::cropTo(out, 0, 103, 108, 32), media::cropTo(canvas, 0, 103, 108, 32)));

  // Enlarging: no blocks, the cover picture itself is shrunk to 12 × 9.
  const Image small = randomImage(33, 17, 46, false);
  const Image wide = media::resizeTo(small, 400, 300, FitMode::Contain, PadMode::Blur);
  const Image cover = media::cropTo(media::scaleExact(small, 582, 300), 91, 0, 400, 300);
  const Image blurred = media::scaleExact(media::scaleExact(cover, 12, 9), 400, 300);
  EXPECT_TRUE(sameImage(media::cropTo(wide, 0, 0, 400, 47), media::cropTo(blurred, 0, 0, 400, 47)));
  EXPECT_TRUE(sameImage(media::cropTo(wide, 0, 253, 400, 47), media::cropTo(blurred, 0, 253, 400, 47)));
}

// --- Lossless transforms ---------------------------------------------------------------

TEST(ImageTransform, MovesPixelsAsTheTableSays) {
  // 3 × 2: A B C over D E F.
  const Image src = fromPixels(3, 2, {0xA, 0xB, 0xC, 0xD, 0xE, 0xF});
  auto all = [](const Image& img) {
    std::vector<uint32_t> v;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x) v.push_back(pixel(img, x, y));
    return v;
  };
  using V = std::vector<uint32_t>;
  EXPECT_EQ(all(media::transform(src, TransformOp::FlipH)), (V{0xC, 0xB, 0xA, 0xF, 0xE, 0xD}));
  EXPECT_EQ(all(media::transform(src, TransformOp::FlipV)), (V{0xD, 0xE, 0xF, 0xA, 0xB, 0xC}));
  EXPECT_EQ(all(media::transform(src, TransformOp::Rotate180)), (V{0xF, 0xE, 0xD, 0xC, 0xB, 0xA}));
  const Image cw = media::transform(src, TransformOp::RotateCW);
  EXPECT_EQ(std::pair(cw.width, cw.height), std::pair(2, 3));
  EXPECT_EQ(all(cw), (V{0xD, 0xA, 0xE, 0xB, 0xF, 0xC}));
  EXPECT_EQ(all(media::transform(src, TransformOp::RotateCCW)), (V{0xC, 0xF, 0xB, 0xE, 0xA, 0xD}));
  EXPECT_TRUE(sameImage(media::transform(src, static_cast<TransformOp>(9)), src));
  EXPECT_TRUE(isEmpty(media::transform(Image{}, TransformOp::FlipH)));
}

TEST(ImageTransform, InPlaceGivesTheCopysBytesAndTheChecksumHolds) {
  unsigned seed = 60;
  std::vector<std::pair<int, int>> sizes = kSizes;
  sizes.push_back({97, 1000});  // several tiles and bands
  uint64_t sum = kFnvStart;
  for (const auto& [w, h] : sizes) {
    const Image src = randomImage(w, h, seed++);
    for (TransformOp op : {TransformOp::FlipH, TransformOp::FlipV, TransformOp::RotateCW, TransformOp::Rotate180,
                           TransformOp::RotateCCW}) {
      const Image copy = media::transform(src, op);
      const Image moved = media::transform(Image(src), op);
      EXPECT_TRUE(sameImage(moved, copy)) << w << "x" << h << " op " << int(op);
      EXPECT_TRUE(hasZeroTail(moved));
      addToChecksum(&sum, copy);
    }
  }
  EXPECT_EQ(sum, 0x52d24aeb26fd5bf0ULL);
}

// --- Free rotation ---------------------------------------------------------------------

TEST(ImageRotate, InsideCropFollowsTheGeometry) {
  // w, h, degrees → inside w, h. 45°: side / √2; never below 1 × 1; no size or angle: nothing.
  const struct {
    int w, h;
    double a;
    int iw, ih;
  } cases[] = {{6000, 4000, 12.5, 5508, 2876}, {4000, 6000, 12.5, 2876, 5508}, {640, 480, 30, 480, 277},
               {640, 480, -30, 480, 277},     {640, 480, 0, 640, 480},       {200, 100, 90, 100, 200},
               {200, 100, 89.9, 100, 200},    {100, 100, 45, 71, 71},        {101, 101, 45, 71, 71},
               {10000, 1, 0.01, 2865, 1},     {1, 1, 17, 1, 1},              {0, 50, 10, 0, 0},
               {50, -1, 10, 0, 0},            {50, 50, std::nan(""), 0, 0}};
  for (const auto& c : cases) {
    const media::Size s = media::insideCrop(c.w, c.h, c.a);
    EXPECT_EQ(std::pair(s.width, s.height), std::pair(c.iw, c.ih)) << c.w << "x" << c.h << " by " << c.a;
  }
}

TEST(ImageRotate, SamplesBilinearlyAsWorkedOutByHand) {
  // R = 10x + 50y, G = 200 − 30x, B = 7y + 20xy; by 30° the crop is 2 × 2, (0, 0) samples (0.317, 0.817).
  std::vector<uint32_t> px;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      px.push_back((static_cast<uint32_t>(10 * x + 50 * y) << 24) | (static_cast<uint32_t>(200 - 30 * x) << 16) |
                   (static_cast<uint32_t>(7 * y + 20 * x * y) << 8) | 0xFF);
  const Image out = media::rotate(fromPixels(3, 3, px, false), 30);
  ASSERT_EQ(std::pair(out.width, out.height), std::pair(2, 2));
  EXPECT_FALSE(out.hasAlpha);
  EXPECT_EQ(pixel(out, 0, 0), (44u << 24) | (190u << 16) | (11u << 8) | 0xFF);
  EXPECT_EQ(pixel(out, 1, 0), (28u << 24) | (165u << 16) | (10u << 8) | 0xFF);
  EXPECT_EQ(pixel(out, 0, 1), (92u << 24) | (175u << 16) | (39u << 8) | 0xFF);
  EXPECT_EQ(pixel(out, 1, 1), (76u << 24) | (150u << 16) | (48u << 8) | 0xFF);
}

TEST(ImageRotate, ChecksumOverManyAnglesHolds) {
  unsigned seed = 80;
  uint64_t sum = kFnvStart;
  for (const auto& [w, h] : kSizes) {
    const Image src = randomImage(w, h, seed++);
    for (double a : {12.5, -7.25, 30.0, 45.0, 60.0, 89.99, 135.0, -170.0, 200.0, 0.3, 1e-10, 360.0, -90.0, 270.0}) {
      const Image got = media::rotate(src, a);
      EXPECT_TRUE(hasZeroTail(got)) << w << "x" << h << " by " << a;
      addToChecksum(&sum, got);
    }
  }
  EXPECT_EQ(sum, 0x3baaa5b6ad17dc27ULL);
}

// Whole and quarter turns are also in ChecksumOverManyAnglesHolds.
TEST(ImageRotate, ShortcutsTurnLosslesslyAndInvalidAnglesGiveNothing) {
  const Image src = randomImage(31, 17, 90);
  for (auto [a, op] : {std::pair{-270.0, TransformOp::RotateCW}, {540.0, TransformOp::Rotate180}})
    EXPECT_TRUE(sameImage(media::rotate(Image(src), a), media::transform(src, op))) << a;
  EXPECT_TRUE(sameImage(media::rotate(src, -720.0), src));
  EXPECT_TRUE(isEmpty(media::rotate(Image{}, 10)));
  EXPECT_TRUE(isEmpty(media::rotate(src, std::nan(""))));
  EXPECT_TRUE(isEmpty(media::rotate(src, INFINITY)));
}

// --- Colour and detail -------------------------------------------------------------------

std::array<uint8_t, 4> adjusted(std::array<uint8_t, 4> px, const Adjust& a) {
  Image img = Image::create(1, 1, true);
  std::memcpy(img.pixels.data(), px.data(), 4);
  media::applyAdjust(img, a);
  return {img.pixels[0], img.pixels[1], img.pixels[2], img.pixels[3]};
}

TEST(ImageAdjust, ColourStepAsWorkedOutByHand) {
  using P = std::array<uint8_t, 4>;
  EXPECT_EQ(adjusted({10, 100, 200, 77}, Adjust{100, 0, 0, 0, 0, 0}), (P{74, 164, 255, 77}));  // +63.75
  EXPECT_EQ(adjusted({10, 100, 200, 77}, Adjust{0, 100, 0, 0, 0, 0}), (P{0, 78, 255, 77}));    // 1.8v − 102
  EXPECT_EQ(adjusted({10, 100, 200, 77}, Adjust{0, 0, -100, 0, 0, 0}), (P{88, 88, 88, 77}));   // luma 88.086
  EXPECT_EQ(adjusted({20, 100, 200, 77}, Adjust{0, 0, 0, 100, 0, 0}), (P{23, 100, 170, 77}));  // ×1.15, ×0.85
  EXPECT_EQ(adjusted({20, 100, 200, 77}, Adjust{-50, 30, 40, -20, 0, 0}), (P{0, 66, 247, 77}));
}

// The colour step is per pixel: whole images, whatever their band split, come out as each pixel alone.
TEST(ImageAdjust, EveryPixelComesOutAsItDoesAlone) {
  const std::vector<Adjust> settings = {{25, 0, 0, 0, 0, 0},  {0, -40, 0, 0, 0, 0},      {10, 15, 20, 10, 0, 0},
                                        {-100, 100, -100, 100, 0, 0}, {5, -5, 35, -35, 0, 0}};
  unsigned seed = 100;
  std::vector<std::pair<int, int>> sizes = kSizes;
  sizes.push_back({900, 31});
  for (const auto& [w, h] : sizes) {
    const Image src = randomImage(w, h, seed++);
    for (const Adjust& a : settings) {
      Image got = src;
      media::applyAdjust(got, a);
      for (int i = 0; i < w * h; ++i) {
        const uint8_t* p = src.pixels.data() + i * 4;
        const auto want = adjusted({p[0], p[1], p[2], p[3]}, a);
        ASSERT_EQ(std::memcmp(got.pixels.data() + i * 4, want.data(), 4), 0)
            << w << "x" << h << " pixel " << i << " b" << a.brightness << " c" << a.contrast << " s"
            << a.saturation << " w" << a.warmth;
      }
    }
  }
}

TEST(ImageAdjust, UnsharpChecksumForAnyRadiusHolds) {
  unsigned seed = 120;
  uint64_t sum = kFnvStart;
  for (const auto& [w, h] : kSizes) {
    const Image src = randomImage(w, h, seed++);
    // 4096 takes the plain-division path (window beyond the fast divider).
    for (int radius : {1, 2, 3, 7, 40, 500, 4096}) {
      for (double amount : {0.35, -0.8, 1.2}) {
        Image got = src;
        media::unsharpLuma(got, radius, amount);
        addToChecksum(&sum, got);
      }
    }
  }
  EXPECT_EQ(sum, 0x60a12a59de0e39adULL);
}

TEST(ImageAdjust, NeutralSettingsAndEmptyImagesChangeNothing) {
  const Image src = randomImage(57, 43, 130);
  Image img = src;
  media::applyAdjust(img, Adjust{});
  EXPECT_EQ(img.pixels, src.pixels);  // every byte, the tail included
  media::unsharpLuma(img, 0, 1.0);
  media::unsharpLuma(img, 3, 0.0);
  EXPECT_EQ(img.pixels, src.pixels);

  // Not-a-number sliders count as zero.
  Image nan = src;
  media::applyAdjust(nan, Adjust{std::nan(""), 0, 0, 0, std::nan(""), 0});
  EXPECT_EQ(nan.pixels, src.pixels);

  Image empty;
  media::applyAdjust(empty, Adjust{10, 10, 10, 10, 10, 10});
  media::unsharpLuma(empty, 2, 1.0);
  EXPECT_TRUE(isEmpty(empty));
}

TEST(ImageAdjust, UnsharpBelowHalfALevelLeavesThePixelAlone) {
  // Grey 10, 11, 10 (radius 1): the middle's difference is 1. Just under 0.5 it stays 11, although
  // 11 + 0.49999999999999994 rounds to 11.5 in doubles and lround gives 12.
  const auto row = [] { return fromPixels(3, 1, {0x0A0A0AC8, 0x0B0B0BC8, 0x0A0A0AC8}); };
  Image below = row();
  const Image before = below;
  media::unsharpLuma(below, 1, std::nextafter(0.5, 0.0));
  EXPECT_EQ(below.pixels, before.pixels);

  Image half = row();
  media::unsharpLuma(half, 1, 0.5);
  EXPECT_EQ(pixel(half, 1, 0), 0x0C0C0CC8u);  // alpha untouched
  EXPECT_EQ(pixel(half, 0, 0), 0x0A0A0AC8u);
}

// One pass over row bands gives, byte for byte, what the steps give one after another, also for pictures
// thinner than the windows and cut into many bands.
TEST(ImageAdjust, OnePassGivesWhatTheStepsGiveOneAfterAnother) {
  const auto radius = [](int longSide, double share) {
    return static_cast<int>(std::max(1L, std::lround(longSide * share)));
  };
  // −60 and 95 take amounts where some differences need the per-value table.
  const Adjust settings[] = {
      {20, 10, 10, 5, 20, 20}, {0, 0, 0, 0, -60, 95}, {-30, 40, 0, 20, 42, 0}, {0, 0, 0, 0, 0, 77}, {15, 0, 0, 0, 0, 0}};
  for (const auto& [w, h] : {std::pair{900, 601}, {1, 1}, {3, 700}, {700, 3}, {1200, 40}}) {
    const Image src = randomImage(w, h, static_cast<unsigned>(w * 7 + h));
    for (const Adjust& a : settings) {
      Image want = src;
      media::applyAdjust(want, {a.brightness, a.contrast, a.saturation, a.warmth, 0, 0});
      const int longSide = std::max(w, h);
      if (a.clarity != 0) media::unsharpLuma(want, radius(longSide, 0.006), 0.9 * a.clarity / 100);
      if (a.sharpness != 0) media::unsharpLuma(want, radius(longSide, 0.0012), 1.2 * a.sharpness / 100);

      EXPECT_EQ(media::adjusted(src, a).pixels, want.pixels) << w << "x" << h << " " << a.clarity << " " << a.sharpness;
      Image inPlace = src;
      media::applyAdjust(inPlace, a);
      EXPECT_EQ(inPlace.pixels, want.pixels) << w << "x" << h;
    }
  }
  EXPECT_FALSE(media::adjusted(Image{}, settings[0]).valid());
}

// --- Preview reductions ------------------------------------------------------------------

// Pixel (x, y) carries x + 10·y in red, 2·x in green, y in blue, 255 - x in alpha.
Image previewRamp(int w, int h) {
  Image img = Image::create(w, h, true);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = img.row(y) + x * 4;
      p[0] = static_cast<uint8_t>(x + 10 * y);
      p[1] = static_cast<uint8_t>(2 * x);
      p[2] = static_cast<uint8_t>(y);
      p[3] = static_cast<uint8_t>(255 - x);
    }
  }
  return img;
}

TEST(ShrinkByBlocks, AveragesWholeAndPartialBlocks) {
  const Image out = media::shrinkByBlocks(previewRamp(7, 5), 3);
  ASSERT_EQ(std::pair(out.width, out.height), std::pair(3, 2));
  EXPECT_TRUE(out.hasAlpha);
  // Block (0, 0): x 0…2, y 0…2: red mean 1 + 10 = 11, green 2, blue 1, alpha 254.
  EXPECT_EQ(pixel(out, 0, 0), 0x0B0201FEu);
  // Block (2, 1): the single column x 6, rows y 3…4: red 6 + 35 = 41, green 12, blue 3.5 → 4, alpha 249.
  EXPECT_EQ(pixel(out, 2, 1), 0x290C04F9u);
  // Factor one copies; no picture gives nothing.
  EXPECT_TRUE(sameImage(media::shrinkByBlocks(previewRamp(4, 4), 1), previewRamp(4, 4)));
  EXPECT_FALSE(media::shrinkByBlocks(Image{}, 4).valid());
}

TEST(PreviewLongEdge, ReachesTheTargetAndNeverEnlarges) {
  const struct {
    int w, h, edge, wantW, wantH;
  } cases[] = {{6000, 4000, 900, 900, 600}, {4000, 6000, 900, 600, 900}, {1200, 800, 900, 900, 600},
               {640, 480, 900, 640, 480}, {5000, 37, 900, 900, 7}};
  for (const auto& c : cases) {
    const Image out = media::previewLongEdge(Image::create(c.w, c.h, false), c.edge);
    EXPECT_EQ(std::pair(out.width, out.height), std::pair(c.wantW, c.wantH)) << c.w << "x" << c.h;
  }
}

}  // namespace
