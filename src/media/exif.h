// exif: the few EXIF fields the program shows or uses (read from JPEG, WebP
// and TIFF files) and the edit signature stamped on saved JPEG, PNG and WebP
// files. Self-contained: no outside library.
//
// Every read is bounds-checked: a value, offset or count that points outside
// the data yields the field's default, never a read past the buffer. All
// functions are thread-safe (no shared mutable state).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media {

// The fields the program knows; defaults mean "absent".
struct ExifData {
  int32_t orientation = 1;     // 274 Orientation
  std::string dateTime;        // 36867 DateTimeOriginal, else 306 DateTime
  std::string make;            // 271
  std::string model;           // 272
  std::string software;        // 305
  std::string description;     // 270 ImageDescription
  double exposureTime = 0;     // 33434, seconds
  double fNumber = 0;          // 33437
  int32_t iso = 0;             // 34855 ISOSpeedRatings
  double focalLength = 0;      // 37386, millimetres
  bool valid = false;          // a TIFF header was accepted
};

// --- Reading ----------------------------------------------------------------
// EXIF of a JPEG, WebP or TIFF file (first 256 KiB only); defaults when there
// is none or the file is unreadable. Blocks on file I/O; never fails.
ExifData readExif(const std::string& path);
// The same on the bytes of a file (or its start) already in memory.
ExifData readExifFromFileBytes(const uint8_t* data, size_t size);
// Parses a TIFF-structured block ("II" or "MM" header): IFD0 and the EXIF IFD.
ExifData parseExifBlock(const uint8_t* data, size_t size);

// --- Signature --------------------------------------------------------------
// Local time in the EXIF date format "YYYY:MM:DD hh:mm:ss".
std::string exifNow();
// Little-endian TIFF block with ImageDescription, Software and DateTime (each
// only when non-empty); empty when all three are empty.
std::vector<uint8_t> buildExif(const std::string& software, const std::string& description,
                               const std::string& dateTime);
// Adds the signature to an encoded JPEG, PNG or WebP file held in memory.
// False, with the bytes untouched, for other formats, a PNG without IEND, a
// WebP whose RIFF size disagrees with its length, or a block too large.
bool addSignature(std::vector<uint8_t>& file, const std::string& software,
                  const std::string& description, const std::string& dateTime);
// Rewrites the file at path with the signature added. The new content goes
// to a temporary file beside it that replaces the original only when complete,
// so a failure leaves the original as it was. Blocks on file I/O.
bool writeSignature(const std::string& path, const std::string& software,
                    const std::string& description, const std::string& dateTime);

}  // namespace media
