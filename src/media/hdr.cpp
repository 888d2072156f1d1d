#include "media/hdr.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/mastering_display_metadata.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace media {

namespace {

// Reference white in cd/m² (ITU-R BT.2408): where standard white goes.
constexpr double kReferenceWhite = 203.0;
// Phones grade HLG and PQ for a 1000 cd/m² display when they say nothing else.
constexpr double kDefaultPeakNits = 1000.0;
// PQ's ceiling.
constexpr double kMaxPeakNits = 10000.0;
// Below this share of standard white the curve is the identity; above it the
// highlights up to the peak are compressed into what is left. Chosen by
// measurement on colour bars graded at reference white: 0.9 kept them within
// 3 % of the standard-range original (a hard clip 2.3 %, Hable 16 %), while
// highlights above white still keep their gradation instead of clipping.
constexpr double kRollOffStart = 0.9;

}  // namespace

DynamicRange dynamicRangeOf(AVColorTransferCharacteristic trc) {
  switch (trc) {
    case AVCOL_TRC_ARIB_STD_B67: return DynamicRange::Hlg;
    case AVCOL_TRC_SMPTE2084: return DynamicRange::Pq;
    default: return DynamicRange::Standard;
  }
}

const char* dynamicRangeName(DynamicRange range) {
  switch (range) {
    case DynamicRange::Hlg: return "HLG";
    case DynamicRange::Pq: return "PQ";
    case DynamicRange::Standard: break;
  }
  return "";
}

namespace {

// The peak in cd/m² from content light or mastering metadata (either may be
// null); HLG is relative to its display, so metadata does not apply to it.
double peakOver(const AVContentLightMetadata* light, const AVMasteringDisplayMetadata* mastering,
                AVColorTransferCharacteristic trc) {
  double nits = light ? light->MaxCLL : 0;
  if (nits <= 0 && mastering && mastering->has_luminance && mastering->max_luminance.den > 0) {
    nits = av_q2d(mastering->max_luminance);
  }
  if (nits <= 0 || trc == AVCOL_TRC_ARIB_STD_B67) nits = kDefaultPeakNits;
  return std::clamp(nits, kReferenceWhite, kMaxPeakNits) / kReferenceWhite;
}

}  // namespace

double signalPeak(const AVFrame* frame) {
  const AVFrameSideData* light = av_frame_get_side_data(frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
  const AVFrameSideData* mastering = av_frame_get_side_data(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
  return peakOver(light ? reinterpret_cast<const AVContentLightMetadata*>(light->data) : nullptr,
                  mastering ? reinterpret_cast<const AVMasteringDisplayMetadata*>(mastering->data) : nullptr,
                  frame->color_trc);
}

double streamPeak(const AVStream* stream) {
  const uint8_t* light = av_stream_get_side_data(stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, nullptr);
  const uint8_t* mastering = av_stream_get_side_data(stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, nullptr);
  return peakOver(reinterpret_cast<const AVContentLightMetadata*>(light),
                  reinterpret_cast<const AVMasteringDisplayMetadata*>(mastering), stream->codecpar->color_trc);
}

std::string toneMapChain(double peak) {
  char chain[320];
  std::snprintf(chain, sizeof chain,
                "zscale=t=linear:npl=%.0f,format=gbrpf32le,zscale=p=bt709,"
                "tonemap=tonemap=mobius:param=%.2f:desat=0:peak=%.4f,zscale=t=bt709:m=bt709:r=tv",
                kReferenceWhite, kRollOffStart, std::max(peak, 1.0));
  return chain;
}

bool ToneMapper::toRgba(const AVFrame* frame, int width, int height, Image* out) {
  if (width < 1 || height < 1) return false;
  const bool same = graph_ && inWidth_ == frame->width && inHeight_ == frame->height &&
                    inFormat_ == frame->format && inTrc_ == frame->color_trc && outWidth_ == width &&
                    outHeight_ == height;
  if (!same) {
    // Scaled first, so the costly floating-point steps see only the pixels shown.
    const std::string chain = "zscale=w=" + std::to_string(width) + ":h=" + std::to_string(height) +
                              ":filter=bilinear," + toneMapChain(signalPeak(frame)) + ",format=gbrp,format=rgba";
    graph_ = exporter::buildVideoGraph(frame, AVRational{1, 1000}, chain, nullptr, nullptr);
    if (!graph_) return false;
    inWidth_ = frame->width;
    inHeight_ = frame->height;
    inFormat_ = frame->format;
    inTrc_ = frame->color_trc;
    outWidth_ = width;
    outHeight_ = height;
  }
  av::FramePtr in = av::makeFrame();
  av::FramePtr rgba = av::makeFrame();
  if (!in || !rgba || av_frame_ref(in.get(), frame) < 0) return false;
  if (av_buffersrc_add_frame_flags(graph_.src, in.get(), 0) < 0 ||
      av_buffersink_get_frame(graph_.sink, rgba.get()) < 0 || rgba->width != width || rgba->height != height) {
    graph_ = exporter::Graph{};  // built anew for the next frame
    return false;
  }
  Image img = Image::create(width, height, false);
  if (!img.valid()) return false;
  for (int y = 0; y < height; ++y) {
    std::memcpy(img.row(y), rgba->data[0] + static_cast<ptrdiff_t>(y) * rgba->linesize[0], static_cast<size_t>(width) * 4);
  }
  *out = std::move(img);
  return true;
}

}  // namespace media
