// Colour adjustments and the luminance unsharp mask.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "media/image.h"
#include "media/image_internal.h"
#include "media/parallel.h"

namespace media {

using detail::roundToByte;
using detail::usable;

namespace {

// --- Colour step -------------------------------------------------------------------

// The colour step's constants: a saturation matrix around Rec. 709 luma, then
// contrast around mid-grey with the brightness offset, then warmth as red
// and blue multipliers.
struct ColourMatrix {
  double rr, rg, rb;  // R₁ = rr·R + rg·G + rb·B
  double gr, gg, gb;
  double br, bg, bb;
  double k;           // contrast factor K
  double offset;      // 255·O
  double mr, mb;      // warmth multipliers

  explicit ColourMatrix(const Adjust& a) {
    k = 1 + (a.contrast / 100) * 0.8;
    const double s = 1 + a.saturation / 100;
    const double t = 1 - s;
    const double w = (a.warmth / 100) * 0.15;
    mr = 1 + w;
    mb = 1 - w;
    offset = 255 * ((1 - k) * 0.5 + (a.brightness / 100) * 0.25);
    rr = s + 0.2126 * t, rg = 0.7152 * t, rb = 0.0722 * t;
    gr = 0.2126 * t, gg = s + 0.7152 * t, gb = 0.0722 * t;
    br = 0.2126 * t, bg = 0.7152 * t, bb = s + 0.0722 * t;
  }

  // Without saturation the matrix is the identity (its off-diagonal terms
  // are +0 and add nothing), so each channel depends on itself only.
  bool separable() const { return rg == 0 && rb == 0 && gr == 0 && gb == 0 && br == 0 && bg == 0; }

  void apply(uint8_t* p) const {
    const double r = p[0], g = p[1], b = p[2];
    const double r1 = rr * r + rg * g + rb * b;
    const double g1 = gr * r + gg * g + gb * b;
    const double b1 = br * r + bg * g + bb * b;
    p[0] = roundToByte(mr * (k * r1 + offset));
    p[1] = roundToByte(k * g1 + offset);
    p[2] = roundToByte(mb * (k * b1 + offset));
  }
};

#ifdef KORVELLE_HAVE_AVX2_PATHS
// ColourMatrix::apply with the three output channels in the lanes of one
// vector: lane by lane the same products, sums and order, so the same bits.
// Alpha is kept as it was.
__attribute__((target("avx2"))) void colourRowAvx2(const ColourMatrix& m, uint8_t* p, int w) {
  const __m256d colR = _mm256_setr_pd(m.rr, m.gr, m.br, 0);
  const __m256d colG = _mm256_setr_pd(m.rg, m.gg, m.bg, 0);
  const __m256d colB = _mm256_setr_pd(m.rb, m.gb, m.bb, 0);
  const __m256d k = _mm256_set1_pd(m.k);
  const __m256d offset = _mm256_set1_pd(m.offset);
  const __m256d warmth = _mm256_setr_pd(m.mr, 1, m.mb, 1);  // ×1 is exact
  for (int x = 0; x < w; ++x, p += 4) {
    const __m256d r = _mm256_set1_pd(p[0]), g = _mm256_set1_pd(p[1]), b = _mm256_set1_pd(p[2]);
    __m256d v = _mm256_add_pd(_mm256_mul_pd(colR, r), _mm256_mul_pd(colG, g));
    v = _mm256_add_pd(v, _mm256_mul_pd(colB, b));
    v = _mm256_mul_pd(warmth, _mm256_add_pd(_mm256_mul_pd(k, v), offset));
    const uint32_t alpha = detail::load32(p) & 0xFF000000u;
    detail::store32(p, (detail::roundToBytes(v) & 0x00FFFFFFu) | alpha);
  }
}
#endif

void colourStep(Image& img, const ColourMatrix& m) {
  const int w = img.width;
  if (m.separable()) {
    // One table per channel, filled by the same per-pixel code with the other
    // channels at zero (which the identity matrix ignores).
    uint8_t table[3][256];
    for (int v = 0; v < 256; ++v) {
      for (int ch = 0; ch < 3; ++ch) {
        uint8_t p[4] = {0, 0, 0, 0};
        p[ch] = static_cast<uint8_t>(v);
        m.apply(p);
        table[ch][v] = p[ch];
      }
    }
    parallelFor(img.height, bandRows(img.height, w), [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) {
        uint8_t* p = img.row(y);
        for (int x = 0; x < w; ++x, p += 4) {
          p[0] = table[0][p[0]];
          p[1] = table[1][p[1]];
          p[2] = table[2][p[2]];
        }
      }
    });
    return;
  }
  constexpr long long kPixelCost = 24;
  parallelFor(img.height, bandRows(img.height, kPixelCost * w), [&](int y0, int y1) {
#ifdef KORVELLE_HAVE_AVX2_PATHS
    if (detail::haveAvx2()) {
      for (int y = y0; y < y1; ++y) colourRowAvx2(m, img.row(y), w);
      return;
    }
#endif
    for (int y = y0; y < y1; ++y) {
      uint8_t* p = img.row(y);
      for (int x = 0; x < w; ++x, p += 4) m.apply(p);
    }
  });
}

// --- Unsharp mask ------------------------------------------------------------------

uint8_t luma(const uint8_t* p) { return roundToByte(0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]); }

