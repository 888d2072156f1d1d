#include "media/jpeg_decode.h"

// jpeglib.h needs size_t and FILE declared first.
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>

namespace media {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the decoding function. The functions that set the jump
// point hold only plain data, so nothing needs unwinding.
struct ErrorTrap {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1); }
void onMessage(j_common_ptr) {}  // warnings are counted, not printed

struct Header {
  int width = 0, height = 0;
  bool supported = false;
};

bool supportedSpace(J_COLOR_SPACE space) {
  return space == JCS_GRAYSCALE || space == JCS_YCbCr || space == JCS_RGB;
}

bool readHeader(const uint8_t* data, size_t size, Header* h) {
  jpeg_decompress_struct cinfo;
  ErrorTrap trap;
  cinfo.err = jpeg_std_error(&trap.mgr);
  trap.mgr.error_exit = onError;
  trap.mgr.output_message = onMessage;
  if (setjmp(trap.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  const bool ok = jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK;
  if (ok) {
    h->width = static_cast<int>(cinfo.image_width);
    h->height = static_cast<int>(cinfo.image_height);
    h->supported = cinfo.data_precision == 8 && supportedSpace(cinfo.jpeg_color_space) && trap.mgr.num_warnings == 0;
  }
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

// Decodes every row into pixels (width × height × 4 bytes).
bool decodeRows(const uint8_t* data, size_t size, uint8_t* pixels, int width, int height) {
  jpeg_decompress_struct cinfo;
  ErrorTrap trap;
  cinfo.err = jpeg_std_error(&trap.mgr);
  trap.mgr.error_exit = onError;
  trap.mgr.output_message = onMessage;
  if (setjmp(trap.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_RGBA;  // alpha written as 255
  cinfo.dct_method = JDCT_ISLOW;         // the exact integer transform
  jpeg_start_decompress(&cinfo);
  bool ok = static_cast<int>(cinfo.output_width) == width && static_cast<int>(cinfo.output_height) == height &&
            cinfo.output_components == 4;
  // Several rows per call: the decoder emits a whole row group at once.
  constexpr int kRowsPerCall = 16;
  JSAMPROW rows[kRowsPerCall];
  const size_t stride = static_cast<size_t>(width) * 4;
  while (ok && cinfo.output_scanline < cinfo.output_height) {
    const int first = static_cast<int>(cinfo.output_scanline);
    const int n = std::min(kRowsPerCall, height - first);
    for (int i = 0; i < n; ++i) rows[i] = pixels + static_cast<size_t>(first + i) * stride;
    if (jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(n)) == 0) ok = false;
  }
  // A damaged or cut-off file decodes with warnings (grey filler): the
  // general decoder decides what such a file gives.
  ok = ok && trap.mgr.num_warnings == 0;
  if (ok) jpeg_finish_decompress(&cinfo);
  ok = ok && trap.mgr.num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

}  // namespace

bool looksLikeJpeg(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool decodeJpegFast(const uint8_t* data, size_t size, int maxEdge, int64_t maxPixels, Image* out) {
  if (!looksLikeJpeg(data, size)) return false;
  Header h;
  if (!readHeader(data, size, &h) || !h.supported || h.width < 1 || h.height < 1) return false;
  if (static_cast<int64_t>(h.width) * h.height > maxPixels || std::max(h.width, h.height) > maxEdge) return false;
  Image img = Image::create(h.width, h.height, false);
  if (!img.valid()) return false;
  if (!decodeRows(data, size, img.pixels.data(), h.width, h.height)) return false;
  *out = std::move(img);
  return true;
}

}  // namespace media
