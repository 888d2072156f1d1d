// ffmpeg_compat: the few places where FFmpeg 5.1 (Debian 12) and later
// releases differ, behind one spelling.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

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

}  // namespace media::compat
