#include "media/av_util.h"

extern "C" {
#include <libavutil/display.h>
}

#include <cmath>

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

int64_t framePts(const AVFrame* frame) {
  return frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
}

}  // namespace media::av
