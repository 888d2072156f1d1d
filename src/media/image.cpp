// The buffer itself, scaling, cropping and fitting. Geometry lives in
// image_geometry.cpp, colour and detail in image_adjust.cpp.
#include "media/image.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

#include "media/av_util.h"
#include "media/image_internal.h"
#include "media/parallel.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace media {
namespace detail {
namespace {

// Below this, a buffer is not worth a system call: it spans at most one huge
// page and is often recycled from the heap already faulted in.
constexpr size_t kHugePageAdviceBytes = size_t{4} << 20;

// Faults the pages of [begin, end) in now, in slices spread over the worker
// pool: the kernel's clearing of fresh pages is most of what a new large
// buffer costs, and it runs on one thread when the first write faults them
// in. Only a hint as well: a kernel without MADV_POPULATE_WRITE refuses, and
// the pages come in on first touch as before.
void populateOnAllThreads(uintptr_t begin, uintptr_t end) {
#ifdef MADV_POPULATE_WRITE
  // Several huge pages per slice: one system call is worth that much work.
  constexpr uintptr_t kSlice = uintptr_t{8} << 20;
  const int slices = static_cast<int>((end - begin + kSlice - 1) / kSlice);
  if (slices < 2) return;
  parallelFor(slices, 1, [&](int s0, int s1) {
    const uintptr_t from = begin + static_cast<uintptr_t>(s0) * kSlice;
    const uintptr_t to = std::min(end, begin + static_cast<uintptr_t>(s1) * kSlice);
    madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
  });
#else
  (void)begin;
  (void)end;
#endif
}

void adviseHugePages(const uint8_t* data, size_t bytes) {
  if (bytes < kHugePageAdviceBytes) return;
  constexpr uintptr_t kPage = 4096;
  const auto begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kPage - 1);
  // Only a hint: without transparent huge pages the kernel refuses, and the
  // buffer is faulted in page by page as before.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  populateOnAllThreads(begin, end);
}

}  // namespace

bool reserveBuffer(std::vector<uint8_t>& buf, size_t bytes) noexcept {
  buf.clear();
  try {
    buf.reserve(bytes);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  adviseHugePages(buf.data(), bytes);
  return true;
}

bool allocateZeroed(std::vector<uint8_t>& buf, size_t bytes) noexcept {
  if (!reserveBuffer(buf, bytes)) return false;
  buf.resize(bytes);  // within capacity: cannot throw
  return true;
}

#ifdef KORVELLE_HAVE_AVX2_PATHS
bool haveAvx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}
#endif

Image duplicate(const Image& src) {
  Image out;
  const size_t rows = pixelBytes(src.width, src.height);
  if (!reserveBuffer(out.pixels, rows + kImageTailMargin)) return Image{};
  out.pixels.assign(src.pixels.data(), src.pixels.data() + rows);
  out.pixels.resize(rows + kImageTailMargin);
  out.width = src.width;
  out.height = src.height;
  out.hasAlpha = src.hasAlpha;
  return out;
}

}  // namespace detail

Image copyOf(const Image& src) { return detail::usable(src) ? detail::duplicate(src) : Image{}; }

using detail::pixelBytes;
using detail::usable;

Image Image::create(int width, int height, bool hasAlpha) {
  Image img;
  img.width = std::max(0, width);
  img.hasAlpha = hasAlpha;
  if (height <= 0) return img;
  img.height = height;
  if (!detail::allocateZeroed(img.pixels, pixelBytes(img.width, height) + kImageTailMargin)) {
    return Image{};
  }
  return img;
}

// --- Scaling ----------------------------------------------------------------

