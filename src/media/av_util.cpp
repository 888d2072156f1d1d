#include "media/av_util.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "media/ffmpeg_compat.h"

namespace media::av {

FormatPtr openInput(const std::string& path, const AVIOInterruptCB* interrupt) {
  AVFormatContext* raw = avformat_alloc_context();
  if (!raw) return nullptr;
  if (interrupt) raw->interrupt_callback = *interrupt;
  // On failure the library frees the context itself.
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return nullptr;
  FormatPtr fmt(raw);
  if (avformat_find_stream_info(fmt.get(), nullptr) < 0) return nullptr;
  return fmt;
}

int firstStream(const AVFormatContext* fmt, AVMediaType type) {
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    const AVStream* st = fmt->streams[i];
    if (st->codecpar->codec_type != type) continue;
    if (type == AVMEDIA_TYPE_VIDEO && (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    return static_cast<int>(i);
  }
  return -1;
}

int displayRotation(const AVStream* st) {
  const int32_t* matrix = compat::displayMatrix(st);
  if (!matrix) return 0;
  // The matrix gives the counter-clockwise angle; a degenerate matrix gives NaN.
  const double ccw = av_display_rotation_get(matrix);
  if (!std::isfinite(ccw)) return 0;
  long cw = std::lround(-ccw) % 360;
  if (cw < 0) cw += 360;
  return static_cast<int>(cw);
}

CodecPtr openDecoder(const AVStream* st, int threadType) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return nullptr;
  CodecPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return nullptr;
  if (avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0) return nullptr;
  ctx->pkt_timebase = st->time_base;
  ctx->thread_count = 0;
  ctx->thread_type = threadType;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return nullptr;
  return ctx;
}

void skipUnneededFrames(AVCodecContext* dec, const AVPacket* pkt, AVRational timeBase,
                        double untilMs) {
  const bool before = pkt->pts != AV_NOPTS_VALUE && tsToMs(pkt->pts, timeBase, 0) < untilMs;
  dec->skip_frame = before ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
}

void setSourceColour(SwsContext* sws, const AVFrame* frame) {
  int matrix = SWS_CS_DEFAULT;
  switch (frame->colorspace) {
    case AVCOL_SPC_BT709: matrix = SWS_CS_ITU709; break;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: matrix = SWS_CS_BT2020; break;
    case AVCOL_SPC_SMPTE240M: matrix = SWS_CS_SMPTE240M; break;
    case AVCOL_SPC_FCC: matrix = SWS_CS_FCC; break;
    case AVCOL_SPC_UNSPECIFIED:
      // Untagged high-definition video is BT.709 in practice (and our own
      // exports say so); untagged standard definition stays BT.601.
      if (frame->width >= 1280 || frame->height >= 720) matrix = SWS_CS_ITU709;
      break;
    default: break;
  }
  const int srcFull = frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
  int* inv = nullptr;
  int* table = nullptr;
  int srcRange = 0;
  int dstRange = 0;
  int brightness = 0;
  int contrast = 0;
  int saturation = 0;
  // Not a YUV source (or an unsupported conversion): keep the scaler's own setup.
  if (sws_getColorspaceDetails(sws, &inv, &srcRange, &table, &dstRange, &brightness, &contrast,
                               &saturation) < 0) {
    return;
  }
  // YUVJ formats already imply full range; only ever widen it.
  sws_setColorspaceDetails(sws, sws_getCoefficients(matrix), srcRange | srcFull, table, dstRange,
                           brightness, contrast, saturation);
}

double tsToMs(int64_t ts, AVRational timeBase, double fallbackMs) {
  if (ts == AV_NOPTS_VALUE) return fallbackMs;
  return static_cast<double>(ts) * av_q2d(timeBase) * 1000.0;
}

namespace {

// Below this a picture's planes are small enough for the heap, whose pages
// are often already faulted in.
constexpr int64_t kLargePixels = int64_t{1} << 20;
// Row alignment that satisfies every decoder's and encoder's stride needs.
constexpr int kRowAlign = 64;
// Optimised loops may read a little past a plane's end (FFmpeg pads its own
// buffers by 16 bytes plus one row alignment).
constexpr size_t kPlanePadding = 256;

void unmapBuffer(void* opaque, uint8_t* data) {
  munmap(data, reinterpret_cast<size_t>(opaque));
}

AVBufferRef* mapZeroedBuffer(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  // Only a hint: without transparent huge pages the kernel refuses.
  madvise(p, bytes, MADV_HUGEPAGE);
  AVBufferRef* ref = av_buffer_create(static_cast<uint8_t*>(p), bytes, unmapBuffer,
                                      reinterpret_cast<void*>(bytes), 0);
  if (!ref) munmap(p, bytes);
  return ref;
}

bool isLargePlainPicture(const AVFrame* frame) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (!d || (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM))) {
    return false;
  }
  return int64_t{frame->width} * frame->height >= kLargePixels;
}

