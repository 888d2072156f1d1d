// The image buffer and its operations: hand-checked small cases, edge cases,
// invariants, and bit-exact agreement with plain single-threaded reference
// implementations written straight from the formulas.
#include "media/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "media/image_internal.h"

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

// Smooth gradients with some texture, closer to a photo than noise is.
Image photoLike(int w, int h) {
  Image img = Image::create(w, h, false);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = img.row(y) + x * 4;
      p[0] = static_cast<uint8_t>(255 * x / std::max(1, w - 1));
      p[1] = static_cast<uint8_t>(255 * y / std::max(1, h - 1));
      p[2] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.3) * std::cos(y * 0.2));
      p[3] = 255;
    }
  }
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
  if (a.width != b.width || a.height != b.height || a.hasAlpha != b.hasAlpha) {
    return ::testing::AssertionFailure() << a.width << "x" << a.height << (a.hasAlpha ? "+a" : "") << " vs "
                                         << b.width << "x" << b.height << (b.hasAlpha ? "+a" : "");
  }
  const size_t n = static_cast<size_t>(a.width) * a.height * 4;
  if (n == 0) return ::testing::AssertionSuccess();
  if (a.pixels.size() < n || b.pixels.size() < n) return ::testing::AssertionFailure() << "short buffer";
  for (size_t i = 0; i < n; ++i) {
    if (a.pixels[i] != b.pixels[i]) {
      const size_t px = i / 4;
      return ::testing::AssertionFailure() << "first difference at (" << px % a.width << ", " << px / a.width
                                           << ") channel " << i % 4 << ": " << int{a.pixels[i]} << " vs "
                                           << int{b.pixels[i]};
    }
  }
  return ::testing::AssertionSuccess();
}

bool isEmpty(const Image& img) { return img.width == 0 && img.height == 0 && img.pixels.empty(); }

bool hasZeroTail(const Image& img) {
  const size_t rows = static_cast<size_t>(img.width) * img.height * 4;
  if (img.pixels.size() != rows + media::kImageTailMargin) return false;
  return std::all_of(img.pixels.begin() + static_cast<std::ptrdiff_t>(rows), img.pixels.end(),
                     [](uint8_t b) { return b == 0; });
}

// Odd sizes: single pixels and lines, and sizes that are no multiple of any
// band height.
const std::vector<std::pair<int, int>> kSizes = {{1, 1}, {1, 7}, {9, 1}, {2, 3}, {7, 5}, {33, 17}, {65, 129}, {301, 203}};

// --- Reference implementations, straight from the formulas ------------------

long lr(double v) { return std::lround(v); }
uint8_t byteOf(double v) { return static_cast<uint8_t>(std::clamp<long>(std::lround(v), 0, 255)); }

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

Image refCrop(const Image& src, int x, int y, int w, int h) {
  auto axis = [](int o, int extent, int req, int& start, int& len) {
    int avail;
    if (o < 0) {
      start = 0, avail = extent;
    } else if (o < extent) {
      start = o, avail = extent - o;
    } else {
      start = extent - 1, avail = 1;
    }
    len = std::min(req, avail);
  };
  int sx, sy, cw, ch;
  axis(x, src.width, w, sx, cw);
  axis(y, src.height, h, sy, ch);
  Image out = Image::create(cw, ch, src.hasAlpha);
  for (int r = 0; r < ch; ++r) std::memcpy(out.row(r), src.row(sy + r) + sx * 4, static_cast<size_t>(cw) * 4);
  return out;
}

