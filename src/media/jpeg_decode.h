// jpeg_decode: baseline and progressive 8-bit JPEGs decoded straight into
// RGBA rows by libjpeg-turbo, from bytes already in memory. The fast path of
// loading a photo; anything it does not take (CMYK, 12-bit, damaged data,
// oversized pictures) is left to the general decoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/image.h"

namespace media {

// True when the bytes start like a JPEG file (SOI and a marker).
bool looksLikeJpeg(const uint8_t* data, size_t size);

// Decodes data into *out (opaque RGBA, stored orientation) when the picture
// is 8-bit grey, RGB or YCbCr, at most maxPixels and its long edge at most
// maxEdge, and decodes without a single warning. False otherwise, *out
// untouched. Thread-safe.
bool decodeJpegFast(const uint8_t* data, size_t size, int maxEdge, int64_t maxPixels, Image* out);

}  // namespace media