namespace {

using av::FramePtr;
using av::SwsPtr;

void keepPixels(void*, uint8_t*) {}

// A frame over an image's own pixels, reference-counted through a buffer that
// frees nothing, so the scaler reads and writes them in place instead of
// copying them into buffers of its own.
FramePtr frameOver(const Image& img, bool writable) {
  FramePtr frame(av_frame_alloc());
  if (!frame) return nullptr;
  frame->buf[0] = av_buffer_create(const_cast<uint8_t*>(img.pixels.data()), img.pixels.size(),
                                   keepPixels, nullptr, writable ? 0 : AV_BUFFER_FLAG_READONLY);
  if (!frame->buf[0]) return nullptr;
  frame->data[0] = frame->buf[0]->data;
  frame->linesize[0] = img.width * 4;
  frame->width = img.width;
  frame->height = img.height;
  frame->format = AV_PIX_FMT_RGBA;
  return frame;
}

// One scaling call split into bands of output rows. Each band is scaled by
// its own pass over the whole source, so a band's rows come out exactly as
// in a single pass (every output row is computed from the source alone); the
// RGBA writer stays inside the rows it is given. Contexts are kept per
// running thread and reused across bands.
class BandScaler {
 public:
  BandScaler(const Image& src, Image& dst, int flags) : src_(src), dst_(dst), flags_(flags) {}

  bool run() {
    FramePtr srcFrame = frameOver(src_, false);
    FramePtr dstFrame = frameOver(dst_, true);
    if (!srcFrame || !dstFrame) return false;
    srcFrame_ = srcFrame.get();
    dstFrame_ = dstFrame.get();
    // The first context answers which band starts the scaler accepts (one
    // row for RGBA, but asked rather than assumed).
    SwsPtr first = newContext();
    if (!first) return false;
    const int align = std::max(1, static_cast<int>(sws_receive_slice_alignment(first.get())));
    idle_.push_back(std::move(first));
    const int rows = (bandHeight() + align - 1) / align * align;
    const int bands = (dst_.height + rows - 1) / rows;
    parallelFor(bands, 1, [&](int begin, int end) {
      for (int band = begin; band < end; ++band) {
        const int y0 = band * rows;
        scaleBand(y0, std::min(dst_.height, y0 + rows));
      }
    });
    return !failed_;
  }

 private:
  int bandHeight() const {
    // Each band re-reads the source rows under the vertical filter's reach,
    // so bands stay few: two per thread balance a briefly busy core.
    constexpr long long kMinPixelsPerBand = 1 << 18;
    const long long work = std::max(1LL * src_.width * src_.height, 1LL * dst_.width * dst_.height);
    const int byWork = static_cast<int>(std::max<long long>(1, work / kMinPixelsPerBand));
    const int bands = std::clamp(std::min(parallelism() * 2, byWork), 1, std::max(1, dst_.height / 8));
    return (dst_.height + bands - 1) / bands;
  }

  SwsPtr takeContext() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!idle_.empty()) {
        SwsPtr ctx = std::move(idle_.back());
        idle_.pop_back();
        return ctx;
      }
    }
    return newContext();
  }

  SwsPtr newContext() const {
    return SwsPtr(sws_getContext(src_.width, src_.height, AV_PIX_FMT_RGBA, dst_.width, dst_.height,
                                 AV_PIX_FMT_RGBA, flags_, nullptr, nullptr, nullptr));
  }

  void scaleBand(int y0, int y1) {
    SwsPtr ctx = takeContext();
    bool ok = ctx != nullptr;
    if (ok) {
      ok = sws_frame_start(ctx.get(), dstFrame_, srcFrame_) >= 0 &&
           sws_send_slice(ctx.get(), 0, static_cast<unsigned>(src_.height)) >= 0 &&
           sws_receive_slice(ctx.get(), static_cast<unsigned>(y0), static_cast<unsigned>(y1 - y0)) >= 0;
      sws_frame_end(ctx.get());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok) failed_ = true;
    if (ctx) idle_.push_back(std::move(ctx));
  }

  const Image& src_;
  Image& dst_;
  const int flags_;
  AVFrame* srcFrame_ = nullptr;
  AVFrame* dstFrame_ = nullptr;
  std::mutex mutex_;
  std::vector<SwsPtr> idle_;
  bool failed_ = false;
};

// The scaler may read a little past the last source pixel; a buffer without
// the tail margin (built outside this module) is padded first.
const Image* withTailMargin(const Image& src, Image& padded) {
  if (src.pixels.size() >= pixelBytes(src.width, src.height) + kImageTailMargin) return &src;
  padded = detail::duplicate(src);
  return padded.valid() ? &padded : nullptr;
}

}  // namespace

