// Colour adjustments and the luminance unsharp mask.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
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
// roundToByte on four lanes, as 32-bit integers: max and min pick the
// constant exactly where its comparisons do, then truncate and add one from a
// half upwards.
__attribute__((target("avx2"))) inline __m128i roundLanes(__m256d v) {
  v = _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
  const __m256d t = _mm256_round_pd(v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
  const __m256d up =
      _mm256_and_pd(_mm256_cmp_pd(_mm256_sub_pd(v, t), _mm256_set1_pd(0.5), _CMP_GE_OQ), _mm256_set1_pd(1.0));
  return _mm256_cvttpd_epi32(_mm256_add_pd(t, up));
}

// ColourMatrix::apply on four pixels at a time, one pixel per lane: lane by
// lane the same products, sums and order, so the same bits (the target has
// no fused multiply-add). Alpha is kept as it was.
__attribute__((target("avx2"))) void colourRowAvx2(const ColourMatrix& m, uint8_t* p, int w) {
  const __m256d rr = _mm256_set1_pd(m.rr), rg = _mm256_set1_pd(m.rg), rb = _mm256_set1_pd(m.rb);
  const __m256d gr = _mm256_set1_pd(m.gr), gg = _mm256_set1_pd(m.gg), gb = _mm256_set1_pd(m.gb);
  const __m256d br = _mm256_set1_pd(m.br), bg = _mm256_set1_pd(m.bg), bb = _mm256_set1_pd(m.bb);
  const __m256d k = _mm256_set1_pd(m.k), offset = _mm256_set1_pd(m.offset);
  const __m256d mr = _mm256_set1_pd(m.mr), mb = _mm256_set1_pd(m.mb);
  const __m128i byte = _mm_set1_epi32(0xFF);
  int x = 0;
  for (; x + 4 <= w; x += 4, p += 16) {
    const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m256d r = _mm256_cvtepi32_pd(_mm_and_si128(px, byte));
    const __m256d g = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(px, 8), byte));
    const __m256d b = _mm256_cvtepi32_pd(_mm_and_si128(_mm_srli_epi32(px, 16), byte));
    const __m256d r1 = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(rr, r), _mm256_mul_pd(rg, g)), _mm256_mul_pd(rb, b));
    const __m256d g1 = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(gr, r), _mm256_mul_pd(gg, g)), _mm256_mul_pd(gb, b));
    const __m256d b1 = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(br, r), _mm256_mul_pd(bg, g)), _mm256_mul_pd(bb, b));
    const __m128i r2 = roundLanes(_mm256_mul_pd(mr, _mm256_add_pd(_mm256_mul_pd(k, r1), offset)));
    const __m128i g2 = roundLanes(_mm256_add_pd(_mm256_mul_pd(k, g1), offset));
    const __m128i b2 = roundLanes(_mm256_mul_pd(mb, _mm256_add_pd(_mm256_mul_pd(k, b1), offset)));
    const __m128i alpha = _mm_andnot_si128(_mm_set1_epi32(0x00FFFFFF), px);
    const __m128i out = _mm_or_si128(_mm_or_si128(r2, _mm_slli_epi32(g2, 8)), _mm_or_si128(_mm_slli_epi32(b2, 16), alpha));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), out);
  }
  for (; x < w; ++x, p += 4) m.apply(p);
}
#endif

// The colour step for one row at a time: per-channel tables when the matrix
// is the identity, the matrix otherwise; or nothing at all.
class Colour {
 public:
  explicit Colour(const Adjust& a)
      : matrix_(a),
        active_(a.brightness != 0 || a.contrast != 0 || a.saturation != 0 || a.warmth != 0),
        separable_(matrix_.separable()) {
    if (!active_ || !separable_) return;
    // One table per channel, filled by the same per-pixel code with the other
    // channels at zero (which the identity matrix ignores).
    for (int v = 0; v < 256; ++v) {
      for (int ch = 0; ch < 3; ++ch) {
        uint8_t p[4] = {0, 0, 0, 0};
        p[ch] = static_cast<uint8_t>(v);
        matrix_.apply(p);
        table_[ch][v] = p[ch];
      }
    }
  }

  bool active() const { return active_; }
  // Work units per pixel, for sizing bands.
  long long pixelCost() const { return separable_ ? 1 : 24; }