// What sharpening does to one channel value for each luma difference
// L − B (−255 … 255): lround(value + d) clamped, or the value itself when
// |d| < 0.5. 511 × 256 bytes, built once per call.
std::vector<uint8_t> sharpenTable(double amount) {
  std::vector<uint8_t> table(511 * 256);
  for (int diff = -255; diff <= 255; ++diff) {
    const double d = diff * amount;
    uint8_t* row = table.data() + (diff + 255) * 256;
    const bool unchanged = std::fabs(d) < 0.5;
    for (int v = 0; v < 256; ++v) row[v] = unchanged ? static_cast<uint8_t>(v) : roundToByte(v + d);
  }
  return table;
}

// How many window positions j in [a, b] land on index i once clamped to
// [0, n − 1]: the end indices take everything beyond them.
uint32_t windowCount(int i, int a, int b, int n) {
  const int from = std::max(i == 0 ? a : i, a);
  const int to = std::min(i == n - 1 ? b : i, b);
  return static_cast<uint32_t>(std::max(0, to - from + 1));
}

// The box blur: sums over a window of n = 2·radius + 1 with indices clamped
// to the image, divided by n (truncating). Sums are exact integers, so any
// split into bands gives the same result.
template <class Divide>
class BoxBlur {
 public:
  BoxBlur(Image& img, const uint8_t* luma, int radius, Divide divide)
      : img_(img), luma_(luma), radius_(radius), divide_(divide) {}

  // Horizontal pass of one luma row. The window sums come from prefix sums
  // (prefix holds width + 1 entries): the same integers as sliding the
  // window, but the inner part is one subtraction per pixel with no
  // dependency between pixels, which vectorises. Near the ends the clamped
  // indices repeat the end pixel.
  void horizontal(int y, uint8_t* out, uint32_t* prefix) const {
    const int w = img_.width;
    const int r = radius_;
    const uint8_t* in = luma_ + static_cast<size_t>(y) * w;
    prefix[0] = 0;
    for (int i = 0; i < w; ++i) prefix[i + 1] = prefix[i] + in[i];
    auto clampedSum = [&](int x) {
      const int lo = x - r, hi = x + r;
      const uint32_t before = static_cast<uint32_t>(std::max(0, -lo));
      const uint32_t after = static_cast<uint32_t>(std::max(0, hi - (w - 1)));
      const int a = std::max(lo, 0), b = std::min(hi, w - 1);
      return before * in[0] + after * in[w - 1] + (prefix[b + 1] - prefix[a]);
    };
    // Pixels whose window lies inside the row: [r, w − 1 − r].
    const int innerBegin = std::min(r, w);
    const int innerEnd = std::max(innerBegin, w - r);
    for (int x = 0; x < innerBegin; ++x) out[x] = static_cast<uint8_t>(divide_(clampedSum(x)));
    for (int x = innerBegin; x < innerEnd; ++x) {
      out[x] = static_cast<uint8_t>(divide_(prefix[x + r + 1] - prefix[x - r]));
    }
    for (int x = innerEnd; x < w; ++x) out[x] = static_cast<uint8_t>(divide_(clampedSum(x)));
  }

  // Vertical pass and sharpening for rows [y0, y1). The window's horizontal
  // rows live in a ring indexed by image row: the window never spans more
  // than `cap` distinct rows, so a slot is reused only after its row left.
  void sharpenRows(int y0, int y1, const uint8_t* table) const {
    const int w = img_.width;
    const int h = img_.height;
    const int r = radius_;
    const int cap = std::min(2 * r + 1, h);
    std::vector<uint8_t> ring(static_cast<size_t>(cap) * w);
    std::vector<uint32_t> column(static_cast<size_t>(w), 0);
    std::vector<uint8_t> blurred(static_cast<size_t>(w));
    std::vector<uint32_t> prefix(static_cast<size_t>(w) + 1);
    auto slot = [&](int row) { return ring.data() + static_cast<size_t>(row % cap) * w; };
    auto clampRow = [&](int row) { return std::clamp(row, 0, h - 1); };

    int newest = clampRow(y0 - r) - 1;  // last image row held in the ring
    auto ensure = [&](int row) {
      while (newest < row) {
        ++newest;
        horizontal(newest, slot(newest), prefix.data());
      }
    };
    for (int row = clampRow(y0 - r); row <= clampRow(y0 + r); ++row) {
      ensure(row);
      const uint32_t times = windowCount(row, y0 - r, y0 + r, h);
      const uint8_t* hr = slot(row);
      for (int x = 0; x < w; ++x) column[x] += times * hr[x];
    }
    for (int y = y0; y < y1; ++y) {
      for (int x = 0; x < w; ++x) blurred[x] = static_cast<uint8_t>(divide_(column[x]));
      applyRow(y, blurred.data(), table);
      if (y + 1 == y1) break;
      const uint8_t* leaving = slot(clampRow(y - r));
      for (int x = 0; x < w; ++x) column[x] -= leaving[x];
      const int entering = clampRow(y + r + 1);
      ensure(entering);
      const uint8_t* hr = slot(entering);
      for (int x = 0; x < w; ++x) column[x] += hr[x];
    }
  }