Image scaleExact(const Image& src, int w, int h) {
  if (!usable(src) || w <= 0 || h <= 0) return Image{};
  Image padded;
  const Image* source = withTailMargin(src, padded);
  if (!source) return Image{};
  Image dst = Image::create(w, h, src.hasAlpha);
  if (!dst.valid()) return Image{};
  // Compared in 64 bits: the areas of large images overflow 32.
  const bool shrinking = 1LL * w * h < 1LL * src.width * src.height;
  BandScaler scaler(*source, dst, shrinking ? SWS_LANCZOS : SWS_BICUBIC);
  if (!scaler.run()) return Image{};
  return dst;
}

namespace {

Size longEdgeSize(const Image& src, int longEdge) {
  if (src.width >= src.height) {
    const long h = std::lround(static_cast<double>(longEdge) * src.height / src.width);
    return {longEdge, static_cast<int>(std::max(1L, h))};
  }
  const long w = std::lround(static_cast<double>(longEdge) * src.width / src.height);
  return {static_cast<int>(std::max(1L, w)), longEdge};
}

bool keepsSize(const Image& src, int longEdge) {
  return longEdge <= 0 || std::max(src.width, src.height) <= longEdge;
}

}  // namespace

Image resizeLongEdge(const Image& src, int longEdge) {
  if (!usable(src)) return Image{};
  if (keepsSize(src, longEdge)) return detail::duplicate(src);
  const Size size = longEdgeSize(src, longEdge);
  return scaleExact(src, size.width, size.height);
}

Image resizeLongEdge(Image&& src, int longEdge) {
  if (!usable(src)) return Image{};
  if (keepsSize(src, longEdge)) return std::move(src);
  const Size size = longEdgeSize(src, longEdge);
  return scaleExact(src, size.width, size.height);
}

Image shrinkByBlocks(const Image& src, int factor) {
  if (!usable(src)) return Image{};
  if (factor <= 1) return detail::duplicate(src);
  const int w = (src.width + factor - 1) / factor;
  const int h = (src.height + factor - 1) / factor;
  Image out = Image::create(w, h, src.hasAlpha);
  if (!out.valid()) return Image{};
  parallelFor(h, bandRows(h, static_cast<long long>(src.width) * factor), [&](int y0, int y1) {
    std::vector<uint32_t> sums(static_cast<size_t>(w) * 4);
    for (int oy = y0; oy < y1; ++oy) {
      std::fill(sums.begin(), sums.end(), 0u);
      const int top = oy * factor;
      const int rows = std::min(factor, src.height - top);
      for (int sy = top; sy < top + rows; ++sy) {
        const uint8_t* p = src.row(sy);
        for (int ox = 0; ox < w; ++ox) {
          const int cols = std::min(factor, src.width - ox * factor);
          uint32_t* acc = &sums[static_cast<size_t>(ox) * 4];
          for (int k = 0; k < cols; ++k, p += 4) {
            acc[0] += p[0];
            acc[1] += p[1];
            acc[2] += p[2];
            acc[3] += p[3];
          }
        }
      }
      uint8_t* q = out.row(oy);
      for (int ox = 0; ox < w; ++ox, q += 4) {
        const uint32_t n = static_cast<uint32_t>(rows * std::min(factor, src.width - ox * factor));
        const uint32_t* acc = &sums[static_cast<size_t>(ox) * 4];
        for (int c = 0; c < 4; ++c) q[c] = static_cast<uint8_t>((acc[c] + n / 2) / n);
      }
    }
  });
  return out;
}

Image previewLongEdge(const Image& src, int longEdge) {
  if (!usable(src)) return Image{};
  const int edge = std::max(src.width, src.height);
  // Blocks only down to twice the target, so the resampling still has
  // detail to smooth: a preview without the blocks' stair steps.
  const int factor = longEdge > 0 ? edge / (2 * longEdge) : 1;
  if (factor < 2) return resizeLongEdge(src, longEdge);
  return resizeLongEdge(shrinkByBlocks(src, factor), longEdge);
}

// --- Cropping ----------------------------------------------------------------

