#include "media/exif.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "platform/fs.h"

namespace media {
namespace {

// Only the start of a file is read: EXIF sits in the first segments or chunks.
constexpr size_t kHeadBytes = 0x40000;

// Byte size per TIFF field type 1 … 12 (index 0 unused).
constexpr std::array<uint8_t, 13> kTypeSize = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr std::array<uint8_t, 8> kPngSig = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

enum : uint16_t {
  kTagDescription = 270,
  kTagMake = 271,
  kTagModel = 272,
  kTagOrientation = 274,
  kTagSoftware = 305,
  kTagDateTime = 306,
  kTagExposure = 33434,
  kTagFNumber = 33437,
  kTagExifIfd = 34665,
  kTagIso = 34855,
  kTagDateOriginal = 36867,
  kTagFocalLength = 37386,
};

enum : uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kUndefined = 7,
                  kSRational = 10 };

bool startsWith(const uint8_t* data, size_t size, const void* prefix, size_t n) {
  return size >= n && std::memcmp(data, prefix, n) == 0;
}

// A TIFF-structured block with its byte order. Every accessor checks bounds.
class Block {
 public:
  Block(const uint8_t* data, size_t size, bool bigEndian)
      : data_(data), size_(size), big_(bigEndian) {}

  size_t size() const { return size_; }
  const uint8_t* at(size_t off) const { return data_ + off; }
  bool fits(size_t off, uint64_t len) const { return off <= size_ && len <= size_ - off; }