// Means of f × f blocks (partial at the right and bottom), rounded half up.
Image refBlocks(const Image& src, int f) {
  const int w = (src.width + f - 1) / f, h = (src.height + f - 1) / f;
  Image out = Image::create(w, h, src.hasAlpha);
  for (int by = 0; by < h; ++by) {
    for (int bx = 0; bx < w; ++bx) {
      unsigned sum[4] = {0, 0, 0, 0}, n = 0;
      for (int y = by * f; y < std::min(src.height, by * f + f); ++y) {
        for (int x = bx * f; x < std::min(src.width, bx * f + f); ++x, ++n) {
          for (int c = 0; c < 4; ++c) sum[c] += src.row(y)[x * 4 + c];
        }
      }
      for (int c = 0; c < 4; ++c) out.row(by)[bx * 4 + c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
    }
  }
  return out;
}

Image refResizeTo(const Image& src, int w, int h, FitMode fit, PadMode pad) {
  const double sx = static_cast<double>(w) / src.width, sy = static_cast<double>(h) / src.height;
  auto side = [](int v, double s) { return static_cast<int>(std::max(1L, lr(v * s))); };
  auto cover = [&] {
    const double s = std::max(sx, sy);
    const int cw = side(src.width, s), ch = side(src.height, s);
    return refCrop(refScale(src, cw, ch), (cw - w) / 2, (ch - h) / 2, w, h);
  };
  if (fit == FitMode::Stretch) return refScale(src, w, h);
  if (fit == FitMode::Cover) return cover();
  const double s = std::min(sx, sy);
  const int fw = side(src.width, s), fh = side(src.height, s);
  const Image fitted = refScale(src, fw, fh);
  Image canvas = Image::create(w, h, src.hasAlpha);
  if (pad == PadMode::Blur) {
    const int k = std::min(w, h) <= 47 ? 1 : std::min(w, h) / 24;
    const int sw = std::max(1, (k * w) / std::max(w, h)), sh = std::max(1, (k * h) / std::max(w, h));
    // Large sources: blocks of a quarter of what one small pixel stands for,
    // then the centred part with the canvas's proportions.
    const int f = static_cast<int>(std::min(std::max(w, h) / (k * std::max(sx, sy)) / 4.0,
                                            static_cast<double>(std::min(src.width, src.height))));
    Image small;
    if (f >= 2) {
      const Image b = refBlocks(src, f);
      int cw = b.width, ch = b.height;
      if (1LL * b.width * h >= 1LL * b.height * w) {
        cw = static_cast<int>(std::max(1L, lr(static_cast<double>(b.height) * w / h)));
      } else {
        ch = static_cast<int>(std::max(1L, lr(static_cast<double>(b.width) * h / w)));
      }
      small = refScale(refCrop(b, (b.width - cw) / 2, (b.height - ch) / 2, cw, ch), sw, sh);
    } else {
      small = refScale(cover(), sw, sh);
    }
    Image big = refScale(small, w, h);
    if (big.valid()) canvas = big;
  } else if (!src.hasAlpha) {
    for (int i = 0; i < w * h; ++i) {
      const uint8_t v = pad == PadMode::White ? 255 : 0;
      uint8_t* p = canvas.pixels.data() + i * 4;
      p[0] = p[1] = p[2] = v;
      p[3] = 255;
    }
  }
  const int ox = (w - fw) / 2, oy = (h - fh) / 2;
  for (int y = 0; y < fh; ++y) {
    for (int x = 0; x < fw; ++x) {
      if (ox + x < 0 || ox + x >= w || oy + y < 0 || oy + y >= h) continue;
      std::memcpy(canvas.row(oy + y) + (ox + x) * 4, fitted.row(y) + x * 4, 4);
    }
  }
  return canvas;
}

Image refTransform(const Image& src, TransformOp op) {
  const int W = src.width, H = src.height;
  const bool turn = op == TransformOp::RotateCW || op == TransformOp::RotateCCW;
  Image out = Image::create(turn ? H : W, turn ? W : H, src.hasAlpha);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      int dx = x, dy = y;
      switch (op) {
        case TransformOp::FlipH: dx = W - 1 - x; break;
        case TransformOp::FlipV: dy = H - 1 - y; break;
        case TransformOp::RotateCW: dx = H - 1 - y, dy = x; break;
        case TransformOp::Rotate180: dx = W - 1 - x, dy = H - 1 - y; break;
        case TransformOp::RotateCCW: dx = y, dy = W - 1 - x; break;
      }
      std::memcpy(out.row(dy) + dx * 4, src.row(y) + x * 4, 4);
    }
  }
  return out;
}