namespace {

struct CropRect {
  int x = 0, y = 0, w = 0, h = 0;
};

// Origin clamped per axis: before the image it starts at 0 (the whole extent
// available), past the end it keeps the last column or row.
void clampAxis(int origin, int extent, int request, int& start, int& length) {
  int available = 0;
  if (origin < 0) {
    start = 0;
    available = extent;
  } else if (origin < extent) {
    start = origin;
    available = extent - origin;
  } else {
    start = extent - 1;
    available = 1;
  }
  length = std::min(request, available);
}

CropRect cropRect(const Image& src, int x, int y, int w, int h) {
  CropRect r;
  clampAxis(x, src.width, w, r.x, r.w);
  clampAxis(y, src.height, h, r.y, r.h);
  return r;
}

}  // namespace

Image cropTo(const Image& src, int x, int y, int w, int h) {
  if (!usable(src) || w <= 0 || h <= 0) return Image{};
  const CropRect r = cropRect(src, x, y, w, h);
  if (r.w == src.width && r.h == src.height) return detail::duplicate(src);
  // Appending rows into reserved space writes each byte once; a zero-filled
  // buffer would be written twice.
  Image out;
  const size_t rowBytes = static_cast<size_t>(r.w) * 4;
  if (!detail::reserveBuffer(out.pixels, rowBytes * r.h + kImageTailMargin)) return Image{};
  for (int row = 0; row < r.h; ++row) {
    const uint8_t* from = src.row(r.y + row) + static_cast<size_t>(r.x) * 4;
    out.pixels.insert(out.pixels.end(), from, from + rowBytes);
  }
  out.pixels.resize(rowBytes * r.h + kImageTailMargin);
  out.width = r.w;
  out.height = r.h;
  out.hasAlpha = src.hasAlpha;
  return out;
}

Image cropTo(Image&& src, int x, int y, int w, int h) {
  if (!usable(src) || w <= 0 || h <= 0) return Image{};
  const CropRect r = cropRect(src, x, y, w, h);
  if (r.w == src.width && r.h == src.height) return std::move(src);
  const size_t rowBytes = static_cast<size_t>(r.w) * 4;
  const size_t rows = rowBytes * r.h;
  if (rows < src.pixels.capacity() / 2) {
    // A small piece gets a buffer of its own so the large one can go now.
    Image out = cropTo(static_cast<const Image&>(src), x, y, w, h);
    src = Image{};
    return out;
  }
  // Rows move towards the front: each destination lies at or before its
  // source, so moving them in order never overwrites one still to be read.
  uint8_t* base = src.pixels.data();
  for (int row = 0; row < r.h; ++row) {
    std::memmove(base + row * rowBytes, src.row(r.y + row) + static_cast<size_t>(r.x) * 4, rowBytes);
  }
  src.pixels.resize(rows + kImageTailMargin);
  std::fill(src.pixels.begin() + static_cast<std::ptrdiff_t>(rows), src.pixels.end(), uint8_t{0});
  src.width = r.w;
  src.height = r.h;
  return std::move(src);
}

// --- Fitting -------------------------------------------------------------------

