#include "media/raw.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <libraw/libraw.h>

#include "media/errors.h"
#include "media/image_io.h"
#include "platform/log.h"

namespace media {
namespace {

using err::setError;

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Processor with its memory image released on every path.
struct MemImageFree {
  void operator()(libraw_processed_image_t* m) const { LibRaw::dcraw_clear_mem(m); }
};

std::unique_ptr<LibRaw> newProcessor() {
  // LibRaw holds its working set inline: far too large for a thread's stack.
  return std::unique_ptr<LibRaw>(new (std::nothrow) LibRaw(LIBRAW_OPTIONS_NONE));
}

// Opens the file; a sensor beyond the pixel limit is refused before unpacking.
bool openRaw(LibRaw& raw, const std::string& path, const char* what, std::string* err) {
  const int rc = raw.open_file(path.c_str());
  if (rc != LIBRAW_SUCCESS) {
    diag::write("raw", std::string(what) + ": " + libraw_strerror(rc));
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  const auto& s = raw.imgdata.sizes;
  if (s.width < 1 || s.height < 1 || int64_t(s.raw_width) * s.raw_height > kMaxSourcePixels) {
    diag::write("raw", std::string(what) + ": Bildgroesse unzulaessig");
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  return true;
}

}  // namespace

const std::vector<std::string>& rawExtensions() {
  // CRW last: Canon's older format, which LibRaw develops as well.
  static const std::vector<std::string> list = {"DNG", "CR2", "CR3", "NEF", "ARW", "ORF", "RAF", "RW2",
                                                "SRW", "PEF", "SRF", "X3F", "3FR", "IIQ", "CRW"};
  return list;
}

bool isRawPath(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = upper(path.substr(dot + 1));
  const auto& list = rawExtensions();
  return std::find(list.begin(), list.end(), ext) != list.end();
}

bool rawSupported() { return true; }

bool probeRaw(const std::string& path, int* width, int* height, std::string* err) {
  std::unique_ptr<LibRaw> raw = newProcessor();
  if (!raw) {
    setError(err, err::kOutOfMemory);
    return false;
  }
  if (!openRaw(*raw, path, "open_file (probe)", err)) return false;
  const auto& s = raw->imgdata.sizes;
  const bool quarterTurn = s.flip == 5 || s.flip == 6;
  if (width != nullptr) *width = quarterTurn ? s.height : s.width;
  if (height != nullptr) *height = quarterTurn ? s.width : s.height;
  return true;
}

bool loadRaw(const std::string& path, int maxEdge, Image* out, std::string* err) {
  std::unique_ptr<LibRaw> raw = newProcessor();
  if (!raw) {
    setError(err, err::kOutOfMemory);
    return false;
  }
  auto& params = raw->imgdata.params;
  params.output_bps = 8;
  params.use_camera_wb = 1;
  params.user_flip = -1;
  params.half_size = 0;
  if (!openRaw(*raw, path, "open_file", err)) return false;

  const auto& s = raw->imgdata.sizes;
  const bool half = maxEdge > 0 && 2 * maxEdge < std::max<int>(s.width, s.height);
  params.half_size = half ? 1 : 0;

  int rc = raw->unpack();
  if (rc != LIBRAW_SUCCESS) {
    diag::write("raw", std::string("unpack: ") + libraw_strerror(rc));
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  rc = raw->dcraw_process();
  if (rc != LIBRAW_SUCCESS) {
    diag::write("raw", std::string("dcraw_process: ") + libraw_strerror(rc));
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  std::unique_ptr<libraw_processed_image_t, MemImageFree> mem(raw->dcraw_make_mem_image(&rc));
  if (!mem || mem->type != LIBRAW_IMAGE_BITMAP || mem->colors < 3 || mem->bits != 8) {
    diag::write("raw", "make_mem_image: unerwartetes Bildformat aus LibRaw");
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  const size_t need = size_t(mem->width) * mem->height * mem->colors;
  if (mem->width < 1 || mem->height < 1 || mem->data_size < need) {
    diag::write("raw", "make_mem_image: unerwartetes Bildformat aus LibRaw");
    setError(err, err::kUnsupportedFormat);
    return false;
  }

  Image img = Image::create(mem->width, mem->height, false);
  if (!img.valid()) {
    setError(err, err::kOutOfMemory);
    return false;
  }
  const int colors = mem->colors;
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* src = mem->data + size_t(y) * img.width * colors;
    uint8_t* dst = img.row(y);
    for (int x = 0; x < img.width; ++x, src += colors, dst += 4) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = 255;
    }
  }
  diag::write("raw", "entwickelt: " + path + " (" + std::to_string(img.width) + "x" +
                         std::to_string(img.height) + ")" + (half ? " (halbe Aufloesung)" : ""));
  *out = std::move(img);
  return true;
}

}  // namespace media
