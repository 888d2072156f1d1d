#include "media/heif.h"

#include <cstring>
#include <memory>
#include <vector>

#include <libheif/heif.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "media/av_util.h"
#include "media/errors.h"
#include "media/frame_convert.h"
#include "media/image_io.h"
#include "platform/free_with.h"

namespace media {
namespace {

// Larger EXIF items are not camera metadata worth reading.
constexpr size_t kMaxExifItemBytes = 4 * 1024 * 1024;

using ContextPtr = std::unique_ptr<heif_context, platform::FreeWith<heif_context_free>>;
using HandlePtr = std::unique_ptr<heif_image_handle, platform::FreeWith<heif_image_handle_release>>;
using HeifImagePtr = std::unique_ptr<heif_image, platform::FreeWith<heif_image_release>>;

using err::setError;

// libheif loads its decoder plugins in heif_init; once per process is enough.
void initOnce() {
  static const bool initialised = [] {
    heif_init(nullptr);
    return true;
  }();
  (void)initialised;
}

// An opened file with its primary image.
struct Primary {
  ContextPtr ctx;
  HandlePtr handle;
};

bool openPrimary(const std::string& path, Primary* p, std::string* err) {
  initOnce();
  p->ctx.reset(heif_context_alloc());
  if (!p->ctx) {
    setError(err, err::kOutOfMemory);
    return false;
  }
  heif_image_handle* h = nullptr;
  if (heif_context_read_from_file(p->ctx.get(), path.c_str(), nullptr).code != heif_error_Ok ||
      heif_context_get_primary_image_handle(p->ctx.get(), &h).code != heif_error_Ok) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  p->handle.reset(h);
  return true;
}

// The EXIF item starts with a 32-bit big-endian offset to the TIFF header.
ExifData readExifItem(const heif_image_handle* h) {
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(h, "Exif", &id, 1) < 1) return {};
  const size_t size = heif_image_handle_get_metadata_size(h, id);
  if (size < 4 || size > kMaxExifItemBytes) return {};
  std::vector<uint8_t> data(size);
  if (heif_image_handle_get_metadata(h, id, data.data()).code != heif_error_Ok) return {};
  const size_t skip = size_t(data[0]) << 24 | size_t(data[1]) << 16 | size_t(data[2]) << 8 | data[3];
  if (skip > size - 4) return {};
  return parseExifBlock(data.data() + 4 + skip, size - 4 - skip);
}

bool describe(const heif_image_handle* h, HeifInfo* info, std::string* err) {
  info->width = heif_image_handle_get_width(h);
  info->height = heif_image_handle_get_height(h);
  info->hasAlpha = heif_image_handle_has_alpha_channel(h) != 0;
  if (info->width < 1 || info->height < 1 ||
      int64_t(info->width) * info->height > kMaxSourcePixels) {
    setError(err, err::kUnsupportedFormat);
    return false;
  }
  info->exif = readExifItem(h);
  return true;
}

}  // namespace

bool heifSupported() {
  initOnce();
  return heif_have_decoder_for_format(heif_compression_HEVC) != 0;
}

bool probeHeif(const std::string& path, HeifInfo* info, std::string* err) {
  Primary p;
  HeifInfo found;
  if (!openPrimary(path, &p, err) || !describe(p.handle.get(), &found, err)) return false;
  *info = std::move(found);
  return true;
}

bool loadHeif(const std::string& path, int maxEdge, Image* out, HeifInfo* info, std::string* err) {
  Primary p;
  HeifInfo found;
  if (!openPrimary(path, &p, err) || !describe(p.handle.get(), &found, err)) return false;

  heif_image* decoded = nullptr;
  const heif_chroma chroma = found.hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
  heif_error e = heif_decode_image(p.handle.get(), &decoded, heif_colorspace_RGB, chroma, nullptr);
  HeifImagePtr img(decoded);
  if (e.code != heif_error_Ok || !img) {
    setError(err, e.code == heif_error_Memory_allocation_error ? err::kOutOfMemory : err::kUnsupportedFormat);
    return false;
  }
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(img.get(), heif_channel_interleaved, &stride);
  av::FramePtr frame = av::makeFrame();
  if (plane == nullptr || !frame) {
    setError(err, plane == nullptr ? err::kUnsupportedFormat : err::kOutOfMemory);
    return false;
  }
  // A view of libheif's buffer; the conversion only reads it.
  frame->data[0] = const_cast<uint8_t*>(plane);
  frame->linesize[0] = stride;
  frame->width = heif_image_get_width(img.get(), heif_channel_interleaved);
  frame->height = heif_image_get_height(img.get(), heif_channel_interleaved);
  frame->format = found.hasAlpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
  if (!convertToImage(*frame, maxEdge, found.hasAlpha, out, err)) return false;
  if (info != nullptr) *info = std::move(found);
  return true;
}

}  // namespace media
