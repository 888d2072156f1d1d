// heif_brand: tells HEIF still-image files (phone HEIC photos, and AVIF,
// which shares the container) by the brands of their leading "ftyp" box.
// FFmpeg sees the picture inside as an HEVC or AV1 stream, so without this
// test a phone photo would pass for a video.
//
// All functions are thread-safe; those taking a path block for one small read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace media {

// True when the file begins with an "ftyp" box whose major brand or one of
// whose compatible brands is an image brand: heic, heix, heim, heis, hevc,
// hevx, mif1, msf1. False for anything else, including unreadable files.
bool isHeifStill(const std::string& path);

// The same test on the first bytes of a file (at least the whole ftyp box
// for the compatible brands to count).
bool isHeifStillBytes(const uint8_t* data, size_t size);

// True for the HEIF stills whose picture is not AV1: isHeifStill, but no
// "avif" or "avis" brand. These are decoded with libheif; AVIF goes through
// FFmpeg.
bool isHeicStill(const std::string& path);
bool isHeicStillBytes(const uint8_t* data, size_t size);

}  // namespace media
