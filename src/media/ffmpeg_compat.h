// ffmpeg_compat: the few places where FFmpeg 5.1 (Debian 12) and later
// releases differ, behind one spelling.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstddef>
#include <cstdint>

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

}  // namespace media::compat