  void row(uint8_t* p, int w) const {
    if (!active_) return;
    if (separable_) {
      for (int x = 0; x < w; ++x, p += 4) {
        p[0] = table_[0][p[0]];
        p[1] = table_[1][p[1]];
        p[2] = table_[2][p[2]];
      }
      return;
    }
#ifdef KORVELLE_HAVE_AVX2_PATHS
    if (detail::haveAvx2()) {
      colourRowAvx2(matrix_, p, w);
      return;
    }
#endif
    for (int x = 0; x < w; ++x, p += 4) matrix_.apply(p);
  }

 private:
  ColourMatrix matrix_;
  bool active_;
  bool separable_;
  uint8_t table_[3][256] = {};
};

void colourStep(Image& img, const Colour& colour) {
  const int w = img.width;
  parallelFor(img.height, bandRows(img.height, colour.pixelCost() * w), [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) colour.row(img.row(y), w);
  });
}

// --- Unsharp mask ------------------------------------------------------------------

uint8_t luma(const uint8_t* p) { return roundToByte(0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]); }

// What sharpening does to a channel value v for a luma difference L − B
// (−255 … 255): with d = (L − B)·amount, lround(v + d) clamped, or v itself
// when |d| < 0.5. That is clamp(v + m) for one whole offset m per difference,
// except when d lies so close to a half that the sum's rounding depends on v;
// each difference's offset is checked against the definition for every v,
// and the few that fail keep the per-value table.
class Sharpen {
 public:
  explicit Sharpen(double amount) : table_(511 * 256), words_(511) {
    for (int diff = -255; diff <= 255; ++diff) {
      const double d = diff * amount;
      uint8_t* row = table_.data() + (diff + 255) * 256;
      const bool unchanged = std::fabs(d) < 0.5;
      for (int v = 0; v < 256; ++v) row[v] = unchanged ? static_cast<uint8_t>(v) : roundToByte(v + d);
      const int offset = unchanged ? 0 : static_cast<int>(std::clamp(std::floor(d + 0.5), -256.0, 256.0));
      bool byOffset = true;
      for (int v = 0; v < 256; ++v) byOffset = byOffset && row[v] == std::clamp(v + offset, 0, 255);
      // Saturating byte adds of the colour channels; a set alpha byte marks a
      // difference that needs the table.
      const uint32_t up = static_cast<uint32_t>(std::clamp(offset, 0, 255)) * 0x010101u;
      const uint32_t down = static_cast<uint32_t>(std::clamp(-offset, 0, 255)) * 0x010101u;
      words_[diff + 255] = {byOffset ? up : kByTable, down};
    }
  }

  // Sharpens one row of pixels in place from its luma and blurred luma.
  void row(uint8_t* p, const uint8_t* l, const uint8_t* blurred, int w) const {
    int x = 0;
#if defined(__SSE2__)
    // Four pixels at a time: clamp(v + m) is a saturating add of max(m, 0)
    // and a saturating subtract of max(−m, 0); alpha gets 0 and 0.
    for (; x + 4 <= w; x += 4) {
      const Words& a = words_[l[x] - blurred[x] + 255];
      const Words& b = words_[l[x + 1] - blurred[x + 1] + 255];
      const Words& c = words_[l[x + 2] - blurred[x + 2] + 255];
      const Words& e = words_[l[x + 3] - blurred[x + 3] + 255];
      uint8_t* q = p + static_cast<size_t>(x) * 4;
      if (((a.up | b.up | c.up | e.up) & kByTable) != 0) {
        for (int i = 0; i < 4; ++i) byTable(q + 4 * i, l[x + i] - blurred[x + i]);
        continue;
      }
      const __m128i up = _mm_setr_epi32(static_cast<int>(a.up), static_cast<int>(b.up), static_cast<int>(c.up),
                                        static_cast<int>(e.up));
      const __m128i down = _mm_setr_epi32(static_cast<int>(a.down), static_cast<int>(b.down),
                                          static_cast<int>(c.down), static_cast<int>(e.down));
      __m128i* v = reinterpret_cast<__m128i*>(q);
      _mm_storeu_si128(v, _mm_subs_epu8(_mm_adds_epu8(_mm_loadu_si128(v), up), down));
    }
#endif
    for (; x < w; ++x) byTable(p + static_cast<size_t>(x) * 4, l[x] - blurred[x]);
  }

