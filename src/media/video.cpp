#include "media/video.h"

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/av_util.h"
#include "media/errors.h"
#include "media/hdr.h"
#include "media/heif_brand.h"

namespace media {

namespace {

using err::setError;

void clearError(std::string* err) {
  if (err) err->clear();
}

// ----------------------------------------------------------------------------
// Codec names and kinds
// ----------------------------------------------------------------------------

std::string prettyCodec(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_H264: return "H.264";
    case AV_CODEC_ID_HEVC: return "HEVC";
    case AV_CODEC_ID_VP8: return "VP8";
    case AV_CODEC_ID_VP9: return "VP9";
    case AV_CODEC_ID_AV1: return "AV1";
    case AV_CODEC_ID_MPEG4: return "MPEG-4";
    case AV_CODEC_ID_MP3: return "MP3";
    case AV_CODEC_ID_AAC: return "AAC";
    case AV_CODEC_ID_VORBIS: return "Vorbis";
    case AV_CODEC_ID_FLAC: return "FLAC";
    case AV_CODEC_ID_OPUS: return "Opus";
    default: break;
  }
  const AVCodecDescriptor* desc = avcodec_descriptor_get(id);
  return desc ? desc->name : "?";
}

// Still-picture codecs: a file whose picture is one of these is an image.
bool isStillCodec(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_PNG:
    case AV_CODEC_ID_BMP:
    case AV_CODEC_ID_TARGA:
    case AV_CODEC_ID_TIFF:
    case AV_CODEC_ID_GIF:
    case AV_CODEC_ID_WEBP:
    case AV_CODEC_ID_APNG: return true;
    default: return false;
  }
}

// ----------------------------------------------------------------------------
// Probing
// ----------------------------------------------------------------------------

// Properties of an open file; the common first step of reading the info and
// grabbing a frame, so a grab opens the file only once.
bool describe(const AVFormatContext* fmt, VideoInfo* out, int* videoIndex, std::string* err) {
  const int vi = av::firstStream(fmt, AVMEDIA_TYPE_VIDEO);
  const int ai = av::firstStream(fmt, AVMEDIA_TYPE_AUDIO);
  if (vi < 0) {
    setError(err, err::kNoVideoTrack);
    return false;
  }
  const AVStream* vs = fmt->streams[vi];
  VideoInfo info;
  info.rotation = av::displayRotation(vs);
  const bool quarterTurn = info.rotation == 90 || info.rotation == 270;
  info.width = quarterTurn ? vs->codecpar->height : vs->codecpar->width;
  info.height = quarterTurn ? vs->codecpar->width : vs->codecpar->height;

  if (fmt->duration > 0) {
    info.durationMs = static_cast<double>(fmt->duration) / 1000.0;
  } else if (vs->duration > 0) {
    info.durationMs = av::tsToMs(vs->duration, vs->time_base, 0);
  }
  if (vs->avg_frame_rate.num != 0 && vs->avg_frame_rate.den != 0) {
    info.fps = av_q2d(vs->avg_frame_rate);
  }
  info.bitRate = fmt->bit_rate;
  info.videoCodec = prettyCodec(vs->codecpar->codec_id);
  info.dynamicRange = dynamicRangeName(dynamicRangeOf(vs->codecpar->color_trc));
  if (const AVPixFmtDescriptor* pf = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(vs->codecpar->format))) {
    info.bitDepth = pf->comp[0].depth;
  }
  info.container = fmt->iformat && fmt->iformat->name ? fmt->iformat->name : "";
  info.hasAudio = ai >= 0;
  if (info.hasAudio) info.audioCodec = prettyCodec(fmt->streams[ai]->codecpar->codec_id);

  *out = std::move(info);
  if (videoIndex) *videoIndex = vi;
  clearError(err);
  return true;
}

// ----------------------------------------------------------------------------
// Frame grabbing
// ----------------------------------------------------------------------------

// A frame's time as the grabber compares it: the small offset keeps a frame
// stamped exactly at the requested time from losing to rounding.
double grabTimeMs(const AVFrame* frame, AVRational timeBase) {
  return av::tsToMs(av::framePts(frame), timeBase, 0) + 0.001;
}