Image refRotate(const Image& src, double degrees) {
  double a = std::fmod(degrees, 360);
  if (a > 180) a -= 360;
  if (a < -180) a += 360;
  if (std::fabs(a) < 1e-9) return src;
  if (std::fabs(std::fabs(a) - 180) < 1e-9) return refTransform(src, TransformOp::Rotate180);
  if (std::fabs(a - 90) < 1e-9) return refTransform(src, TransformOp::RotateCW);
  if (std::fabs(a + 90) < 1e-9) return refTransform(src, TransformOp::RotateCCW);
  const media::Size size = media::insideCrop(src.width, src.height, a);
  Image out = Image::create(size.width, size.height, src.hasAlpha);
  const double c = std::cos(a * std::numbers::pi / 180), s = std::sin(a * std::numbers::pi / 180);
  const double cx = (src.width - 1) / 2.0, cy = (src.height - 1) / 2.0;
  const double ox = (size.width - 1) / 2.0, oy = (size.height - 1) / 2.0;
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) {
      const double sx = cx + (x - ox) * c + (y - oy) * s;
      const double sy = cy - (x - ox) * s + (y - oy) * c;
      const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
      const double fx = sx - x0, fy = sy - y0;
      auto at = [&](int px, int py, int ch) {
        return static_cast<double>(
            src.row(std::clamp(py, 0, src.height - 1))[std::clamp(px, 0, src.width - 1) * 4 + ch]);
      };
      for (int ch = 0; ch < 4; ++ch) {
        const double top = at(x0, y0, ch) + (at(x0 + 1, y0, ch) - at(x0, y0, ch)) * fx;
        const double bottom = at(x0, y0 + 1, ch) + (at(x0 + 1, y0 + 1, ch) - at(x0, y0 + 1, ch)) * fx;
        out.row(y)[x * 4 + ch] = byteOf(top + (bottom - top) * fy);
      }
    }
  }
  return out;
}

void refUnsharp(Image& img, int radius, double amount) {
  if (radius < 1 || amount == 0) return;
  const int W = img.width, H = img.height, n = 2 * radius + 1;
  std::vector<int> L(W * H), Hb(W * H), B(W * H);
  for (int i = 0; i < W * H; ++i) {
    const uint8_t* p = img.pixels.data() + i * 4;
    L[i] = byteOf(0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]);
  }
  for (int y = 0; y < H; ++y) {
    int sum = 0;
    for (int x = -radius; x <= radius; ++x) sum += L[y * W + std::clamp(x, 0, W - 1)];
    for (int x = 0; x < W; ++x) {
      Hb[y * W + x] = sum / n;
      sum += L[y * W + std::min(x + radius + 1, W - 1)] - L[y * W + std::max(x - radius, 0)];
    }
  }
  for (int x = 0; x < W; ++x) {
    int sum = 0;
    for (int y = -radius; y <= radius; ++y) sum += Hb[std::clamp(y, 0, H - 1) * W + x];
    for (int y = 0; y < H; ++y) {
      B[y * W + x] = sum / n;
      sum += Hb[std::min(y + radius + 1, H - 1) * W + x] - Hb[std::max(y - radius, 0) * W + x];
    }
  }
  for (int i = 0; i < W * H; ++i) {
    const double d = (L[i] - B[i]) * amount;
    if (std::fabs(d) < 0.5) continue;
    uint8_t* p = img.pixels.data() + i * 4;
    for (int ch = 0; ch < 3; ++ch) p[ch] = byteOf(p[ch] + d);
  }
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

  const Image negWidth = Image::create(-4, 3, false);
  EXPECT_EQ(negWidth.width, 0);
  EXPECT_FALSE(negWidth.valid());
  const Image noHeight = Image::create(5, 0, false);
  EXPECT_EQ(noHeight.height, 0);
  EXPECT_TRUE(noHeight.pixels.empty());
  EXPECT_TRUE(Image::create(5, -2, false).pixels.empty());
}

TEST(ImageBuffer, RoundToByteMatchesLroundAndClamp) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> dist(-300.0, 600.0);
  std::vector<double> values = {0.0,   -0.0,  0.5,   1.5,   2.5,  254.5, 255.5, -0.5, -0.49, 0.49999999999999994,
                                255.0, 256.0, 127.5, 1e9, -1e9, std::nextafter(0.5, 0.0), std::nextafter(2.5, 3.0)};
  for (int i = 0; i < 200000; ++i) values.push_back(dist(rng));
  for (int k = 0; k <= 255; ++k) {
    values.push_back(k + 0.5);
    values.push_back(std::nextafter(k + 0.5, 0.0));
    values.push_back(std::nextafter(k + 0.5, 1e9));
  }
  for (double v : values) ASSERT_EQ(media::detail::roundToByte(v), byteOf(v)) << v;
  // Where lround itself has no defined result.
  EXPECT_EQ(media::detail::roundToByte(1e300), 255);
  EXPECT_EQ(media::detail::roundToByte(-1e300), 0);
  EXPECT_EQ(media::detail::roundToByte(std::nan("")), 0);
}