  bool u16(size_t off, uint32_t* v) const {
    if (!fits(off, 2)) return false;
    const uint8_t* p = data_ + off;
    *v = big_ ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
    return true;
  }
  bool u32(size_t off, uint32_t* v) const {
    if (!fits(off, 4)) return false;
    const uint8_t* p = data_ + off;
    *v = big_ ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
              : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  bool big_;
};

// One IFD entry with the position of its value inside the block.
struct Entry {
  uint32_t tag = 0;
  uint32_t type = 0;
  uint32_t count = 0;
  size_t valuePos = 0;
  uint64_t byteLength() const { return uint64_t(kTypeSize[type]) * count; }
};

bool validUtf8(const std::string& s) {
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t extra = 0;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
    } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (extra > n - i - 1) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

// EXIF texts are meant to be ASCII; cameras and tools sometimes write Latin-1.
// The rest of the program needs UTF-8, so anything else is read as Latin-1.
std::string toUtf8(const std::string& s) {
  if (validUtf8(s)) return s;
  std::string out;
  out.reserve(s.size() * 2);
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// At most count bytes, limited by the block end, up to the first NUL; then
// trailing spaces go.
std::string readAscii(const Block& b, const Entry& e) {
  if (e.type != kAscii && e.type != kByte && e.type != kUndefined) return {};
  if (e.valuePos >= b.size()) return {};
  size_t n = std::min<uint64_t>(e.count, b.size() - e.valuePos);
  const auto* p = reinterpret_cast<const char*>(b.at(e.valuePos));
  const void* nul = std::memchr(p, 0, n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - p);
  while (n > 0 && p[n - 1] == ' ') --n;
  return toUtf8(std::string(p, n));
}

bool readUnsigned(const Block& b, const Entry& e, uint32_t* v) {
  if (e.count < 1) return false;
  switch (e.type) {
    case kByte:
      if (!b.fits(e.valuePos, 1)) return false;
      *v = *b.at(e.valuePos);
      return true;
    case kShort:
      return b.u16(e.valuePos, v);
    case kLong:
      return b.u32(e.valuePos, v);
    default:
      return false;
  }
}

// num / den as a double; 0 when den is 0 or the value is missing.
double readRational(const Block& b, const Entry& e) {
  uint32_t num = 0, den = 0;
  if (e.count < 1 || (e.type != kRational && e.type != kSRational)) return 0;
  if (!b.u32(e.valuePos, &num) || !b.u32(e.valuePos + 4, &den) || den == 0) return 0;
  if (e.type == kSRational) return double(int32_t(num)) / double(int32_t(den));
  return double(num) / double(den);
}

void apply(const Block& b, const Entry& e, ExifData* out, uint32_t* exifIfd) {
  uint32_t u = 0;
  switch (e.tag) {
    case kTagOrientation:
      if (readUnsigned(b, e, &u)) out->orientation = static_cast<int32_t>(u & 0xFFFF);
      break;
    case kTagMake: out->make = readAscii(b, e); break;
    case kTagModel: out->model = readAscii(b, e); break;
    case kTagSoftware: out->software = readAscii(b, e); break;
    case kTagDescription: out->description = readAscii(b, e); break;
    case kTagDateTime:
      if (out->dateTime.empty()) out->dateTime = readAscii(b, e);
      break;
    case kTagDateOriginal: {
      std::string d = readAscii(b, e);
      if (!d.empty()) out->dateTime = d;
      break;
    }
    case kTagExposure: out->exposureTime = readRational(b, e); break;
    case kTagFNumber: out->fNumber = readRational(b, e); break;
    case kTagFocalLength: out->focalLength = readRational(b, e); break;
    case kTagIso:
      if (readUnsigned(b, e, &u)) out->iso = static_cast<int32_t>(u & 0x7FFFFFFF);
      break;
    case kTagExifIfd:
      if (exifIfd != nullptr && readUnsigned(b, e, &u)) *exifIfd = u;
      break;
    default: break;
  }
}

// Reads the entries of one IFD; the EXIF sub-IFD offset is reported, not followed.
void parseIfd(const Block& b, size_t off, ExifData* out, uint32_t* exifIfd) {
  uint32_t n = 0;
  if (!b.u16(off, &n) || n == 0 || !b.fits(off, 14)) return;
  for (uint32_t i = 0; i < n; ++i) {
    size_t pos = off + 2 + size_t(i) * 12;
    if (!b.fits(pos, 12)) break;
    Entry e;
    b.u16(pos, &e.tag);
    b.u16(pos + 2, &e.type);
    b.u32(pos + 4, &e.count);
    if (e.type < 1 || e.type > 12) continue;
    if (e.byteLength() > 4) {
      uint32_t valueOff = 0;
      b.u32(pos + 8, &valueOff);
      e.valuePos = valueOff;
    } else {
      e.valuePos = pos + 8;
    }
    apply(b, e, out, exifIfd);
  }
}

// The EXIF block inside a JPEG: the first APP1 "Exif" segment before the scan.
bool findJpegBlock(const uint8_t* d, size_t n, size_t* off, size_t* len) {
  size_t pos = 2;
  while (pos + 4 <= n) {
    if (d[pos] != 0xFF) return false;
    uint8_t marker = d[pos + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++pos;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
      pos += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return false;
    size_t segLen = size_t(d[pos + 2]) << 8 | d[pos + 3];
    if (segLen < 2 || pos + 2 + segLen > n) return false;
    if (marker == 0xE1 && segLen >= 9 && startsWith(d + pos + 4, segLen - 2, kExifHeader, 6)) {
      *off = pos + 10;
      *len = segLen - 8;
      return true;
    }
    pos += 2 + segLen;
  }
  return false;
}

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putLe16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void putLe32(std::vector<uint8_t>& v, uint32_t x) {
  putLe16(v, x & 0xFFFF);
  putLe16(v, x >> 16);
}
void setLe32(uint8_t* p, uint32_t x) {
  p[0] = uint8_t(x);
  p[1] = uint8_t(x >> 8);
  p[2] = uint8_t(x >> 16);
  p[3] = uint8_t(x >> 24);
}
void putBe32(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x >> 24));
  v.push_back(uint8_t(x >> 16));
  v.push_back(uint8_t(x >> 8));
  v.push_back(uint8_t(x));
}

bool isWebP(const uint8_t* d, size_t n) {
  return n >= 20 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WEBP", 4) == 0;
}

// The data of the WebP "EXIF" chunk, if it lies within the bytes.
bool findWebPBlock(const uint8_t* d, size_t n, size_t* off, size_t* len) {
  size_t pos = 12;
  while (pos + 8 <= n) {
    size_t size = le32(d + pos + 4);
    if (std::memcmp(d + pos, "EXIF", 4) == 0) {
      if (size > n - pos - 8) return false;
      *off = pos + 8;
      *len = size;
      return true;
    }
    pos += 8 + size + (size & 1);
  }
  return false;
}

// ---- Signature -------------------------------------------------------------

const std::array<uint32_t, 256>& crcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

uint32_t pngCrc(const uint8_t* p, size_t n) {
  const auto& t = crcTable();
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = t[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// Latin-1 bytes of a UTF-8 text whose characters all lie below U+0100.
bool toLatin1(const std::string& s, std::string* out) {
  if (!validUtf8(s)) return false;
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size()) {
      *out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F));
    } else {
      return false;
    }
  }
  return true;
}