// Decodes from the current read position to the first frame at or after
// timeMs. Past the end of the stream the last decoded frame stands in.
// Frames nothing refers to are not decoded at all before skipUntilMs.
bool decodeUntil(AVFormatContext* fmt, AVCodecContext* dec, int vi, double timeMs,
                 double skipUntilMs, AVFrame* out) {
  const AVRational tb = fmt->streams[vi]->time_base;
  av::PacketPtr pkt = av::makePacket();
  av::FramePtr frame = av::makeFrame();
  av::FramePtr last = av::makeFrame();
  if (!pkt || !frame || !last) return false;
  bool haveLast = false;

  // Takes every frame the decoder has ready; true once the wanted one is in out.
  auto receive = [&]() {
    while (avcodec_receive_frame(dec, frame.get()) == 0) {
      if (grabTimeMs(frame.get(), tb) >= timeMs) {
        av_frame_move_ref(out, frame.get());
        return true;
      }
      av_frame_unref(last.get());
      av_frame_move_ref(last.get(), frame.get());
      haveLast = true;
    }
    return false;
  };

  while (av_read_frame(fmt, pkt.get()) >= 0) {
    if (pkt->stream_index == vi) {
      av::skipUnneededFrames(dec, pkt.get(), tb, skipUntilMs);
      // A damaged packet is skipped; the decoder resynchronises on the next.
      avcodec_send_packet(dec, pkt.get());
      if (receive()) return true;
    }
    av_packet_unref(pkt.get());
  }
  dec->skip_frame = AVDISCARD_DEFAULT;
  avcodec_send_packet(dec, nullptr);
  if (receive()) return true;
  if (!haveLast) return false;
  av_frame_move_ref(out, last.get());
  return true;
}

// Converts a decoded frame to RGBA, scaled in the same pass so that its long
// edge is at most maxEdge.
bool frameToImage(const AVFrame* frame, int maxEdge, Image* out) {
  int w = frame->width;
  int h = frame->height;
  const int longEdge = std::max(w, h);
  if (maxEdge >= 1 && maxEdge < longEdge) {
    const double f = static_cast<double>(maxEdge) / longEdge;
    w = std::max(2, static_cast<int>(std::lround(w * f)));
    h = std::max(2, static_cast<int>(std::lround(h * f)));
  }
  if (dynamicRangeOf(frame->color_trc) != DynamicRange::Standard) {
    ToneMapper toneMapper;
    return toneMapper.toRgba(frame, w, h, out);
  }
  av::SwsPtr sws(sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                w, h, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr));
  if (!sws) return false;
  av::setSourceColour(sws.get(), frame);
  Image img = Image::create(w, h, false);
  if (!img.valid()) return false;
  std::vector<uint8_t> scratch;
  if (!av::scaleInto(sws.get(), frame, w, h, img.pixels.data(), &scratch)) return false;
  *out = std::move(img);
  return true;
}

Image turnUpright(Image img, int rotation) {
  switch (rotation) {
    case 90: return transform(img, TransformOp::RotateCW);
    case 180: return transform(img, TransformOp::Rotate180);
    case 270: return transform(img, TransformOp::RotateCCW);
    default: return img;
  }
}

// ----------------------------------------------------------------------------
// Encoder discovery
// ----------------------------------------------------------------------------

struct EncoderCandidate {
  const char* name;
  const char* device;  // nullptr: none
  AVHWDeviceType deviceType;
  bool hardware;
  const char* codec;
  const char* container;
};

// Graphics-card encoders first; VP9 in software is the default every machine
// has. Software H.264 comes last: it is never chosen unasked, but lets a
// machine without a graphics-card encoder write the MP4 most platforms want.
constexpr EncoderCandidate kEncoderCandidates[] = {
    {"h264_vaapi", "/dev/dri/renderD128", AV_HWDEVICE_TYPE_VAAPI, true, "h264", "mp4"},
    {"h264_vaapi", "/dev/dri/renderD129", AV_HWDEVICE_TYPE_VAAPI, true, "h264", "mp4"},
    {"h264_nvenc", nullptr, AV_HWDEVICE_TYPE_NONE, true, "h264", "mp4"},
    {"libvpx-vp9", nullptr, AV_HWDEVICE_TYPE_NONE, false, "vp9", "webm"},
    {"libx264", nullptr, AV_HWDEVICE_TYPE_NONE, false, "h264", "mp4"},
};