TEST(ImageBuffer, BoxDividerIsExactUpToItsLargestDivisor) {
  std::vector<int> divisors = {3, 5, 7, 9, 11, 13, 15, 17, 25, 33, 63, 65, 73, 127, 129, 255, 257, 787, 1023, 1025, 4095, 4097};
  divisors.push_back(media::detail::BoxDivider::kMaxDivisor);
  for (int n : divisors) {
    const media::detail::BoxDivider divide(n);
    for (uint32_t s = 0; s <= 255u * n; ++s) ASSERT_EQ(divide(s), s / n) << s << " / " << n;
  }
}

TEST(ImageBuffer, IntegerLumaMatchesTheDoubleFormulaForEveryColour) {
  // All 16.7 million colours, 256 to a row; ties are what the row must redo.
  std::vector<uint8_t> row(256 * 4 + media::kImageTailMargin, 255);
  std::vector<uint8_t> luma(256);
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        row[b * 4] = static_cast<uint8_t>(r);
        row[b * 4 + 1] = static_cast<uint8_t>(g);
        row[b * 4 + 2] = static_cast<uint8_t>(b);
      }
      media::detail::lumaRow(row.data(), luma.data(), 256);
      for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(luma[b], byteOf(0.2126 * r + 0.7152 * g + 0.0722 * b)) << r << "," << g << "," << b;
      }
    }
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
  Image moved = land;
  const Image kept = media::resizeLongEdge(std::move(moved), 400);
  EXPECT_TRUE(sameImage(kept, land));
  EXPECT_TRUE(sameImage(media::resizeLongEdge(Image(land), 100), small));
}

// --- Cropping ------------------------------------------------------------------------

TEST(ImageCrop, CopiesTheRectangleAndClampsOrigins) {
  // 4 × 3, pixel (x, y) = 0xXY0000FF.
  std::vector<uint32_t> px;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) px.push_back((static_cast<uint32_t>(x) << 28) | (static_cast<uint32_t>(y) << 24) | 0xFF);
  const Image src = fromPixels(4, 3, px);

  const Image mid = media::cropTo(src, 1, 1, 2, 2);
  ASSERT_EQ(std::pair(mid.width, mid.height), std::pair(2, 2));
  EXPECT_EQ(pixel(mid, 0, 0), 0x110000FFu);
  EXPECT_EQ(pixel(mid, 1, 1), 0x220000FFu);
  EXPECT_TRUE(mid.hasAlpha);
  EXPECT_TRUE(hasZeroTail(mid));

  // Beyond the right edge: a one-pixel strip of the last column.
  const Image strip = media::cropTo(src, 10, 0, 3, 2);
  ASSERT_EQ(std::pair(strip.width, strip.height), std::pair(1, 2));
  EXPECT_EQ(pixel(strip, 0, 0), 0x300000FFu);
  EXPECT_EQ(pixel(strip, 0, 1), 0x310000FFu);

  // A negative origin starts at 0 without shortening the request.
  const Image corner = media::cropTo(src, -5, -1, 2, 2);
  ASSERT_EQ(std::pair(corner.width, corner.height), std::pair(2, 2));
  EXPECT_EQ(pixel(corner, 1, 1), 0x110000FFu);

  // Oversized requests stop at the edge.
  const Image tail = media::cropTo(src, 2, 1, 100, 100);
  EXPECT_EQ(std::pair(tail.width, tail.height), std::pair(2, 2));

  EXPECT_TRUE(isEmpty(media::cropTo(src, 0, 0, 0, 2)));
  EXPECT_TRUE(isEmpty(media::cropTo(src, 0, 0, 2, -1)));
  EXPECT_TRUE(isEmpty(media::cropTo(Image{}, 0, 0, 2, 2)));
}

TEST(ImageCrop, MatchesTheReferenceInPlaceOrNot) {
  unsigned seed = 20;
  for (const auto& [w, h] : kSizes) {
    const Image src = randomImage(w, h, seed++);
    const int rects[][4] = {{0, 0, w, h}, {w / 3, h / 4, w / 2 + 1, h / 2 + 1}, {w - 1, h - 1, 5, 5},
                            {-3, 2, w, 3}, {w + 4, -2, 2, h + 9}, {1, 0, w, h}};
    for (const auto& r : rects) {
      const Image want = refCrop(src, r[0], r[1], r[2], r[3]);
      EXPECT_TRUE(sameImage(media::cropTo(src, r[0], r[1], r[2], r[3]), want)) << w << "x" << h;
      const Image inPlace = media::cropTo(Image(src), r[0], r[1], r[2], r[3]);
      EXPECT_TRUE(sameImage(inPlace, want)) << w << "x" << h << " in place";
      EXPECT_TRUE(hasZeroTail(inPlace));
    }
  }
}

