// ffmpeg_compat: the few places where FFmpeg 5.1 (Debian 12) and later
// releases differ, behind one spelling. Everything else is written against
// interfaces both share.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace media::compat {

// Pixel formats an encoder accepts, ended by AV_PIX_FMT_NONE; null when the
// encoder does not publish a list.
inline const AVPixelFormat* encoderPixelFormats(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
  const void* list = nullptr;
  if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_PIX_FORMAT, 0, &list, nullptr) < 0) {
    return nullptr;
  }
  return static_cast<const AVPixelFormat*>(list);
#else
  return codec->pix_fmts;
#endif
}

// The stream's display matrix (nine 16.16 fixed-point values), or nullptr.
// Newer releases keep it in the codec parameters' coded side data.
inline const int32_t* displayMatrix(const AVStream* st) {
  constexpr size_t kMatrixBytes = 9 * sizeof(int32_t);
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
  const AVPacketSideData* sd = av_packet_side_data_get(
      st->codecpar->coded_side_data, st->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
  if (!sd || sd->size < kMatrixBytes) return nullptr;
  return reinterpret_cast<const int32_t*>(sd->data);
#else
  size_t size = 0;
  const uint8_t* data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (!data || size < kMatrixBytes) return nullptr;
  return reinterpret_cast<const int32_t*>(data);
#endif
}

// Gives out the display matrix of in (a stream copied without turning its
// pictures), when in has one and out none yet.
inline void copyDisplayMatrix(const AVStream* in, AVStream* out) {
  const int32_t* m = displayMatrix(in);
  if (!m || displayMatrix(out)) return;
  constexpr size_t kMatrixBytes = 9 * sizeof(int32_t);
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
  AVPacketSideData* sd = av_packet_side_data_new(&out->codecpar->coded_side_data,
                                                 &out->codecpar->nb_coded_side_data,
                                                 AV_PKT_DATA_DISPLAYMATRIX, kMatrixBytes, 0);
  uint8_t* data = sd ? sd->data : nullptr;
#else
  uint8_t* data = av_stream_new_side_data(out, AV_PKT_DATA_DISPLAYMATRIX, kMatrixBytes);
#endif
  if (data) std::memcpy(data, m, kMatrixBytes);
}

// The channel layouts an encoder accepts, ended by a zeroed entry; nullptr
// when the encoder takes any.
inline const AVChannelLayout* channelLayouts(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
  const void* list = nullptr;
  if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_CHANNEL_LAYOUT, 0, &list,
                                   nullptr) < 0) {
    return nullptr;
  }
  return static_cast<const AVChannelLayout*>(list);
#else
  return codec->ch_layouts;
#endif
}

// ---- Export: encoder set-up ----------------------------------------------

// The sample formats and rates an encoder accepts, each list ending in its
// terminator (-1 / 0); nullptr when the encoder takes any.
inline const AVSampleFormat* sampleFormats(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
  const void* list = nullptr;
  if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &list,
                                   nullptr) < 0) {
    return nullptr;
  }
  return static_cast<const AVSampleFormat*>(list);
#else
  return codec->sample_fmts;
#endif
}

inline const int* sampleRates(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
  const void* list = nullptr;
  if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_SAMPLE_RATE, 0, &list,
                                   nullptr) < 0) {
    return nullptr;
  }
  return static_cast<const int*>(list);
#else
  return codec->supported_samplerates;
#endif
}

// The nominal length of one frame in the encoder's time base. libvpx's rate
// control sizes each frame by its duration: 5.1 passes ticks_per_frame as
// that duration (1 tick of 1/90000 s would read as 90000 frames a second);
// newer releases take it from the frame rate and need nothing.
inline void setNominalFrameTicks(AVCodecContext* enc, int ticks) {
#if LIBAVCODEC_VERSION_MAJOR < 60
  enc->ticks_per_frame = ticks;
#else
  (void)enc;
  (void)ticks;
#endif
}

}  // namespace media::compat
