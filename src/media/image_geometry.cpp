// Flips, quarter turns and free rotation.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>
#include <vector>


#include "media/image.h"
#include "media/image_internal.h"
#include "media/parallel.h"

namespace media {

using detail::load32;
using detail::store32;
using detail::usable;

// --- Lossless transforms ------------------------------------------------------

namespace {

// Quarter turns read the source across rows; square tiles of this many
// pixels keep the rows being read in L1 (32 rows × 128 bytes).
constexpr int kTile = 32;

bool isQuarterTurn(TransformOp op) { return op == TransformOp::RotateCW || op == TransformOp::RotateCCW; }

bool isKnown(TransformOp op) {
  return op == TransformOp::FlipH || op == TransformOp::FlipV || op == TransformOp::RotateCW ||
         op == TransformOp::Rotate180 || op == TransformOp::RotateCCW;
}

void reversedRow(const uint8_t* from, uint8_t* to, int width) {
  for (int x = 0; x < width; ++x) {
    store32(to + static_cast<size_t>(x) * 4, load32(from + static_cast<size_t>(width - 1 - x) * 4));
  }
}

// Output rows [y0, y1) of a quarter turn. Clockwise, output (ox, oy) comes
// from source (oy, H−1−ox); counter-clockwise from (W−1−oy, ox).
void turnRows(const Image& src, Image& dst, bool clockwise, int y0, int y1) {
  const int ow = dst.width;
  for (int by = y0; by < y1; by += kTile) {
    const int ey = std::min(y1, by + kTile);
    for (int bx = 0; bx < ow; bx += kTile) {
      const int ex = std::min(ow, bx + kTile);
      for (int oy = by; oy < ey; ++oy) {
        uint8_t* out = dst.row(oy);
        if (clockwise) {
          const size_t column = static_cast<size_t>(oy) * 4;
          for (int ox = bx; ox < ex; ++ox) {
            store32(out + static_cast<size_t>(ox) * 4, load32(src.row(src.height - 1 - ox) + column));
          }
        } else {
          const size_t column = static_cast<size_t>(src.width - 1 - oy) * 4;
          for (int ox = bx; ox < ex; ++ox) {
            store32(out + static_cast<size_t>(ox) * 4, load32(src.row(ox) + column));
          }
        }
      }
    }
  }
}

void transformRows(const Image& src, Image& dst, TransformOp op, int y0, int y1) {
  const size_t rowBytes = static_cast<size_t>(src.width) * 4;
  switch (op) {
    case TransformOp::FlipH:
      for (int y = y0; y < y1; ++y) reversedRow(src.row(y), dst.row(y), src.width);
      break;
    case TransformOp::FlipV:
      for (int y = y0; y < y1; ++y) std::memcpy(dst.row(y), src.row(src.height - 1 - y), rowBytes);
      break;
    case TransformOp::Rotate180:
      for (int y = y0; y < y1; ++y) reversedRow(src.row(src.height - 1 - y), dst.row(y), src.width);
      break;
    case TransformOp::RotateCW:
    case TransformOp::RotateCCW:
      turnRows(src, dst, op == TransformOp::RotateCW, y0, y1);
      break;
  }
}

void reverseInPlace(uint8_t* row, int width) {
  for (int a = 0, b = width - 1; a < b; ++a, --b) {
    uint8_t* pa = row + static_cast<size_t>(a) * 4;
    uint8_t* pb = row + static_cast<size_t>(b) * 4;
    const uint32_t va = load32(pa);
    store32(pa, load32(pb));
    store32(pb, va);
  }
}

// Flips and the half turn in place; rows pair up (y with H−1−y), so bands
// over the upper half touch disjoint rows.
void transformInPlace(Image& img, TransformOp op) {
  const int w = img.width, h = img.height;
  const size_t rowBytes = static_cast<size_t>(w) * 4;
  if (op == TransformOp::FlipH) {
    parallelFor(h, bandRows(h, w), [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) reverseInPlace(img.row(y), w);
    });
    return;
  }
  const int pairs = (h + 1) / 2;
  parallelFor(pairs, bandRows(pairs, 2LL * w), [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      uint8_t* top = img.row(y);
      uint8_t* bottom = img.row(h - 1 - y);
      if (op == TransformOp::FlipV) {
        if (top != bottom) std::swap_ranges(top, top + rowBytes, bottom);
      } else if (top == bottom) {
        reverseInPlace(top, w);
      } else {
        for (int x = 0; x < w; ++x) {
          uint8_t* pa = top + static_cast<size_t>(x) * 4;
          uint8_t* pb = bottom + static_cast<size_t>(w - 1 - x) * 4;
          const uint32_t va = load32(pa);
          store32(pa, load32(pb));
          store32(pb, va);
        }
      }
    }
  });
}

}  // namespace