namespace {

int scaledSide(int side, double scale) {
  return static_cast<int>(std::max(1L, std::lround(side * scale)));
}

// The source scaled to cover w × h and cropped centred to exactly that.
Image coverImage(const Image& src, int w, int h) {
  const double s = std::max(static_cast<double>(w) / src.width, static_cast<double>(h) / src.height);
  const int cw = scaledSide(src.width, s);
  const int ch = scaledSide(src.height, s);
  return cropTo(scaleExact(src, cw, ch), (cw - w) / 2, (ch - h) / 2, w, h);
}

// The part of a width × height picture with the proportions of w × h,
// as large as fits.
Size coverCrop(int width, int height, int w, int h) {
  if (1LL * width * h >= 1LL * height * w) {
    return {static_cast<int>(std::max(1L, std::lround(static_cast<double>(height) * w / h))), height};
  }
  return {width, static_cast<int>(std::max(1L, std::lround(static_cast<double>(width) * h / w)))};
}

// Block size for averaging the source before the blurred border: a quarter
// of the source pixels one pixel of the shrunk cover stands for, so the
// resampling still averages several blocks per pixel (1: no blocks).
int blurBlockFactor(const Image& src, int w, int h) {
  const int k = std::min(w, h) <= 47 ? 1 : std::min(w, h) / 24;
  const double s = std::max(static_cast<double>(w) / src.width, static_cast<double>(h) / src.height);
  const double perPixel = std::max(w, h) / (k * s);
  constexpr double kBlocksPerPixel = 4;
  return static_cast<int>(std::min(perPixel / kBlocksPerPixel, static_cast<double>(std::min(src.width, src.height))));
}

// The blurred border: the cover image shrunk to a long side of about k pixels
// and enlarged again, the enlargement doing the blurring.
Image blurredCanvas(const Image& src, int w, int h) {
  const int k = std::min(w, h) <= 47 ? 1 : std::min(w, h) / 24;
  const int longer = std::max(w, h);
  const int sw = std::max(1, (k * w) / longer);
  const int sh = std::max(1, (k * h) / longer);
  Image small;
  const int factor = blurBlockFactor(src, w, h);
  if (factor >= 2) {
    // A large source is averaged in blocks first and cropped to the border's
    // proportions: a picture this blurred shows none of the detail a full
    // cover scaling would keep, and the blocks cost one pass over the source.
    const Image blocks = shrinkByBlocks(src, factor);
    const Size c = coverCrop(blocks.width, blocks.height, w, h);
    if (blocks.valid()) {
      small = scaleExact(cropTo(blocks, (blocks.width - c.width) / 2, (blocks.height - c.height) / 2, c.width,
                                c.height),
                         sw, sh);
    }
  } else {
    Image cover = coverImage(src, w, h);
    small = scaleExact(cover, sw, sh);
    if (!small.valid()) small = std::move(cover);
  }
  Image canvas = scaleExact(small, w, h);
  canvas.hasAlpha = src.hasAlpha;
  return canvas;
}

void fillOpaque(Image& canvas, uint8_t level, int y0, int y1, int x0, int x1) {
  const uint8_t px[4] = {level, level, level, 255};
  const uint32_t value = detail::load32(px);
  for (int y = y0; y < y1; ++y) {
    uint8_t* row = canvas.row(y);
    for (int x = x0; x < x1; ++x) detail::store32(row + static_cast<size_t>(x) * 4, value);
  }
}

Image containImage(const Image& src, int w, int h, PadMode pad) {
  const double s = std::min(static_cast<double>(w) / src.width, static_cast<double>(h) / src.height);
  const int fw = scaledSide(src.width, s);
  const int fh = scaledSide(src.height, s);
  const Image fitted = scaleExact(src, fw, fh);
  const int ox = (w - fw) / 2;
  const int oy = (h - fh) / 2;
  // The part of the canvas the fitted image covers.
  const int px0 = std::max(0, ox), px1 = std::min(w, ox + fw);
  const int py0 = std::max(0, oy), py1 = std::min(h, oy + fh);

  Image canvas;
  if (pad == PadMode::Blur) canvas = blurredCanvas(src, w, h);
  if (!canvas.valid()) canvas = Image::create(w, h, src.hasAlpha);
  if (!canvas.valid()) return Image{};
  if (pad != PadMode::Blur && !src.hasAlpha) {
    // Only the border: the paste below replaces everything else.
    const uint8_t level = pad == PadMode::White ? 255 : 0;
    if (py1 <= py0 || px1 <= px0) {
      fillOpaque(canvas, level, 0, h, 0, w);
    } else {
      fillOpaque(canvas, level, 0, py0, 0, w);
      fillOpaque(canvas, level, py1, h, 0, w);
      fillOpaque(canvas, level, py0, py1, 0, px0);
      fillOpaque(canvas, level, py0, py1, px1, w);
    }
  }
  if (fitted.valid() && px1 > px0) {
    const size_t bytes = static_cast<size_t>(px1 - px0) * 4;
    for (int y = py0; y < py1; ++y) {
      std::memcpy(canvas.row(y) + static_cast<size_t>(px0) * 4,
                  fitted.row(y - oy) + static_cast<size_t>(px0 - ox) * 4, bytes);
    }
  }
  return canvas;
}

}  // namespace

Image resizeTo(const Image& src, int w, int h, FitMode fit, PadMode pad) {
  if (!usable(src) || w < 1 || h < 1) return Image{};
  switch (fit) {
    case FitMode::Stretch:
      return scaleExact(src, w, h);
    case FitMode::Cover:
      return coverImage(src, w, h);
    case FitMode::Contain:
      return containImage(src, w, h, pad);
  }
  return Image{};
}

}  // namespace media