// Silences the library while a probe fails on purpose; the previous level
// comes back on every path out of the scope.
class QuietLibraryLog {
 public:
  QuietLibraryLog() : saved_(av_log_get_level()) { av_log_set_level(AV_LOG_QUIET); }
  ~QuietLibraryLog() { av_log_set_level(saved_); }
  QuietLibraryLog(const QuietLibraryLog&) = delete;
  QuietLibraryLog& operator=(const QuietLibraryLog&) = delete;

 private:
  int saved_;
};

// A small encoder set-up that every candidate must accept.
av::CodecPtr testContext(const AVCodec* codec, AVPixelFormat pixelFormat) {
  av::CodecPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return nullptr;
  ctx->width = 320;
  ctx->height = 240;
  ctx->bit_rate = 400000;
  ctx->time_base = AVRational{1, 25};
  ctx->framerate = AVRational{25, 1};
  ctx->pix_fmt = pixelFormat;
  return ctx;
}

bool openVaapiTest(const AVCodec* codec, AVBufferRef* device) {
  av::CodecPtr ctx = testContext(codec, AV_PIX_FMT_VAAPI);
  av::BufferPtr frames(av_hwframe_ctx_alloc(device));
  if (!ctx || !frames) return false;
  auto* fc = reinterpret_cast<AVHWFramesContext*>(frames->data);
  fc->format = AV_PIX_FMT_VAAPI;
  fc->sw_format = AV_PIX_FMT_NV12;
  fc->width = 320;
  fc->height = 240;
  fc->initial_pool_size = 4;
  if (av_hwframe_ctx_init(frames.get()) < 0) return false;
  ctx->hw_frames_ctx = av_buffer_ref(frames.get());
  if (!ctx->hw_frames_ctx) return false;
  return avcodec_open2(ctx.get(), codec, nullptr) >= 0;
}

bool openPlainTest(const AVCodec* codec, AVBufferRef* device) {
  for (AVPixelFormat pixelFormat : {AV_PIX_FMT_NV12, AV_PIX_FMT_YUV420P}) {
    av::CodecPtr ctx = testContext(codec, pixelFormat);
    if (!ctx) return false;
    if (device) {
      ctx->hw_device_ctx = av_buffer_ref(device);
      if (!ctx->hw_device_ctx) return false;
    }
    if (avcodec_open2(ctx.get(), codec, nullptr) >= 0) return true;
  }
  return false;
}

bool candidateWorks(const EncoderCandidate& c) {
  const AVCodec* codec = avcodec_find_encoder_by_name(c.name);
  if (!codec) return false;
  QuietLibraryLog quiet;
  av::BufferPtr device;
  if (c.deviceType != AV_HWDEVICE_TYPE_NONE) {
    AVBufferRef* raw = nullptr;
    if (av_hwdevice_ctx_create(&raw, c.deviceType, c.device, nullptr, 0) < 0) return false;
    device.reset(raw);
  }
  if (c.deviceType == AV_HWDEVICE_TYPE_VAAPI) return openVaapiTest(codec, device.get());
  return openPlainTest(codec, device.get());
}

std::vector<EncoderInfo> probeEncoders() {
  std::vector<EncoderInfo> list;
  for (const EncoderCandidate& c : kEncoderCandidates) {
    const bool listed = std::any_of(list.begin(), list.end(),
                                    [&](const EncoderInfo& e) { return e.name == c.name; });
    if (listed || !candidateWorks(c)) continue;
    list.push_back(EncoderInfo{c.name, c.device ? c.device : "", c.hardware, c.codec, c.container});
  }
  return list;
}

// ----------------------------------------------------------------------------
// Audio peaks
// ----------------------------------------------------------------------------

// Only every 8th sample value is looked at: plenty for a bar graph, and the
// decode dominates the cost anyway.
constexpr int kPeakStride = 8;