Image transform(const Image& src, TransformOp op) {
  if (!usable(src)) return Image{};
  if (!isKnown(op)) return detail::duplicate(src);
  const bool turns = isQuarterTurn(op);
  Image dst = Image::create(turns ? src.height : src.width, turns ? src.width : src.height, src.hasAlpha);
  if (!dst.valid()) return Image{};
  // Bands of whole tiles, so no tile is split between two threads.
  const int rows = turns ? (bandRows(dst.height, dst.width) + kTile - 1) / kTile * kTile : bandRows(dst.height, dst.width);
  parallelFor(dst.height, rows, [&](int y0, int y1) { transformRows(src, dst, op, y0, y1); });
  return dst;
}

Image transform(Image&& src, TransformOp op) {
  if (!usable(src)) return Image{};
  if (!isKnown(op)) return std::move(src);
  if (isQuarterTurn(op)) return transform(static_cast<const Image&>(src), op);
  transformInPlace(src, op);
  return std::move(src);
}

// --- Free rotation ----------------------------------------------------------------

namespace {

// Folds an angle into (−180, 180].
double normalisedAngle(double degrees) {
  double a = std::fmod(degrees, 360.0);
  if (a > 180) a -= 360;
  if (a < -180) a += 360;
  return a;
}

enum class Shortcut { None, Copy, Half, Clockwise, CounterClockwise };

Shortcut shortcutFor(double a) {
  constexpr double kTolerance = 1e-9;
  if (std::fabs(a) < kTolerance) return Shortcut::Copy;
  if (std::fabs(std::fabs(a) - 180) < kTolerance) return Shortcut::Half;
  if (std::fabs(a - 90) < kTolerance) return Shortcut::Clockwise;
  if (std::fabs(a + 90) < kTolerance) return Shortcut::CounterClockwise;
  return Shortcut::None;
}

TransformOp shortcutOp(Shortcut s) {
  switch (s) {
    case Shortcut::Clockwise:
      return TransformOp::RotateCW;
    case Shortcut::CounterClockwise:
      return TransformOp::RotateCCW;
    default:
      return TransformOp::Rotate180;
  }
}

// The sampling position of output pixel (x, y) is
//   sx = cx + (x − ox)·c + (y − oy)·s,   sy = cy − (x − ox)·s + (y − oy)·c,
// evaluated left to right. The first two terms depend on x only and the last
// on y only, so they are tabulated per column and per row and added: the same
// additions in the same order, hence the same bits, as the full expression.
struct Sampling {
  std::vector<double> colX, colY;  // cx + (x − ox)·c,  cy − (x − ox)·s
  double ox = 0, oy = 0, c = 0, s = 0;
};

// One output row: bilinear sampling of all four channels with neighbours
// clamped to the image, rounded like lround and clamped to 0 … 255.
void rotateRow(const Image& src, const Sampling& m, int y, uint8_t* out, int ow) {
  const double rowX = (y - m.oy) * m.s;
  const double rowY = (y - m.oy) * m.c;
  const int maxX = src.width - 1;
  const int maxY = src.height - 1;
  const uint8_t* base = src.pixels.data();
  const size_t stride = static_cast<size_t>(src.width) * 4;
  for (int x = 0; x < ow; ++x) {
    const double sx = m.colX[x] + rowX;
    const double sy = m.colY[x] + rowY;
    // floor() without a library call: truncate, then step down for negatives.
    int x0 = static_cast<int>(sx);
    int y0 = static_cast<int>(sy);
    x0 -= sx < x0 ? 1 : 0;
    y0 -= sy < y0 ? 1 : 0;
    const double fx = sx - x0;
    const double fy = sy - y0;
    const size_t xa = static_cast<size_t>(std::clamp(x0, 0, maxX)) * 4;
    const size_t xb = static_cast<size_t>(std::clamp(x0 + 1, 0, maxX)) * 4;
    const uint8_t* rowA = base + static_cast<size_t>(std::clamp(y0, 0, maxY)) * stride;
    const uint8_t* rowB = base + static_cast<size_t>(std::clamp(y0 + 1, 0, maxY)) * stride;
    const uint8_t* p00 = rowA + xa;
    const uint8_t* p10 = rowA + xb;
    const uint8_t* p01 = rowB + xa;
    const uint8_t* p11 = rowB + xb;
    uint8_t* o = out + static_cast<size_t>(x) * 4;
    for (int ch = 0; ch < 4; ++ch) {
      const double a = p00[ch], b = p10[ch], c = p01[ch], d = p11[ch];
      const double top = a + (b - a) * fx;
      const double bottom = c + (d - c) * fx;
      o[ch] = detail::roundToByte(top + (bottom - top) * fy);
    }
  }
}

#ifdef KORVELLE_HAVE_AVX2_PATHS
// The same row with the four channels of a pixel in one vector of doubles:
// the same operations in the same order as rotateRow, lane by lane, so the
// same bits.
__attribute__((target("avx2"))) void rotateRowAvx2(const Image& src, const Sampling& m, int y, uint8_t* out,
                                                   int ow) {
  const double rowX = (y - m.oy) * m.s;
  const double rowY = (y - m.oy) * m.c;
  const int maxX = src.width - 1;
  const int maxY = src.height - 1;
  const uint8_t* base = src.pixels.data();
  const size_t stride = static_cast<size_t>(src.width) * 4;
  for (int x = 0; x < ow; ++x) {
    const double sx = m.colX[x] + rowX;
    const double sy = m.colY[x] + rowY;
    int x0 = static_cast<int>(sx);
    int y0 = static_cast<int>(sy);
    x0 -= sx < x0 ? 1 : 0;
    y0 -= sy < y0 ? 1 : 0;
    const __m256d fx = _mm256_set1_pd(sx - x0);
    const __m256d fy = _mm256_set1_pd(sy - y0);
    const size_t xa = static_cast<size_t>(std::clamp(x0, 0, maxX)) * 4;
    const size_t xb = static_cast<size_t>(std::clamp(x0 + 1, 0, maxX)) * 4;
    const uint8_t* rowA = base + static_cast<size_t>(std::clamp(y0, 0, maxY)) * stride;
    const uint8_t* rowB = base + static_cast<size_t>(std::clamp(y0 + 1, 0, maxY)) * stride;
    const __m256d a = detail::pixelLanes(rowA + xa), b = detail::pixelLanes(rowA + xb);
    const __m256d c = detail::pixelLanes(rowB + xa), d = detail::pixelLanes(rowB + xb);
    const __m256d top = _mm256_add_pd(a, _mm256_mul_pd(_mm256_sub_pd(b, a), fx));
    const __m256d bottom = _mm256_add_pd(c, _mm256_mul_pd(_mm256_sub_pd(d, c), fx));
    const __m256d v = _mm256_add_pd(top, _mm256_mul_pd(_mm256_sub_pd(bottom, top), fy));
    store32(out + static_cast<size_t>(x) * 4, detail::roundToBytes(v));
  }
}

#endif

Image rotateFree(const Image& src, double a) {
  const Size size = insideCrop(src.width, src.height, a);
  Image dst = Image::create(size.width, size.height, src.hasAlpha);
  if (!dst.valid()) return Image{};
  const double rad = a * std::numbers::pi / 180;
  Sampling m;
  m.c = std::cos(rad);
  m.s = std::sin(rad);
  m.ox = (size.width - 1) / 2.0;
  m.oy = (size.height - 1) / 2.0;
  const double cx = (src.width - 1) / 2.0;
  const double cy = (src.height - 1) / 2.0;
  m.colX.resize(static_cast<size_t>(size.width));
  m.colY.resize(static_cast<size_t>(size.width));
  for (int x = 0; x < size.width; ++x) {
    m.colX[x] = cx + (x - m.ox) * m.c;
    m.colY[x] = cy - (x - m.ox) * m.s;
  }
  // Sampling costs a few dozen operations per pixel.
  constexpr long long kPixelCost = 32;
  parallelFor(dst.height, bandRows(dst.height, kPixelCost * dst.width), [&](int y0, int y1) {
#ifdef KORVELLE_HAVE_AVX2_PATHS
    if (detail::haveAvx2()) {
      for (int y = y0; y < y1; ++y) rotateRowAvx2(src, m, y, dst.row(y), dst.width);
      return;
    }
#endif
    for (int y = y0; y < y1; ++y) rotateRow(src, m, y, dst.row(y), dst.width);
  });
  return dst;
}

}  // namespace

