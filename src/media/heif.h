// heif: HEIF/HEIC stills (phone photos) through libheif, which FFmpeg 5.1
// cannot open. The primary image is decoded with its container
// transformations (rotation, mirror, crop) applied, so its EXIF orientation
// must not be applied again.
//
// Thread-safe; probing and loading block on file I/O and decoding.
#pragma once

#include <string>

#include "media/exif.h"
#include "media/image.h"

namespace media {

// Properties of the primary image as displayed.
struct HeifInfo {
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
  ExifData exif;  // texts and numbers; its orientation is already applied
};

// libheif can decode HEVC-coded images in this build.
bool heifSupported();
// Size, alpha and EXIF without decoding pixels. Fails with "UNSUPPORTED_FORMAT".
bool probeHeif(const std::string& path, HeifInfo* info, std::string* err);
// Decodes the primary image to RGBA, shrunk to maxEdge (0: full size). Fails
// with "UNSUPPORTED_FORMAT" or "OUT_OF_MEMORY"; out is untouched on failure.
bool loadHeif(const std::string& path, int maxEdge, Image* out, HeifInfo* info, std::string* err);

}  // namespace media