// Maps the planes for a picture of width × height rows padded to the given
// linesizes and hangs them on frame.
bool mapPlanes(AVFrame* frame, int height, const int linesize[4]) {
  ptrdiff_t strides[4] = {};
  for (int i = 0; i < 4; ++i) strides[i] = linesize[i];
  size_t sizes[4] = {};
  const auto fmt = static_cast<AVPixelFormat>(frame->format);
  if (av_image_fill_plane_sizes(sizes, fmt, height, strides) < 0) return false;
  for (int i = 0; i < 4 && sizes[i] > 0; ++i) {
    frame->buf[i] = mapZeroedBuffer(sizes[i] + kPlanePadding);
    if (!frame->buf[i]) return false;
    frame->data[i] = frame->buf[i]->data;
    frame->linesize[i] = linesize[i];
  }
  frame->extended_data = frame->data;
  return true;
}

void dropPlanes(AVFrame* frame) {
  for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
    av_buffer_unref(&frame->buf[i]);
    frame->data[i] = nullptr;
    frame->linesize[i] = 0;
  }
}

// Row lengths for a picture at least width pixels wide in which every plane
// meets its alignment. The width is widened until all planes fit at once, as
// FFmpeg's own allocator does: aligning planes one by one would break the
// chroma rows being exactly half the luma rows, which some code expects.
bool planeLinesizes(AVPixelFormat fmt, int width, const int align[4], int linesize[4]) {
  int w = width;
  for (int tries = 0; tries < 32; ++tries) {
    if (av_image_fill_linesizes(linesize, fmt, w) < 0) return false;
    bool fits = true;
    for (int i = 0; i < 4; ++i) fits = fits && linesize[i] % std::max(1, align[i]) == 0;
    if (fits) return true;
    w += w & ~(w - 1);  // lowest set bit: each try doubles w's alignment
  }
  return false;
}

// Gives frame large planes of height rows for a picture at least width wide.
int attachLargePlanes(AVFrame* frame, int width, int height, const int align[4]) {
  int linesize[4] = {};
  if (!planeLinesizes(static_cast<AVPixelFormat>(frame->format), width, align, linesize)) {
    return AVERROR(EINVAL);
  }
  if (!mapPlanes(frame, height, linesize)) {
    dropPlanes(frame);
    return AVERROR(ENOMEM);
  }
  return 0;
}

}  // namespace

bool scaleInto(SwsContext* sws, const AVFrame* frame, int w, int h, uint8_t* out, std::vector<uint8_t>* scratch) {
  constexpr int kBlock = 16;  // pixels the vectorised pass writes at a time
  // Only conversions that keep the size take that pass.
  const bool keeps = frame->width == w && frame->height == h;
  const int padded = keeps ? (w + kBlock - 1) / kBlock * kBlock : w;
  // A spare row takes the last row's overrun.
  if (padded != w) scratch->resize(static_cast<size_t>(padded) * 4 * (static_cast<size_t>(h) + 1));
  uint8_t* dst[4] = {padded == w ? out : scratch->data(), nullptr, nullptr, nullptr};
  int dstStride[4] = {padded * 4, 0, 0, 0};
  if (sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride) <= 0) return false;
  for (int y = 0; padded != w && y < h; ++y) {
    std::memcpy(out + static_cast<size_t>(y) * w * 4, scratch->data() + static_cast<size_t>(y) * padded * 4,
                static_cast<size_t>(w) * 4);
  }
  return true;
}

int getLargeFrameBuffer(AVCodecContext* c, AVFrame* frame, int flags) {
  if (!isLargePlainPicture(frame) || !(c->codec->capabilities & AV_CODEC_CAP_DR1)) {
    return avcodec_default_get_buffer2(c, frame, flags);
  }
  // The decoder's padded size and per-plane row alignment.
  int w = frame->width;
  int h = frame->height;
  int strideAlign[AV_NUM_DATA_POINTERS] = {};
  avcodec_align_dimensions2(c, &w, &h, strideAlign);
  return attachLargePlanes(frame, w, h, strideAlign);
}

bool allocateLargeFrame(AVFrame* frame) {
  if (!isLargePlainPicture(frame)) return av_frame_get_buffer(frame, kRowAlign) >= 0;
  const int align[4] = {kRowAlign, kRowAlign, kRowAlign, kRowAlign};
  return attachLargePlanes(frame, frame->width, frame->height, align) == 0;
}

int64_t framePts(const AVFrame* frame) {
  return frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
}

}  // namespace media::av