 private:
  static constexpr uint32_t kByTable = 0xFF000000u;
  struct Words {
    uint32_t up, down;
  };
  void byTable(uint8_t* p, int diff) const {
    const uint8_t* t = table_.data() + (diff + 255) * 256;
    p[0] = t[p[0]];
    p[1] = t[p[1]];
    p[2] = t[p[2]];
  }
  std::vector<uint8_t> table_;  // 511 × 256: the definition
  std::vector<Words> words_;    // per difference
};

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
//
// Horizontal pass of one luma row. The window sums come from prefix sums
// (prefix holds width + 1 entries): the same integers as sliding the
// window, but the inner part is one subtraction per pixel with no
// dependency between pixels, which vectorises. Near the ends the clamped
// indices repeat the end pixel.
template <class Divide>
void blurRow(const uint8_t* in, int w, int r, Divide divide, uint8_t* out, uint32_t* prefix) {
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
  for (int x = 0; x < innerBegin; ++x) out[x] = static_cast<uint8_t>(divide(clampedSum(x)));
  for (int x = innerBegin; x < innerEnd; ++x) out[x] = static_cast<uint8_t>(divide(prefix[x + r + 1] - prefix[x - r]));
  for (int x = innerEnd; x < w; ++x) out[x] = static_cast<uint8_t>(divide(clampedSum(x)));
}

// One unsharp mask run row by row down a band. Input rows are pulled in
// order, each once: pull(row, luma) leaves the row's pixels where rowAt(row)
// points and writes its luma. The window's luma and horizontally blurred rows
// live in rings indexed by image row: the window never spans more than `cap`
// distinct rows, so a slot is reused only after its row left.
template <class Divide, class RowAt, class Pull>
class UnsharpStream {
 public:
  UnsharpStream(int w, int h, int radius, Divide divide, const Sharpen& sharpen, RowAt rowAt, Pull pull)
      : w_(w), h_(h), r_(radius), cap_(std::min(2 * radius + 1, h)), divide_(divide), sharpen_(sharpen),
        rowAt_(rowAt), pull_(pull), luma_(static_cast<size_t>(cap_) * w), blurred_(static_cast<size_t>(cap_) * w),
        column_(static_cast<size_t>(w), 0), vertical_(static_cast<size_t>(w)), prefix_(static_cast<size_t>(w) + 1) {}

  // Sharpens row y in place; rows come in increasing order, one by one. When
  // lumaOut is given, the sharpened row's luma is written there.
  void produce(int y, uint8_t* lumaOut) {
    // Local pointers: stores through bytes could alias the members, which
    // would keep the loops below from vectorising.
    uint32_t* __restrict column = column_.data();
    const int w = w_;
    if (first_ < 0) {
      first_ = y;
      newest_ = clampRow(y - r_) - 1;
      for (int row = clampRow(y - r_); row <= clampRow(y + r_); ++row) {
        ensure(row);
        const uint32_t times = windowCount(row, y - r_, y + r_, h_);
        const uint8_t* __restrict hr = blurredSlot(row);
        for (int x = 0; x < w; ++x) column[x] += times * hr[x];
      }
    } else {
      const uint8_t* __restrict leaving = blurredSlot(clampRow(y - 1 - r_));
      for (int x = 0; x < w; ++x) column[x] -= leaving[x];
      const int entering = clampRow(y + r_);
      ensure(entering);
      const uint8_t* __restrict hr = blurredSlot(entering);
      for (int x = 0; x < w; ++x) column[x] += hr[x];
    }
    const Divide divide = divide_;
    uint8_t* __restrict vertical = vertical_.data();
    for (int x = 0; x < w; ++x) vertical[x] = static_cast<uint8_t>(divide(column[x]));
    uint8_t* p = rowAt_(y);
    sharpen_.row(p, lumaSlot(y), vertical, w);
    if (lumaOut) detail::lumaRow(p, lumaOut, w);
  }