// One text chunk. tEXt holds Latin-1 only, so a text beyond it (the
// description is translated) goes into an uncompressed UTF-8 iTXt chunk.
void appendPngText(std::vector<uint8_t>& out, const char* keyword, const std::string& text) {
  std::string latin1;
  const bool plain = toLatin1(text, &latin1);
  std::vector<uint8_t> chunk;
  const char* type = plain ? "tEXt" : "iTXt";
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), keyword, keyword + std::strlen(keyword));
  chunk.push_back(0);
  if (plain) {
    chunk.insert(chunk.end(), latin1.begin(), latin1.end());
  } else {
    // compression flag, method, empty language tag, empty translated keyword
    const uint8_t itxtHeader[4] = {0, 0, 0, 0};
    chunk.insert(chunk.end(), itxtHeader, itxtHeader + 4);
    chunk.insert(chunk.end(), text.begin(), text.end());
  }
  putBe32(out, static_cast<uint32_t>(chunk.size() - 4));
  out.insert(out.end(), chunk.begin(), chunk.end());
  putBe32(out, pngCrc(chunk.data(), chunk.size()));
}

bool signJpeg(std::vector<uint8_t>& file, const std::vector<uint8_t>& block) {
  if (block.empty() || block.size() + 8 > 0xFFFF) return false;
  const size_t segLen = block.size() + 8;
  std::vector<uint8_t> out;
  out.reserve(file.size() + segLen + 2);
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, uint8_t(segLen >> 8), uint8_t(segLen & 0xFF)};
  out.insert(out.end(), std::begin(head), std::end(head));
  out.insert(out.end(), std::begin(kExifHeader), std::end(kExifHeader));
  out.insert(out.end(), block.begin(), block.end());
  out.insert(out.end(), file.begin() + 2, file.end());
  file.swap(out);
  return true;
}

// Where the text chunks go: before the first image data chunk, where every
// reader sees them; right before IEND if the chunk chain cannot be followed.
size_t pngTextPosition(const std::vector<uint8_t>& file) {
  const size_t iend = file.size() - 12;
  size_t pos = kPngSig.size();
  while (pos + 8 <= iend) {
    const uint8_t* p = file.data() + pos;
    const size_t len = size_t(p[0]) << 24 | size_t(p[1]) << 16 | size_t(p[2]) << 8 | p[3];
    if (std::memcmp(p + 4, "IDAT", 4) == 0) return pos;
    if (len > iend - pos - 12) break;
    pos += 12 + len;
  }
  return iend;
}

bool signPng(std::vector<uint8_t>& file, const std::string& software,
             const std::string& description, const std::string& dateTime) {
  const size_t n = file.size();
  // The last chunk must be a whole, empty IEND: length 0, type, CRC.
  if (n < kPngSig.size() + 12 || std::memcmp(file.data() + n - 8, "IEND", 4) != 0 ||
      le32(file.data() + n - 12) != 0) {
    return false;
  }
  if (software.empty() && description.empty() && dateTime.empty()) return false;
  std::vector<uint8_t> texts;
  if (!software.empty()) appendPngText(texts, "Software", software);
  if (!description.empty()) appendPngText(texts, "Description", description);
  if (!dateTime.empty()) appendPngText(texts, "Creation Time", dateTime);
  const size_t at = pngTextPosition(file);
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), texts.begin(), texts.end());
  return true;
}