// --- Fitting -------------------------------------------------------------------------

TEST(ImageFit, EveryModeMatchesTheReference) {
  const std::vector<std::array<int, 4>> cases = {{301, 203, 100, 100}, {203, 301, 120, 67}, {64, 64, 30, 90},
                                                 {1, 1, 5, 3},         {9, 1, 4, 4},         {33, 17, 200, 48},
                                                 {100, 50, 40, 40},    {640, 427, 108, 135}};
  unsigned seed = 40;
  for (const auto& c : cases) {
    for (bool alpha : {false, true}) {
      const Image src = randomImage(c[0], c[1], seed++, alpha);
      for (FitMode fit : {FitMode::Cover, FitMode::Contain, FitMode::Stretch}) {
        for (PadMode pad : {PadMode::Black, PadMode::White, PadMode::Blur}) {
          const Image got = media::resizeTo(src, c[2], c[3], fit, pad);
          EXPECT_TRUE(sameImage(got, refResizeTo(src, c[2], c[3], fit, pad)))
              << c[0] << "x" << c[1] << " -> " << c[2] << "x" << c[3] << " fit " << int(fit) << " pad " << int(pad)
              << (alpha ? " alpha" : "");
          EXPECT_TRUE(hasZeroTail(got));
        }
      }
    }
  }
}

TEST(ImageFit, ContainBordersFollowThePadMode) {
  // 8 × 4 opaque red into 8 × 8: the picture occupies rows 2 … 5.
  std::vector<uint32_t> red(32, 0xFF0000FF);
  const Image opaque = fromPixels(8, 4, red, false);
  const Image black = media::resizeTo(opaque, 8, 8, FitMode::Contain, PadMode::Black);
  const Image white = media::resizeTo(opaque, 8, 8, FitMode::Contain, PadMode::White);
  for (int x = 0; x < 8; ++x) {
    for (int y : {0, 1, 6, 7}) {
      EXPECT_EQ(pixel(black, x, y), 0x000000FFu);
      EXPECT_EQ(pixel(white, x, y), 0xFFFFFFFFu);
    }
    for (int y = 2; y < 6; ++y) EXPECT_EQ(pixel(black, x, y), 0xFF0000FFu);
  }

  // With alpha the border stays transparent whatever the pad colour.
  Image translucent = opaque;
  translucent.hasAlpha = true;
  for (PadMode pad : {PadMode::Black, PadMode::White}) {
    const Image out = media::resizeTo(translucent, 8, 8, FitMode::Contain, pad);
    EXPECT_TRUE(out.hasAlpha);
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(pixel(out, x, 0), 0u);
      EXPECT_EQ(pixel(out, x, 7), 0u);
      EXPECT_EQ(pixel(out, x, 3), 0xFF0000FFu);
    }
  }
}

TEST(ImageFit, SmallBlurBorderIsOneFlatColour) {
  // Into 40 × 40 the border comes from a single averaged pixel.
  const Image src = randomImage(80, 40, 77, false);
  const Image out = media::resizeTo(src, 40, 40, FitMode::Contain, PadMode::Blur);
  ASSERT_EQ(out.width, 40);
  const uint32_t flat = pixel(out, 0, 0);
  for (int x = 0; x < 40; ++x) {
    for (int y : {0, 5, 9, 30, 35, 39}) ASSERT_EQ(pixel(out, x, y), flat) << x << "," << y;
  }
  // The picture itself is pasted unchanged: 80 × 40 fitted to 40 × 20 at row 10.
  const Image fitted = refScale(src, 40, 20);
  EXPECT_TRUE(sameImage(media::cropTo(out, 0, 10, 40, 20), fitted));
}