 private:
  int clampRow(int row) const { return std::clamp(row, 0, h_ - 1); }
  uint8_t* lumaSlot(int row) { return luma_.data() + static_cast<size_t>(row % cap_) * w_; }
  uint8_t* blurredSlot(int row) { return blurred_.data() + static_cast<size_t>(row % cap_) * w_; }
  void ensure(int row) {
    while (newest_ < row) {
      ++newest_;
      pull_(newest_, lumaSlot(newest_));
      blurRow(lumaSlot(newest_), w_, r_, divide_, blurredSlot(newest_), prefix_.data());
    }
  }

  int w_, h_, r_, cap_;
  Divide divide_;
  const Sharpen& sharpen_;
  RowAt rowAt_;
  Pull pull_;
  std::vector<uint8_t> luma_;
  std::vector<uint8_t> blurred_;
  std::vector<uint32_t> column_;
  std::vector<uint8_t> vertical_;
  std::vector<uint32_t> prefix_;
  int first_ = -1;
  int newest_ = -1;
};

template <class Divide, class RowAt, class Pull>
UnsharpStream<Divide, RowAt, Pull> unsharpStream(int w, int h, int radius, Divide divide, const Sharpen& sharpen,
                                                 RowAt rowAt, Pull pull) {
  return UnsharpStream<Divide, RowAt, Pull>(w, h, radius, divide, sharpen, rowAt, pull);
}

struct PlainDivider {
  uint32_t n;
  uint32_t operator()(uint32_t s) const { return s / n; }
};

// unsharpLuma in place: the luma of the whole picture first (so a band never
// reads pixels another band has sharpened), then bands that pull their rows
// from that plane.
template <class Divide>
void sharpenBands(Image& img, const uint8_t* plane, int radius, Divide divide, const Sharpen& sharpen) {
  const int w = img.width;
  const int h = img.height;
  // A band first fills its window (2·radius + 1 horizontal rows), so bands
  // are kept several windows tall.
  const int minRows = 4 * (2 * radius + 1);
  const int rows = std::max(bandRows(h, 16LL * w), std::min(h, minRows));
  parallelFor(h, rows, [&](int y0, int y1) {
    auto rowAt = [&](int y) { return img.row(y); };
    auto pull = [&](int row, uint8_t* luma) { std::memcpy(luma, plane + static_cast<size_t>(row) * w, w); };
    auto stream = unsharpStream(w, h, radius, divide, sharpen, rowAt, pull);
    for (int y = y0; y < y1; ++y) stream.produce(y, nullptr);
  });
}

// --- The adjustment in one pass --------------------------------------------------

// One unsharp step of the adjustment.
struct DetailStep {
  int radius = 0;
  double amount = 0;
  bool active() const { return radius >= 1 && amount != 0; }
};

// The rows one band works on: its own [y0, y1) in the output image, plus
// copies of the rows around it that its second step's window reaches. Those
// belong to other bands and are recomputed here, so bands share no state.
class BandRows {
 public:
  BandRows(Image& dst, int y0, int y1, int halo)
      : dst_(dst), y0_(y0), y1_(y1), from_(std::max(0, y0 - halo)), to_(std::min(dst.height, y1 + halo)),
        stride_(static_cast<size_t>(dst.width) * 4),
        scratch_(static_cast<size_t>((y0_ - from_) + (to_ - y1_)) * stride_), spare_(stride_) {}

  int from() const { return from_; }
  int to() const { return to_; }
  // Where row y is kept; rows outside [from, to) share one spare row, as
  // only their luma is needed.
  uint8_t* row(int y) {
    if (y >= y0_ && y < y1_) return dst_.row(y);
    if (y < from_ || y >= to_) return spare_.data();
    const int i = y < y0_ ? y - from_ : (y0_ - from_) + (y - y1_);
    return scratch_.data() + static_cast<size_t>(i) * stride_;
  }

 private:
  Image& dst_;
  int y0_, y1_, from_, to_;
  size_t stride_;
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> spare_;
};