// Magnitude 0 … 1 of value i of a packed sample buffer.
float sampleMagnitude(const uint8_t* data, int i, AVSampleFormat packed) {
  switch (packed) {
    case AV_SAMPLE_FMT_U8: return std::fabs(data[i] - 128.0f) / 128.0f;
    case AV_SAMPLE_FMT_S16: {
      int16_t v;
      std::memcpy(&v, data + static_cast<size_t>(i) * 2, 2);
      return static_cast<float>(std::fabs(static_cast<double>(v)) / 32768.0);
    }
    case AV_SAMPLE_FMT_S32: {
      int32_t v;
      std::memcpy(&v, data + static_cast<size_t>(i) * 4, 4);
      return static_cast<float>(std::fabs(static_cast<double>(v)) / 2147483648.0);
    }
    case AV_SAMPLE_FMT_FLT: {
      float v;
      std::memcpy(&v, data + static_cast<size_t>(i) * 4, 4);
      return std::isfinite(v) ? std::min(1.0f, std::fabs(v)) : 0.0f;
    }
    case AV_SAMPLE_FMT_DBL: {
      double v;
      std::memcpy(&v, data + static_cast<size_t>(i) * 8, 8);
      return std::isfinite(v) ? static_cast<float>(std::min(1.0, std::fabs(v))) : 0.0f;
    }
    default: return 0.0f;
  }
}

struct PeakWindow {
  double fromMs;
  double toMs;
  std::vector<float>* buckets;
  bool stored = false;
};

// Folds one decoded frame into the buckets; returns the frame's start time.
double scanAudioFrame(const AVFrame* frame, AVRational timeBase, PeakWindow& w) {
  const double t0 = av::tsToMs(av::framePts(frame), timeBase, 0);
  const int samples = frame->nb_samples;
  if (samples <= 0 || !frame->data[0]) return t0;
  const double lengthMs = frame->sample_rate > 0 ? samples * 1000.0 / frame->sample_rate : 0;
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const AVSampleFormat packed = av_get_packed_sample_fmt(format);
  // Interleaved buffers hold one value per channel per sample; the value's
  // time is that of its sample.
  const int perSample =
      av_sample_fmt_is_planar(format) ? 1 : std::max(1, frame->ch_layout.nb_channels);
  const int values = samples * perSample;
  const double span = w.toMs - w.fromMs;
  const int count = static_cast<int>(w.buckets->size());
  for (int i = 0; i < values; i += kPeakStride) {
    const double t = t0 + static_cast<double>(i / perSample) * lengthMs / samples;
    if (t < w.fromMs || t >= w.toMs) continue;
    const int b = std::clamp(static_cast<int>((t - w.fromMs) / span * count), 0, count - 1);
    float& peak = (*w.buckets)[static_cast<size_t>(b)];
    peak = std::max(peak, sampleMagnitude(frame->data[0], i, packed));
    w.stored = true;
  }
  return t0;
}

}  // namespace

// ============================================================================
// Classifying and probing
// ============================================================================

MediaKind classify(const std::string& path) {
  // HEIF photos reach FFmpeg as an HEVC (or AV1) stream; their container
  // brands say they are pictures.
  if (isHeifStill(path)) return MediaKind::Image;
  av::FormatPtr fmt = av::openInput(path);
  if (!fmt) return MediaKind::Unknown;
  const int vi = av::firstStream(fmt.get(), AVMEDIA_TYPE_VIDEO);
  if (vi < 0) return MediaKind::Unknown;
  return isStillCodec(fmt->streams[vi]->codecpar->codec_id) ? MediaKind::Image : MediaKind::Video;
}

bool readVideoInfo(const std::string& path, VideoInfo* out, std::string* err) {
  if (!out) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  av::FormatPtr fmt = av::openInput(path);
  if (!fmt) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  return describe(fmt.get(), out, nullptr, err);
}

// ============================================================================
// Frames
// ============================================================================

bool grabFrame(const std::string& path, double timeMs, int maxEdge, Image* out, std::string* err) {
  if (!out) {
    setError(err, err::kDecodeFailed);
    return false;
  }
  av::FormatPtr fmt = av::openInput(path);
  if (!fmt) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  VideoInfo info;
  int vi = -1;
  if (!describe(fmt.get(), &info, &vi, err)) return false;
  av::CodecPtr dec = av::openDecoder(fmt->streams[vi], FF_THREAD_FRAME | FF_THREAD_SLICE);
  if (!dec) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  // From the key frame at or before the time; decoding forward costs at most
  // one group of pictures. Time 0 needs no seek.
  if (timeMs > 0) {
    av_seek_frame(fmt.get(), -1, static_cast<int64_t>(timeMs * 1000.0), AVSEEK_FLAG_BACKWARD);
  }
  // The last second is decoded in full, so a time past the end finds the
  // very last frame even when nothing refers to it.
  const double skipUntilMs = std::min(timeMs - 0.001, info.durationMs - 1000.0);
  av::FramePtr frame = av::makeFrame();
  Image img;
  if (!frame || !decodeUntil(fmt.get(), dec.get(), vi, timeMs, skipUntilMs, frame.get()) ||
      !frameToImage(frame.get(), maxEdge, &img)) {
    setError(err, err::kDecodeFailed);
    return false;
  }
  *out = turnUpright(std::move(img), info.rotation);
  clearError(err);
  return true;
}

