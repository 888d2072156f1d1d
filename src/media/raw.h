// raw: camera RAW photos, recognised by their file extension and developed
// with LibRaw into an 8-bit RGB picture.
//
// All functions are thread-safe (each call uses its own LibRaw processor);
// probing and loading block on file I/O and decoding.
#pragma once

#include <string>
#include <vector>

#include "media/image.h"

namespace media {

// --- Recognition ------------------------------------------------------------
// Upper-case extensions without dot: DNG, CR2, CR3, NEF, ARW, ORF, RAF, RW2,
// SRW, PEF, SRF, X3F, 3FR, IIQ, CRW.
const std::vector<std::string>& rawExtensions();
// The text after the last '.' names a RAW format (any case).
bool isRawPath(const std::string& path);
// RAW support is always built in.
bool rawSupported();

// --- Decoding ---------------------------------------------------------------
// Displayed size (a quarter-turn orientation swaps the sides) without
// developing. Fails with "UNSUPPORTED_FORMAT".
bool probeRaw(const std::string& path, int* width, int* height, std::string* err);
// Develops the photo with the camera's white balance and orientation. With
// maxEdge > 0 and a sensor more than twice that size, develops at half size
// (four times faster); 0 means full size. Fails with "UNSUPPORTED_FORMAT" or
// "OUT_OF_MEMORY"; out is untouched on failure.
bool loadRaw(const std::string& path, int maxEdge, Image* out, std::string* err);

}  // namespace media