// Colour, then one or two unsharp steps, for the output rows [y0, y1). The
// second step's input is the first one's output, pulled row by row.
template <class Divide>
void adjustBand(const Image& src, Image& dst, const Colour& colour, const DetailStep& first, Divide firstDivide,
                const DetailStep& second, Divide secondDivide, const Sharpen& firstSharpen,
                const Sharpen* secondSharpen, int y0, int y1) {
  const int w = src.width;
  const int h = src.height;
  BandRows rows(dst, y0, y1, second.active() ? second.radius : 0);
  auto rowAt = [&](int y) { return rows.row(y); };
  auto colourPull = [&](int row, uint8_t* luma) {
    uint8_t* p = rows.row(row);
    std::memcpy(p, src.row(row), static_cast<size_t>(w) * 4);
    colour.row(p, w);
    detail::lumaRow(p, luma, w);
  };
  auto firstStream = unsharpStream(w, h, first.radius, firstDivide, firstSharpen, rowAt, colourPull);
  if (!secondSharpen) {
    for (int y = y0; y < y1; ++y) firstStream.produce(y, nullptr);
    return;
  }
  auto firstPull = [&](int row, uint8_t* luma) { firstStream.produce(row, luma); };
  auto secondStream = unsharpStream(w, h, second.radius, secondDivide, *secondSharpen, rowAt, firstPull);
  for (int y = y0; y < y1; ++y) secondStream.produce(y, nullptr);
}

// The whole adjustment from src into a new image; false when it cannot be
// done in one pass (memory, or a window beyond the fast divider).
bool adjustInto(const Image& src, const Colour& colour, DetailStep first, DetailStep second, Image& out) {
  if (!first.active()) std::swap(first, second);
  if (!first.active()) return false;
  const long long longestWindow = 2LL * std::max(first.radius, second.radius) + 1;
  if (longestWindow > detail::BoxDivider::kMaxDivisor) return false;
  Image dst;
  if (!detail::allocateZeroed(dst.pixels, detail::pixelBytes(src.width, src.height) + kImageTailMargin)) return false;
  dst.width = src.width;
  dst.height = src.height;
  dst.hasAlpha = src.hasAlpha;
  const Sharpen firstSharpen(first.amount);
  const Sharpen secondSharpen(second.active() ? second.amount : 0.0);
  const detail::BoxDivider firstDivide(2 * first.radius + 1);
  const detail::BoxDivider secondDivide(2 * std::max(1, second.radius) + 1);
  const int h = src.height;
  // Each band recomputes the rows its windows reach beyond it, so bands are
  // kept several windows tall.
  const int reach = first.radius + (second.active() ? second.radius : 0);
  const int rows = std::max(bandRows(h, (16 + colour.pixelCost()) * src.width), std::min(h, 4 * (2 * reach + 1)));
  parallelFor(h, rows, [&](int y0, int y1) {
    adjustBand(src, dst, colour, first, firstDivide, second, secondDivide, firstSharpen,
               second.active() ? &secondSharpen : nullptr, y0, y1);
  });
  out = std::move(dst);
  return true;
}

// The slider values with anything not a number (a damaged setting) as 0.
Adjust finiteSliders(const Adjust& s) {
  auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
  return Adjust{finite(s.brightness), finite(s.contrast), finite(s.saturation),
                finite(s.warmth),     finite(s.clarity),  finite(s.sharpness)};
}

DetailStep clarityStep(const Image& img, const Adjust& a) {
  if (a.clarity == 0) return {};
  const int longSide = std::max(img.width, img.height);
  return {static_cast<int>(std::max(1L, std::lround(longSide * 0.006))), 0.9 * a.clarity / 100};
}

DetailStep sharpnessStep(const Image& img, const Adjust& a) {
  if (a.sharpness == 0) return {};
  const int longSide = std::max(img.width, img.height);
  return {static_cast<int>(std::max(1L, std::lround(longSide * 0.0012))), 1.2 * a.sharpness / 100};
}