// Reader state: the file stays open between calls; posMs is the time of the
// last frame handed out (-1: the next call must seek).
struct FrameReader::Impl {
  av::FormatPtr fmt;
  av::CodecPtr dec;
  VideoInfo info;
  int vi = -1;
  double posMs = -1;
  int seeks = 0;
};

FrameReader::FrameReader() : impl_(std::make_unique<Impl>()) {}
FrameReader::~FrameReader() = default;

bool FrameReader::open(const std::string& path, std::string* err) {
  *impl_ = Impl{};
  impl_->fmt = av::openInput(path);
  if (!impl_->fmt) {
    setError(err, "UNSUPPORTED_FORMAT");
    return false;
  }
  if (!describe(impl_->fmt.get(), &impl_->info, &impl_->vi, err)) {
    impl_->fmt.reset();
    return false;
  }
  impl_->dec = av::openDecoder(impl_->fmt->streams[impl_->vi], FF_THREAD_FRAME | FF_THREAD_SLICE);
  if (!impl_->dec) {
    impl_->fmt.reset();
    setError(err, "UNSUPPORTED_FORMAT");
    return false;
  }
  clearError(err);
  return true;
}

bool FrameReader::frameNear(double timeMs, double toleranceMs, int maxEdge, Image* out, std::string* err) {
  Impl& m = *impl_;
  if (!m.fmt || !out || !(toleranceMs > 0)) return frameAt(timeMs, maxEdge, out, err);
  AVStream* st = m.fmt->streams[m.vi];
  const int64_t ts = av_rescale_q(static_cast<int64_t>((timeMs + toleranceMs) * 1000.0), AVRational{1, 1000000},
                                  st->time_base);
  const int idx = av_index_search_timestamp(st, ts, AVSEEK_FLAG_BACKWARD);
  const AVIndexEntry* e = idx >= 0 ? avformat_index_get_entry(st, idx) : nullptr;
  // Index times may be decoding times, a few frames off the picture's own:
  // the key frame's real time is checked once it is decoded.
  constexpr double kIndexSlackMs = 500.0;
  if (!e || av::tsToMs(e->timestamp, st->time_base, 0) < timeMs - toleranceMs - kIndexSlackMs) {
    return frameAt(timeMs, maxEdge, out, err);
  }
  const double keyMs = av::tsToMs(e->timestamp, st->time_base, 0);
  if (keyMs > m.posMs + 1.0 || m.posMs < 0) {
    avcodec_flush_buffers(m.dec.get());
    av_seek_frame(m.fmt.get(), m.vi, e->timestamp, AVSEEK_FLAG_BACKWARD);
    ++m.seeks;
    av::FramePtr frame = av::makeFrame();
    // The first picture after the key frame: decoded alone.
    if (frame && decodeUntil(m.fmt.get(), m.dec.get(), m.vi, -1e18, -1e18, frame.get())) {
      const double got = grabTimeMs(frame.get(), st->time_base);
      m.posMs = got;
      Image img;
      if (std::fabs(got - timeMs) <= toleranceMs && frameToImage(frame.get(), maxEdge, &img)) {
        *out = turnUpright(std::move(img), m.info.rotation);
        clearError(err);
        return true;
      }
    } else {
      m.posMs = -1;
    }
  }
  return frameAt(timeMs, maxEdge, out, err);
}

void FrameReader::preferSpeed() {
  if (impl_->dec) impl_->dec->skip_loop_filter = AVDISCARD_ALL;
}

const VideoInfo& FrameReader::info() const { return impl_->info; }
int FrameReader::seeks() const { return impl_->seeks; }