 private:
  void applyRow(int y, const uint8_t* blurred, const uint8_t* table) const {
    const int w = img_.width;
    const uint8_t* l = luma_ + static_cast<size_t>(y) * w;
    uint8_t* p = img_.row(y);
    for (int x = 0; x < w; ++x, p += 4) {
      const uint8_t* t = table + (l[x] - blurred[x] + 255) * 256;
      p[0] = t[p[0]];
      p[1] = t[p[1]];
      p[2] = t[p[2]];
    }
  }

  Image& img_;
  const uint8_t* luma_;
  int radius_;
  Divide divide_;
};

struct PlainDivider {
  uint32_t n;
  uint32_t operator()(uint32_t s) const { return s / n; }
};

template <class Divide>
void sharpenBands(Image& img, const uint8_t* lumaPlane, int radius, Divide divide, const uint8_t* table) {
  const BoxBlur<Divide> blur(img, lumaPlane, radius, divide);
  // A band first fills its window (2·radius + 1 horizontal rows), so bands
  // are kept several windows tall.
  const int minRows = 4 * (2 * radius + 1);
  const int rows = std::max(bandRows(img.height, 16LL * img.width), std::min(img.height, minRows));
  parallelFor(img.height, rows, [&](int y0, int y1) { blur.sharpenRows(y0, y1, table); });
}

}  // namespace

namespace detail {

void lumaRow(const uint8_t* rgba, uint8_t* out, int width) {
  // Chunks small enough to redo cheaply when one holds a tie.
  constexpr int kChunk = 64;
  for (int x0 = 0; x0 < width; x0 += kChunk) {
    const int n = std::min(kChunk, width - x0);
    const uint8_t* p = rgba + static_cast<size_t>(x0) * 4;
    uint8_t* l = out + x0;
    int tie = 0;  // an int: a bool reduction keeps GCC from vectorising
    for (int i = 0; i < n; ++i) {
      const int scaled = 2126 * p[4 * i] + 7152 * p[4 * i + 1] + 722 * p[4 * i + 2] + 5000;
      const float t = (static_cast<float>(scaled) + 0.5f) * 1e-4f;
      const int q = static_cast<int>(t);
      l[i] = static_cast<uint8_t>(q);
      tie |= t - static_cast<float>(q) < 1e-4f ? 1 : 0;
    }
    if (tie) {
      for (int i = 0; i < n; ++i) l[i] = luma(p + static_cast<size_t>(i) * 4);
    }
  }
}

}  // namespace detail

void unsharpLuma(Image& img, int radius, double amount) {
  if (!usable(img) || radius < 1 || amount == 0 || !std::isfinite(amount)) return;
  const int w = img.width;
  const int h = img.height;
  std::vector<uint8_t> plane;
  if (!detail::allocateZeroed(plane, static_cast<size_t>(w) * h)) return;
  parallelFor(h, bandRows(h, 4LL * w), [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) detail::lumaRow(img.row(y), plane.data() + static_cast<size_t>(y) * w, w);
  });
  const std::vector<uint8_t> table = sharpenTable(amount);
  const long long n = 2LL * radius + 1;
  if (n <= detail::BoxDivider::kMaxDivisor) {
    sharpenBands(img, plane.data(), radius, detail::BoxDivider(static_cast<int>(n)), table.data());
  } else {
    // Radii this large only come from direct calls; sums still fit 32 bits
    // while 255·n does.
    if (n > (1LL << 24)) return;
    sharpenBands(img, plane.data(), radius, PlainDivider{static_cast<uint32_t>(n)}, table.data());
  }
}

void applyAdjust(Image& img, const Adjust& sliders) {
  if (!usable(img)) return;
  // A slider value that is not a number (a damaged setting) means no change.
  auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
  const Adjust a{finite(sliders.brightness), finite(sliders.contrast), finite(sliders.saturation),
                 finite(sliders.warmth),     finite(sliders.clarity),  finite(sliders.sharpness)};
  const bool colour = a.brightness != 0 || a.contrast != 0 || a.saturation != 0 || a.warmth != 0;
  if (colour) colourStep(img, ColourMatrix(a));
  const int longSide = std::max(img.width, img.height);
  if (a.clarity != 0) {
    const long radius = std::max(1L, std::lround(longSide * 0.006));
    unsharpLuma(img, static_cast<int>(radius), 0.9 * a.clarity / 100);
  }
  if (a.sharpness != 0) {
    const long radius = std::max(1L, std::lround(longSide * 0.0012));
    unsharpLuma(img, static_cast<int>(radius), 1.2 * a.sharpness / 100);
  }
}

}  // namespace media