TEST(ImageFit, CoverFillsAndCropsCentred) {
  // A 4 × 2 image with distinct columns into 2 × 2: the middle two columns.
  std::vector<uint32_t> px;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) px.push_back(0x10000000u * static_cast<uint32_t>(x + 1) | 0xFF);
  const Image src = fromPixels(4, 2, px, false);
  const Image out = media::resizeTo(src, 2, 2, FitMode::Cover, PadMode::Black);
  ASSERT_EQ(out.width, 2);
  EXPECT_TRUE(sameImage(out, refCrop(src, 1, 0, 2, 2)));  // same size: the scaler copies
  EXPECT_EQ(pixel(out, 0, 0), 0x200000FFu);
  EXPECT_EQ(pixel(out, 1, 1), 0x300000FFu);
  EXPECT_TRUE(isEmpty(media::resizeTo(src, 0, 2, FitMode::Cover, PadMode::Black)));
  EXPECT_TRUE(isEmpty(media::resizeTo(Image{}, 2, 2, FitMode::Contain, PadMode::Blur)));
}

// --- Lossless transforms ---------------------------------------------------------------

TEST(ImageTransform, MovesPixelsAsTheTableSays) {
  // 3 × 2:  A B C
  //         D E F
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

TEST(ImageTransform, MatchesTheReferenceInPlaceOrNot) {
  unsigned seed = 60;
  std::vector<std::pair<int, int>> sizes = kSizes;
  sizes.push_back({97, 1000});  // several tiles and bands
  for (const auto& [w, h] : sizes) {
    const Image src = randomImage(w, h, seed++);
    for (TransformOp op : {TransformOp::FlipH, TransformOp::FlipV, TransformOp::RotateCW, TransformOp::Rotate180,
                           TransformOp::RotateCCW}) {
      const Image want = refTransform(src, op);
      EXPECT_TRUE(sameImage(media::transform(src, op), want)) << w << "x" << h << " op " << int(op);
      const Image moved = media::transform(Image(src), op);
      EXPECT_TRUE(sameImage(moved, want)) << w << "x" << h << " op " << int(op) << " in place";
      EXPECT_TRUE(hasZeroTail(moved));
    }
  }
}

TEST(ImageTransform, TurnsAndFlipsUndoThemselves) {
  const Image src = randomImage(37, 23, 61);
  Image img = src;
  for (int i = 0; i < 4; ++i) img = media::transform(img, TransformOp::RotateCW);
  EXPECT_TRUE(sameImage(img, src));
  for (int i = 0; i < 4; ++i) img = media::transform(std::move(img), TransformOp::RotateCCW);
  EXPECT_TRUE(sameImage(img, src));
  EXPECT_TRUE(sameImage(media::transform(media::transform(src, TransformOp::FlipH), TransformOp::FlipH), src));
  EXPECT_TRUE(sameImage(media::transform(media::transform(src, TransformOp::FlipV), TransformOp::FlipV), src));
  EXPECT_TRUE(sameImage(media::rotate(media::rotate(src, 90), -90), src));
  EXPECT_TRUE(sameImage(media::transform(media::transform(src, TransformOp::FlipH), TransformOp::FlipV),
                        media::transform(src, TransformOp::Rotate180)));
}

// --- Free rotation ---------------------------------------------------------------------

TEST(ImageRotate, InsideCropFollowsTheGeometry) {
  // w, h, degrees → inside w, h. 45°: side / √2; a thin line touches the
  // long sides only; nothing is below 1 × 1; no size or angle: nothing.
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
  // 3 × 3 with R = 10x + 50y, G = 200 − 30x, B = 7y + 20xy, opaque; by 30°
  // the inner crop is 2 × 2 and output (0, 0) samples (0.317, 0.817).
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

TEST(ImageRotate, MatchesTheReferenceForManyAngles) {
  unsigned seed = 80;
  for (const auto& [w, h] : kSizes) {
    const Image src = randomImage(w, h, seed++);
    for (double a : {12.5, -7.25, 30.0, 45.0, 60.0, 89.99, 135.0, -170.0, 200.0, 0.3, 1e-10, 360.0, -90.0, 270.0}) {
      const Image got = media::rotate(src, a);
      EXPECT_TRUE(sameImage(got, refRotate(src, a))) << w << "x" << h << " by " << a;
      EXPECT_TRUE(hasZeroTail(got));
    }
  }
}

TEST(ImageRotate, ShortcutsCopyOrTurn) {
  const Image src = randomImage(31, 17, 90);
  for (double a : {360.0, -360.0, 720.0, 0.0, 1e-12}) EXPECT_TRUE(sameImage(media::rotate(src, a), src)) << a;
  for (auto [a, op] : {std::pair{270.0, TransformOp::RotateCCW}, {-270.0, TransformOp::RotateCW},
                       {180.0, TransformOp::Rotate180}, {-180.0, TransformOp::Rotate180}, {540.0, TransformOp::Rotate180}})
    EXPECT_TRUE(sameImage(media::rotate(Image(src), a), media::transform(src, op))) << a;
  EXPECT_TRUE(sameImage(media::rotate(Image(src), 12.5), media::rotate(src, 12.5)));

  const Image square = randomImage(100, 100, 91);
  const Image diamond = media::rotate(square, 45);
  EXPECT_EQ(diamond.width, std::lround(100 / std::sqrt(2.0)));
  EXPECT_EQ(diamond.height, diamond.width);

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

// The colour step is per pixel: whole images, whatever their size and band
// split, come out as each pixel does alone.
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

// Clarity and sharpness sharpen the luma with a radius from the long side:
// 900 wide gives 5 (0.6 %) and 1 (0.12 %), worked out by hand.
TEST(ImageAdjust, ClarityAndSharpnessUseTheirRadius) {
  const Image src = photoLike(900, 31);
  for (const auto& [a, radius, amount] : {std::tuple{Adjust{0, 0, 0, 0, 50, 0}, 5, 0.9 * 50 / 100},
                                          std::tuple{Adjust{0, 0, 0, 0, 0, 80}, 1, 1.2 * 80 / 100},
                                          std::tuple{Adjust{0, 0, 0, 0, -60, 0}, 5, 0.9 * -60 / 100}}) {
    Image got = src;
    media::applyAdjust(got, a);
    Image want = src;
    media::unsharpLuma(want, radius, amount);
    EXPECT_TRUE(sameImage(got, want)) << radius << " " << amount;
  }
}

TEST(ImageAdjust, UnsharpMatchesTheReferenceForAnyRadius) {
  unsigned seed = 120;
  for (const auto& [w, h] : kSizes) {
    const Image src = randomImage(w, h, seed++);
    // 4096 takes the plain-division path (window beyond the fast divider).
    for (int radius : {1, 2, 3, 7, 40, 500, 4096}) {
      for (double amount : {0.35, -0.8, 1.2}) {
        Image got = src;
        media::unsharpLuma(got, radius, amount);
        Image want = src;
        refUnsharp(want, radius, amount);
        EXPECT_TRUE(sameImage(got, want)) << w << "x" << h << " r" << radius << " a" << amount;
      }
    }
  }
}

TEST(ImageAdjust, NeutralSettingsAndEmptyImagesChangeNothing) {
  const Image src = randomImage(57, 43, 130);
  Image img = src;
  media::applyAdjust(img, Adjust{});
  EXPECT_EQ(img.pixels, src.pixels);  // every byte, the tail included
  media::unsharpLuma(img, 0, 1.0);
  media::unsharpLuma(img, 3, 0.0);
  EXPECT_EQ(img.pixels, src.pixels);

  // Only sharpness: the colour step is skipped, so a flat image stays as is.
  Image flat = Image::create(20, 20, false);
  for (size_t i = 0; i < 20 * 20 * 4; ++i) flat.pixels[i] = static_cast<uint8_t>(i % 4 == 3 ? 255 : 93);
  const Image flatCopy = flat;
  media::applyAdjust(flat, Adjust{0, 0, 0, 0, 0, 100});
  EXPECT_EQ(flat.pixels, flatCopy.pixels);

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
  // Grey row 10, 11, 10 (radius 1): luma 10, 11, 10, blur 10, 10, 10, so the
  // middle pixel's difference is 1. Just under 0.5 it must stay 11, although
  // 11 + 0.49999999999999994 rounds to 11.5 in doubles and lround gives 12.
  auto row = [] {
    Image img = Image::create(3, 1, true);
    const uint8_t levels[3] = {10, 11, 10};
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = img.row(0) + x * 4;
      p[0] = p[1] = p[2] = levels[x];
      p[3] = 200;
    }
    return img;
  };
  Image below = row();
  const Image before = below;
  media::unsharpLuma(below, 1, std::nextafter(0.5, 0.0));
  EXPECT_EQ(below.pixels, before.pixels);

  Image half = row();
  media::unsharpLuma(half, 1, 0.5);
  EXPECT_EQ(half.row(0)[4], 12);
  EXPECT_EQ(half.row(0)[5], 12);
  EXPECT_EQ(half.row(0)[7], 200);  // alpha untouched
  EXPECT_EQ(half.row(0)[0], 10);
}

}  // namespace