bool FrameReader::frameAt(double timeMs, int maxEdge, Image* out, std::string* err) {
  Impl& m = *impl_;
  if (!out || !m.fmt || !m.dec) {
    setError(err, "DECODE_FAILED");
    return false;
  }
  AVStream* st = m.fmt->streams[m.vi];
  // Without an index, a gap this long is cheaper to seek over than to decode.
  constexpr double kBlindSeekGapMs = 2000.0;
  bool seek = m.posMs < 0 || timeMs <= m.posMs;
  if (!seek) {
    const int64_t ts = av_rescale_q(static_cast<int64_t>(timeMs * 1000.0), AVRational{1, 1000000}, st->time_base);
    const int idx = av_index_search_timestamp(st, ts, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* e = idx >= 0 ? avformat_index_get_entry(st, idx) : nullptr;
    if (e) {
      seek = av::tsToMs(e->timestamp, st->time_base, 0) > m.posMs + 1.0;
    } else {
      seek = timeMs - m.posMs > kBlindSeekGapMs;
    }
  }
  if (seek) {
    avcodec_flush_buffers(m.dec.get());
    if (timeMs > 0) {
      av_seek_frame(m.fmt.get(), -1, static_cast<int64_t>(timeMs * 1000.0), AVSEEK_FLAG_BACKWARD);
    } else {
      av_seek_frame(m.fmt.get(), -1, 0, AVSEEK_FLAG_BACKWARD);
    }
    ++m.seeks;
  }
  const double skipUntilMs = std::min(timeMs - 0.001, m.info.durationMs - 1000.0);
  av::FramePtr frame = av::makeFrame();
  Image img;
  if (!frame || !decodeUntil(m.fmt.get(), m.dec.get(), m.vi, timeMs, skipUntilMs, frame.get()) ||
      !frameToImage(frame.get(), maxEdge, &img)) {
    m.posMs = -1;
    setError(err, "DECODE_FAILED");
    return false;
  }
  const double got = grabTimeMs(frame.get(), st->time_base);
  // A frame before the time means the stream ended and the decoder was
  // drained: the next call starts over with a seek.
  m.posMs = got >= timeMs ? got : -1;
  *out = turnUpright(std::move(img), m.info.rotation);
  clearError(err);
  return true;
}

// ============================================================================
// Sizes and names
// ============================================================================

void resolutionToSize(int target, int srcW, int srcH, int* outW, int* outH) {
  int w = srcW;
  int h = srcH;
  if (srcW >= 1 && srcH >= 1 && target >= 1 && target < std::min(srcW, srcH)) {
    if (srcW <= srcH) {
      w = target;
      h = static_cast<int>(std::lround(static_cast<double>(target) * srcH / srcW));
    } else {
      h = target;
      w = static_cast<int>(std::lround(static_cast<double>(target) * srcW / srcH));
    }
    // Encoders want even sizes for 4:2:0 chroma.
    w = std::max(2, w & ~1);
    h = std::max(2, h & ~1);
  }
  if (outW) *outW = w;
  if (outH) *outH = h;
}

const std::vector<std::string>& videoExtensions() {
  static const std::vector<std::string> kList = {"mp4", "mov", "m4v", "mkv",
                                                 "webm", "avi", "3gp", "mts"};
  return kList;
}

// ============================================================================
// Encoders
// ============================================================================

const std::vector<EncoderInfo>& availableEncoders() {
  static const std::vector<EncoderInfo> kList = probeEncoders();
  return kList;
}

EncoderInfo plannedEncoder(const std::string& preferred) {
  const std::vector<EncoderInfo>& list = availableEncoders();
  if (list.empty()) return {};
  if (!preferred.empty()) {
    for (const EncoderInfo& e : list) {
      if (e.name == preferred) return e;
    }
  }
  return list.front();
}

EncoderInfo workingCopyEncoder() {
  const std::vector<EncoderInfo>& list = availableEncoders();
  for (const char* name : {"libx264", "libvpx-vp9"}) {
    for (const EncoderInfo& e : list) {
      if (e.name == name) return e;
    }
  }
  return list.empty() ? EncoderInfo{} : list.front();
}

const char* extensionForEncoder(const EncoderInfo& encoder) {
  return encoder.container == "webm" ? ".webm" : ".mp4";
}

// ============================================================================
// Audio peaks
// ============================================================================

namespace {

// A file's first sound stream opened for decoding, with a packet and a frame
// to read it through.
struct AudioSource {
  av::FormatPtr fmt;
  int ai = -1;
  const AVStream* st = nullptr;
  av::CodecPtr dec;
  av::PacketPtr pkt;
  av::FramePtr frame;
};

// Opens path's sound for the peak readers with out set to buckets zeros;
// false when it cannot (out emptied when the file has no sound).
bool openPeakSource(const std::string& path, int buckets, std::vector<float>* out, AudioSource* a) {
  out->assign(static_cast<size_t>(buckets), 0.0f);
  a->fmt = av::openInput(path);
  if (!a->fmt) return false;
  a->ai = av::firstStream(a->fmt.get(), AVMEDIA_TYPE_AUDIO);
  if (a->ai < 0) {
    out->clear();
    return false;
  }
  a->st = a->fmt->streams[a->ai];
  a->dec = av::openDecoder(a->st, FF_THREAD_FRAME | FF_THREAD_SLICE);
  a->pkt = av::makePacket();
  a->frame = av::makeFrame();
  return a->dec && a->pkt && a->frame;
}

}  // namespace

bool audioPeaks(const std::string& path, double fromMs, double toMs, int buckets,
                std::vector<float>* out) {
  if (!out || buckets < 1 || !(fromMs < toMs)) return false;
  AudioSource source;
  if (!openPeakSource(path, buckets, out, &source)) return false;
  av::FormatPtr& fmt = source.fmt;
  const int ai = source.ai;
  const AVStream* st = source.st;
  av::CodecPtr& dec = source.dec;
  av::PacketPtr& pkt = source.pkt;
  av::FramePtr& frame = source.frame;

  const int64_t from = av_rescale_q(static_cast<int64_t>(fromMs * 1000.0), AVRational{1, 1000000},
                                    st->time_base);
  av_seek_frame(fmt.get(), ai, from, AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(dec.get());

  PeakWindow window{fromMs, toMs, out};
  // True when a frame starting after the window was seen: nothing later counts.
  auto drain = [&]() {
    bool past = false;
    while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
      if (scanAudioFrame(frame.get(), st->time_base, window) > toMs) past = true;
      av_frame_unref(frame.get());
    }
    return past;
  };
  bool past = false;
  while (!past && av_read_frame(fmt.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == ai) {
      avcodec_send_packet(dec.get(), pkt.get());
      past = drain();
    }
    av_packet_unref(pkt.get());
  }
  if (!past) {
    avcodec_send_packet(dec.get(), nullptr);
    drain();
  }
  return window.stored;
}

bool audioPeaksSampled(const std::string& path, double fromMs, double toMs, int buckets, double probeMs,
                       std::vector<float>* out, const std::atomic<bool>* cancel) {
  if (!out || buckets < 1 || !(fromMs < toMs) || !(probeMs > 0)) return false;
  AudioSource source;
  if (!openPeakSource(path, buckets, out, &source)) return false;
  av::FormatPtr& fmt = source.fmt;
  const int ai = source.ai;
  const AVStream* st = source.st;
  av::CodecPtr& dec = source.dec;
  av::PacketPtr& pkt = source.pkt;
  av::FramePtr& frame = source.frame;
  const double bucketMs = (toMs - fromMs) / buckets;
  bool stored = false;
  for (int b = 0; b < buckets; ++b) {
    if (cancel && cancel->load()) return false;
    const double a = fromMs + b * bucketMs;
    std::vector<float> one(1, 0.0f);
    PeakWindow window{a, a + std::min(probeMs, bucketMs), &one};
    const int64_t ts = av_rescale_q(static_cast<int64_t>(a * 1000.0), AVRational{1, 1000000}, st->time_base);
    av_seek_frame(fmt.get(), ai, ts, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(dec.get());
    bool past = false;
    while (!past && av_read_frame(fmt.get(), pkt.get()) >= 0) {
      if (pkt->stream_index == ai) {
        avcodec_send_packet(dec.get(), pkt.get());
        while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
          if (scanAudioFrame(frame.get(), st->time_base, window) > window.toMs) past = true;
          av_frame_unref(frame.get());
        }
      }
      av_packet_unref(pkt.get());
    }
    (*out)[static_cast<size_t>(b)] = one[0];
    stored = stored || window.stored;
  }
  return stored;
}

}  // namespace media
