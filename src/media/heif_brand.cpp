#include "media/heif_brand.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace media {

namespace {

// Brands of the HEIF image and image-sequence profiles (ISO/IEC 23008-12).
constexpr const char kImageBrands[][5] = {"heic", "heix", "heim", "heis",
                                          "hevc", "hevx", "mif1", "msf1"};

// An ftyp box is a few dozen bytes; this bounds the read for odd files.
constexpr size_t kHeadBytes = 4096;

uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

bool isImageBrand(const uint8_t* p) {
  return std::any_of(std::begin(kImageBrands), std::end(kImageBrands),
                     [p](const char* brand) { return std::memcmp(p, brand, 4) == 0; });
}

bool isAv1Brand(const uint8_t* p) {
  return std::memcmp(p, "avif", 4) == 0 || std::memcmp(p, "avis", 4) == 0;
}

// Calls visit(brand) for the major brand, then each compatible brand inside
// the box, until visit returns true. False when there is no usable ftyp box.
template <typename Visit>
bool anyBrand(const uint8_t* data, size_t size, Visit visit) {
  if (!data || size < 12 || std::memcmp(data + 4, "ftyp", 4) != 0) return false;
  uint64_t boxSize = be32(data);
  size_t header = 8;
  if (boxSize == 1) {  // 64-bit size follows the type
    if (size < 16) return false;
    boxSize = (uint64_t{be32(data + 8)} << 32) | be32(data + 12);
    header = 16;
  } else if (boxSize == 0) {  // box runs to the end of the file
    boxSize = size;
  }
  if (boxSize < header + 8) return false;  // needs major brand and minor version
  const size_t end = static_cast<size_t>(std::min<uint64_t>(boxSize, size));
  if (end < header + 4) return false;
  if (visit(data + header)) return true;
  // Compatible brands follow the major brand and the minor version.
  for (size_t at = header + 8; at + 4 <= end; at += 4) {
    if (visit(data + at)) return true;
  }
  return false;
}

// The first bytes of a file; an ftyp box is a few dozen bytes.
size_t readHead(const std::string& path, uint8_t (&head)[kHeadBytes]) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t have = 0;
  while (have < sizeof head) {
    const ssize_t n = ::read(fd, head + have, sizeof head - have);
    if (n > 0) {
      have += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(fd);
  return have;
}

}  // namespace

bool isHeifStillBytes(const uint8_t* data, size_t size) {
  return anyBrand(data, size, isImageBrand);
}

bool isHeicStillBytes(const uint8_t* data, size_t size) {
  // The generic brands (mif1, msf1) are shared with AVIF, which FFmpeg reads.
  return isHeifStillBytes(data, size) && !anyBrand(data, size, isAv1Brand);
}

bool isHeifStill(const std::string& path) {
  uint8_t head[kHeadBytes];
  return isHeifStillBytes(head, readHead(path, head));
}

bool isHeicStill(const std::string& path) {
  uint8_t head[kHeadBytes];
  return isHeicStillBytes(head, readHead(path, head));
}

}  // namespace media
