#include "media/frame_convert.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "media/av_util.h"
#include "media/errors.h"

namespace media {
namespace {

using av::SwsPtr;

using err::setError;

// The JPEG-range aliases are spelled as the plain formats plus a full-range
// flag, which is how libswscale wants them.
AVPixelFormat withoutJpegAlias(AVPixelFormat f, bool* fullRange) {
  switch (f) {
    case AV_PIX_FMT_YUVJ420P: *fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: *fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return f;
  }
}

bool isYuv(AVPixelFormat f) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
  return d != nullptr && d->nb_components >= 3 &&
         (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) == 0;
}

}  // namespace

Size limitedSize(int w, int h, int maxEdge) {
  const int longEdge = std::max(w, h);
  if (maxEdge <= 0 || longEdge <= maxEdge) return {w, h};
  const double f = double(maxEdge) / longEdge;
  return {std::max(1, int(std::lround(w * f))), std::max(1, int(std::lround(h * f)))};
}

bool convertToImage(const AVFrame& src, int maxEdge, bool hasAlpha, Image* out, std::string* err) {
  if (src.width < 1 || src.height < 1 || src.data[0] == nullptr) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  bool fullRange = src.color_range == AVCOL_RANGE_JPEG;
  const AVPixelFormat fmt = withoutJpegAlias(static_cast<AVPixelFormat>(src.format), &fullRange);
  if (sws_isSupportedInput(fmt) <= 0) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  const Size size = limitedSize(src.width, src.height, maxEdge);
  SwsPtr sws(sws_getContext(src.width, src.height, fmt, size.width, size.height, AV_PIX_FMT_RGBA,
                            SWS_LANCZOS, nullptr, nullptr, nullptr));
  if (!sws) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  if (isYuv(fmt)) {
    // Untagged pictures (JPEG, most stills) use the BT.601 matrix.
    const int space = src.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : int(src.colorspace);
    sws_setColorspaceDetails(sws.get(), sws_getCoefficients(space), fullRange ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
  }
  Image img = Image::create(size.width, size.height, hasAlpha);
  if (!img.valid()) {
    setError(err, err::kOutOfMemory);
    return false;
  }
  std::vector<uint8_t> scratch;
  av::scaleInto(sws.get(), &src, size.width, size.height, img.pixels.data(), &scratch);
  *out = std::move(img);
  return true;
}

bool convertFromImage(const Image& img, AVFrame* dst) {
  if (!img.valid() || dst == nullptr || dst->width != img.width || dst->height != img.height) return false;
  bool fullRange = false;
  const AVPixelFormat fmt = withoutJpegAlias(static_cast<AVPixelFormat>(dst->format), &fullRange);
  if (sws_isSupportedOutput(fmt) <= 0) return false;
  SwsPtr sws(sws_getContext(img.width, img.height, AV_PIX_FMT_RGBA, img.width, img.height, fmt,
                            SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!sws) return false;
  if (isYuv(fmt)) {
    sws_setColorspaceDetails(sws.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(SWS_CS_DEFAULT), fullRange ? 1 : 0, 0, 1 << 16,
                             1 << 16);
  }
  const uint8_t* src[4] = {img.pixels.data(), nullptr, nullptr, nullptr};
  const int srcStride[4] = {img.width * 4, 0, 0, 0};
  return sws_scale(sws.get(), src, srcStride, 0, img.height, dst->data, dst->linesize) == dst->height;
}

}  // namespace media