// Canvas size and alpha of a simple (single-chunk) WebP from its bitstream
// header, for the extended header that must announce metadata chunks.
bool simpleWebPCanvas(const std::vector<uint8_t>& f, uint32_t* w, uint32_t* h, bool* alpha) {
  if (f.size() < 30) return false;
  const uint8_t* c = f.data() + 12;
  const uint8_t* p = c + 8;
  if (std::memcmp(c, "VP8 ", 4) == 0) {
    if (p[3] != 0x9D || p[4] != 0x01 || p[5] != 0x2A) return false;
    *w = (p[6] | p[7] << 8) & 0x3FFF;
    *h = (p[8] | p[9] << 8) & 0x3FFF;
    *alpha = false;
    return *w > 0 && *h > 0;
  }
  if (std::memcmp(c, "VP8L", 4) == 0) {
    if (p[0] != 0x2F) return false;
    uint32_t bits = le32(p + 1);
    *w = (bits & 0x3FFF) + 1;
    *h = ((bits >> 14) & 0x3FFF) + 1;
    *alpha = ((bits >> 28) & 1) != 0;
    return true;
  }
  return false;
}

bool signWebP(std::vector<uint8_t>& file, const std::vector<uint8_t>& block) {
  if (block.empty() || block.size() > 0xFFFFFF00u) return false;
  // Appending after trailing bytes outside the RIFF would make a broken file.
  if (le32(file.data() + 4) != file.size() - 8 || (file.size() & 1) != 0) return false;
  constexpr uint8_t kFlagExif = 0x08, kFlagAlpha = 0x10;
  std::vector<uint8_t> out;
  out.reserve(file.size() + block.size() + 32);
  if (std::memcmp(file.data() + 12, "VP8X", 4) == 0) {
    if (file.size() < 30) return false;
    out = file;
    out[20] |= kFlagExif;
  } else {
    uint32_t w = 0, h = 0;
    bool alpha = false;
    out.assign(file.begin(), file.begin() + 12);
    if (simpleWebPCanvas(file, &w, &h, &alpha)) {
      out.insert(out.end(), {'V', 'P', '8', 'X'});
      putLe32(out, 10);
      out.push_back(uint8_t(kFlagExif | (alpha ? kFlagAlpha : 0)));
      out.insert(out.end(), {0, 0, 0});
      for (uint32_t v : {w - 1, h - 1}) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v >> 16));
      }
    }
    out.insert(out.end(), file.begin() + 12, file.end());
  }
  out.insert(out.end(), {'E', 'X', 'I', 'F'});
  putLe32(out, static_cast<uint32_t>(block.size()));
  out.insert(out.end(), block.begin(), block.end());
  if (block.size() & 1) out.push_back(0);
  if (out.size() - 8 > 0xFFFFFFFFu) return false;
  setLe32(out.data() + 4, static_cast<uint32_t>(out.size() - 8));
  file.swap(out);
  return true;
}

bool readWhole(const std::string& path, std::vector<uint8_t>* out, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->clear();
  std::vector<uint8_t> buf(64 * 1024);
  while (out->size() < limit) {
    size_t want = std::min(buf.size(), limit - out->size());
    in.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(want));
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    out->insert(out->end(), buf.begin(), buf.begin() + got);
  }
  return !in.bad();
}

}  // namespace

ExifData parseExifBlock(const uint8_t* data, size_t size) {
  ExifData out;
  if (data == nullptr || size < 8) return out;
  bool big;
  if (data[0] == 'I' && data[1] == 'I') {
    big = false;
  } else if (data[0] == 'M' && data[1] == 'M') {
    big = true;
  } else {
    return out;
  }
  Block b(data, size, big);
  uint32_t magic = 0, ifd0 = 0;
  b.u16(2, &magic);
  b.u32(4, &ifd0);
  if (magic != 42) return out;
  out.valid = true;
  uint32_t exifIfd = 0;
  parseIfd(b, ifd0, &out, &exifIfd);
  if (exifIfd != 0) parseIfd(b, exifIfd, &out, nullptr);
  return out;
}

