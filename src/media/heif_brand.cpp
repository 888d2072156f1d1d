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

}  // namespace

bool isHeifStillBytes(const uint8_t* data, size_t size) {
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
  if (isImageBrand(data + header)) return true;
  // Compatible brands follow the major brand and the minor version.
  for (size_t at = header + 8; at + 4 <= end; at += 4) {
    if (isImageBrand(data + at)) return true;
  }
  return false;
}

bool isHeifStill(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t head[kHeadBytes];
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
  return isHeifStillBytes(head, have);
}

}  // namespace media
