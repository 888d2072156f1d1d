// image_io: reads still images of many formats into a media::Image, reports
// their properties without decoding, and writes JPEG, PNG or WebP files with
// the edit signature. FFmpeg decodes and encodes; HEIF photos go through
// libheif, camera RAW files through LibRaw (media/raw.h).
//
// All functions are thread-safe and may run on worker threads; probing,
// loading and saving block on file I/O and codec work. Failures are a false
// result plus one error word: "UNSUPPORTED_FORMAT", "EMPTY_IMAGE",
// "OUT_OF_MEMORY", "ENCODER_FAILED" or "WRITE_FAILED"; success clears it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/image.h"

namespace media {

// Output format (settings key imageFormat).
enum class OutFormat : int { Auto = 0, Jpeg = 1, Png = 2, WebP = 3 };

// What the save and export flows ask for.
struct OutOptions {
  OutFormat format = OutFormat::Auto;
  int32_t quality = 90;       // 0 … 100, JPEG and lossy WebP
  std::string sourceFormat;   // "png", "webp" or "jpeg" (everything else)
  int32_t pngLevel = -1;      // PNG deflate level 0 … 9; -1 keeps the encoder's default
};

// The edit signature; when both are empty no metadata is written.
struct Meta {
  std::string software;
  std::string comment;
};

// Properties of an image file as it will be displayed.
struct ImageInfo {
  int32_t width = 0;           // after the EXIF orientation
  int32_t height = 0;
  std::string format;          // "JPEG", "PNG", "HEIC", "RAW", …
  std::string mime;            // "image/jpeg", …, "application/octet-stream"
  bool hasAlpha = false;       // the decoded pixel format carries alpha
  int32_t orientation = 1;     // EXIF 1 … 8 of the stored pixels; 1 when absent
                               // and for HEIF (its container turns the picture)
  std::string dateTime, make, model, software;
  double exposureTime = 0;     // seconds
  double fNumber = 0;
  int32_t iso = 0;
  double focalLength = 0;      // millimetres
};

// What this build reads and writes; built once, kept until exit.
struct Capabilities {
  std::vector<std::string> decode;  // of jpeg, png, webp, gif, bmp, tiff, heic, avif
  std::vector<std::string> encode;  // of jpeg, png, webp
  bool raw = false;
};

// Decoded pictures are shrunk to this long edge while converting.
inline constexpr int kMaxLoadEdge = 8000;
// Larger declared sizes are refused before decoding: a few bytes of header
// must not make the decoder allocate gigabytes (200 MP covers every camera).
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr int64_t kMaxSourcePixels = 16'000'000;  // each fuzz input must stay quick
#else
inline constexpr int64_t kMaxSourcePixels = 200'000'000;
#endif

// --- Formats ----------------------------------------------------------------
// The format a save really writes (never Auto): alpha forces PNG for JPEG,
// Auto follows the source's format.
OutFormat chooseFormat(const OutOptions& o, bool hasAlpha);
// ".png", ".webp", or ".jpg" for everything else.
const char* extensionFor(OutFormat f);
// Decoders and encoders available in this build; thread-safe.
const Capabilities& capabilities();

// --- Reading ----------------------------------------------------------------
// Properties without decoding the pixels. False when info is null.
bool probeImage(const std::string& path, ImageInfo* info, std::string* err);
// Decodes the first picture, applies the EXIF orientation and shrinks to
// kMaxLoadEdge. out and info are untouched on failure; info and err may be null.
bool loadImage(const std::string& path, Image* out, ImageInfo* info, std::string* err);

// --- Writing ----------------------------------------------------------------
// Encodes one picture in chooseFormat(o, img.hasAlpha) and writes it with the
// signature. The file appears complete or not at all: an existing file at path
// is replaced only after everything was written and flushed.
bool saveImage(const std::string& path, const Image& img, const OutOptions& o, const Meta& meta,
               std::string* err);
// A working file nobody but this program reads back: PNG stored without
// compression, no signature, not flushed to disk; still never seen half-written.
bool saveWorkingPng(const std::string& path, const Image& img, std::string* err);

}  // namespace media