#ifdef KORVELLE_HAVE_AVX2_PATHS
// detail::lumaRow for the first multiple of eight pixels, which it returns:
// the same integer sum (two multiply-adds of 16-bit lanes), the same float
// steps, and eight pixels redone in doubles when one of them holds a tie.
__attribute__((target("avx2"))) int lumaRowAvx2(const uint8_t* rgba, uint8_t* out, int width) {
  const __m256i weights = _mm256_setr_epi16(2126, 7152, 722, 0, 2126, 7152, 722, 0, 2126, 7152, 722, 0, 2126, 7152,
                                            722, 0);
  const __m256i bias = _mm256_set1_epi32(5000);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 scale = _mm256_set1_ps(1e-4f);
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const uint8_t* p = rgba + static_cast<size_t>(x) * 4;
    const __m256i a =
        _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))), weights);
    const __m256i b =
        _mm256_madd_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))), weights);
    // Pair sums come out as pixels 0 1 4 5 | 2 3 6 7; the permute restores the order.
    const __m256i sum = _mm256_permute4x64_epi64(_mm256_hadd_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
    const __m256 t = _mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(sum, bias)), half), scale);
    const __m256i q = _mm256_cvttps_epi32(t);
    const __m256 frac = _mm256_sub_ps(t, _mm256_cvtepi32_ps(q));
    if (_mm256_movemask_ps(_mm256_cmp_ps(frac, scale, _CMP_LT_OQ)) != 0) {
      for (int i = 0; i < 8; ++i) out[x + i] = luma(p + static_cast<size_t>(i) * 4);
      continue;
    }
    const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, words));
  }
  return x;
}
#endif

}  // namespace

namespace detail {

void lumaRow(const uint8_t* rgba, uint8_t* out, int width) {
#ifdef KORVELLE_HAVE_AVX2_PATHS
  if (haveAvx2()) {
    const int done = lumaRowAvx2(rgba, out, width);
    rgba += static_cast<size_t>(done) * 4;
    out += done;
    width -= done;
  }
#endif
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
  const Sharpen sharpen(amount);
  const long long n = 2LL * radius + 1;
  if (n <= detail::BoxDivider::kMaxDivisor) {
    sharpenBands(img, plane.data(), radius, detail::BoxDivider(static_cast<int>(n)), sharpen);
  } else {
    // Radii this large only come from direct calls; sums still fit 32 bits
    // while 255·n does.
    if (n > (1LL << 24)) return;
    sharpenBands(img, plane.data(), radius, PlainDivider{static_cast<uint32_t>(n)}, sharpen);
  }
}

Image adjusted(const Image& src, const Adjust& sliders) {
  if (!usable(src)) return Image{};
  const Adjust a = finiteSliders(sliders);
  const Colour colour(a);
  Image out;
  if (adjustInto(src, colour, clarityStep(src, a), sharpnessStep(src, a), out)) return out;
  if (!clarityStep(src, a).active() && !sharpnessStep(src, a).active()) {
    // Colour alone: each row copied and changed while it is at hand.
    out = Image::create(src.width, src.height, src.hasAlpha);
    if (!out.valid()) return Image{};
    const int w = src.width;
    parallelFor(src.height, bandRows(src.height, (1 + colour.pixelCost()) * w), [&](int y0, int y1) {
      for (int y = y0; y < y1; ++y) {
        std::memcpy(out.row(y), src.row(y), static_cast<size_t>(w) * 4);
        colour.row(out.row(y), w);
      }
    });
    return out;
  }
  // A window beyond the single pass: step by step.
  out = detail::duplicate(src);
  if (!out.valid()) return Image{};
  applyAdjust(out, a);
  return out;
}

void applyAdjust(Image& img, const Adjust& sliders) {
  if (!usable(img)) return;
  const Adjust a = finiteSliders(sliders);
  const Colour colour(a);
  const DetailStep clarity = clarityStep(img, a);
  const DetailStep sharpness = sharpnessStep(img, a);
  Image out;
  if (adjustInto(img, colour, clarity, sharpness, out)) {
    // The new buffer stands in for the old one when their bytes past the rows
    // agree; otherwise the rows are copied back, so the tail stays untouched.
    const size_t rows = detail::pixelBytes(img.width, img.height);
    if (img.pixels.size() == out.pixels.size() &&
        std::memcmp(img.pixels.data() + rows, out.pixels.data() + rows, img.pixels.size() - rows) == 0) {
      img.pixels.swap(out.pixels);
    } else {
      std::memcpy(img.pixels.data(), out.pixels.data(), rows);
    }
    return;
  }
  if (colour.active()) colourStep(img, colour);
  if (clarity.active()) unsharpLuma(img, clarity.radius, clarity.amount);
  if (sharpness.active()) unsharpLuma(img, sharpness.radius, sharpness.amount);
}

}  // namespace media
