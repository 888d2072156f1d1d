// frame_convert: turns a decoded picture of any FFmpeg pixel format into an
// RGBA media::Image in one libswscale pass, shrinking it on the way so that
// the full-size RGBA copy of a huge photo never exists; and an image into an
// encoder's pixel format.
#pragma once

#include <string>

#include "media/image.h"

extern "C" {
struct AVFrame;
}

namespace media {

// w × h limited to a long edge of maxEdge, aspect kept, sides at least 1;
// unchanged when it already fits or maxEdge <= 0.
Size limitedSize(int w, int h, int maxEdge);

// Converts src (planes, size, pixel format, colour range and matrix) into a
// new image of limitedSize() with Lanczos filtering; the image's hasAlpha is
// the given flag. Fails with "UNSUPPORTED_FORMAT" (no conversion for that
// pixel format) or "OUT_OF_MEMORY"; out is untouched then. Thread-safe.
bool convertToImage(const AVFrame& src, int maxEdge, bool hasAlpha, Image* out, std::string* err);

// Converts img into dst, whose size equals the image's and whose buffers of
// its pixel format are allocated (bicubic, full-range output for the JPEG
// formats). False when libswscale cannot convert to that format.
bool convertFromImage(const Image& img, AVFrame* dst);

}  // namespace media