ExifData readExifFromFileBytes(const uint8_t* d, size_t n) {
  if (d == nullptr || n < 12) return {};
  size_t off = 0, len = 0;
  bool found = false;
  if (d[0] == 0xFF && d[1] == 0xD8) {
    found = findJpegBlock(d, n, &off, &len);
  } else if (isWebP(d, n)) {
    found = findWebPBlock(d, n, &off, &len);
    // Some writers keep the JPEG "Exif\0\0" prefix inside the chunk.
    if (found && startsWith(d + off, len, kExifHeader, 6)) {
      off += 6;
      len -= 6;
    }
  } else if ((d[0] == 'I' && d[1] == 'I' && d[2] == 42 && d[3] == 0) ||
             (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && d[3] == 42)) {
    // A TIFF file is itself a TIFF-structured block.
    found = true;
    len = n;
  }
  if (!found) return {};
  return parseExifBlock(d + off, len);
}

ExifData readExif(const std::string& path) {
  std::vector<uint8_t> head;
  if (!readWhole(path, &head, kHeadBytes)) return {};
  return readExifFromFileBytes(head.data(), head.size());
}

std::string exifNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d:%02d:%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::vector<uint8_t> buildExif(const std::string& software, const std::string& description,
                               const std::string& dateTime) {
  struct Field {
    uint16_t tag;
    const std::string* text;
  };
  std::vector<Field> fields;
  for (Field f : {Field{kTagDescription, &description}, Field{kTagSoftware, &software},
                  Field{kTagDateTime, &dateTime}}) {
    if (!f.text->empty()) fields.push_back(f);
  }
  if (fields.empty()) return {};
  const size_t n = fields.size();
  std::vector<uint8_t> out = {'I', 'I'};
  putLe16(out, 42);
  putLe32(out, 8);
  putLe16(out, static_cast<uint32_t>(n));
  std::vector<uint8_t> area;
  const size_t areaStart = 14 + 12 * n;
  for (const Field& f : fields) {
    const size_t len = f.text->size() + 1;  // with the terminating NUL
    putLe16(out, f.tag);
    putLe16(out, kAscii);
    putLe32(out, static_cast<uint32_t>(len));
    if (len <= 4) {
      uint8_t inl[4] = {0, 0, 0, 0};
      std::memcpy(inl, f.text->data(), f.text->size());
      out.insert(out.end(), inl, inl + 4);
    } else {
      putLe32(out, static_cast<uint32_t>(areaStart + area.size()));
      area.insert(area.end(), f.text->begin(), f.text->end());
      area.push_back(0);
      if (area.size() & 1) area.push_back(0);
    }
  }
  putLe32(out, 0);  // no next IFD
  out.insert(out.end(), area.begin(), area.end());
  return out;
}

bool addSignature(std::vector<uint8_t>& file, const std::string& software,
                  const std::string& description, const std::string& dateTime) {
  if (file.size() < 12) return false;
  const uint8_t* d = file.data();
  if (d[0] == 0xFF && d[1] == 0xD8) return signJpeg(file, buildExif(software, description, dateTime));
  if (std::memcmp(d, kPngSig.data(), kPngSig.size()) == 0) {
    return signPng(file, software, description, dateTime);
  }
  if (isWebP(d, file.size())) return signWebP(file, buildExif(software, description, dateTime));
  return false;
}

bool writeSignature(const std::string& path, const std::string& software,
                    const std::string& description, const std::string& dateTime) {
  std::vector<uint8_t> file;
  if (!readWhole(path, &file, SIZE_MAX) || file.size() < 12) return false;
  if (!addSignature(file, software, description, dateTime)) return false;
  return platform::fs::replaceFile(path, file.data(), file.size());
}

}  // namespace media