Image rotate(const Image& src, double degrees) {
  if (!usable(src) || !std::isfinite(degrees)) return Image{};
  const double a = normalisedAngle(degrees);
  const Shortcut shortcut = shortcutFor(a);
  if (shortcut == Shortcut::Copy) return detail::duplicate(src);
  if (shortcut != Shortcut::None) return transform(src, shortcutOp(shortcut));
  return rotateFree(src, a);
}

Image rotate(Image&& src, double degrees) {
  if (!usable(src) || !std::isfinite(degrees)) return Image{};
  const double a = normalisedAngle(degrees);
  const Shortcut shortcut = shortcutFor(a);
  if (shortcut == Shortcut::Copy) return std::move(src);
  if (shortcut != Shortcut::None) return transform(std::move(src), shortcutOp(shortcut));
  return rotateFree(src, a);
}

namespace {

int cropSide(double v) {
  // Far beyond any image; keeps the conversion defined.
  constexpr double kLargest = 1 << 30;
  return static_cast<int>(std::max(1L, std::lround(std::min(v, kLargest))));
}

}  // namespace

Size insideCrop(int w, int h, double degrees) {
  if (w < 1 || h < 1 || !std::isfinite(degrees)) return {0, 0};
  const double rad = degrees * std::numbers::pi / 180;
  const double sa = std::fabs(std::sin(rad));
  const double ca = std::fabs(std::cos(rad));
  const double longSide = std::max(w, h);
  const double shortSide = std::min(w, h);
  double rw = 0, rh = 0;
  if (shortSide <= 2 * sa * ca * longSide || std::fabs(sa - ca) < 1e-10) {
    // The crop touches the long sides only (or it is the 45° square case).
    const double x = shortSide / 2;
    if (w >= h) {
      rw = x / sa;
      rh = x / ca;
    } else {
      rw = x / ca;
      rh = x / sa;
    }
  } else {
    const double cos2a = ca * ca - sa * sa;
    rw = (w * ca - h * sa) / cos2a;
    rh = (h * ca - w * sa) / cos2a;
  }
  return {cropSide(rw), cropSide(rh)};
}

}  // namespace media
