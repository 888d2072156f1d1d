#include "media/image_io.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "media/av_util.h"
#include "media/errors.h"
#include "media/exif.h"
#include "media/ffmpeg_compat.h"
#include "media/frame_convert.h"
#include "media/heif.h"
#include "media/heif_brand.h"
#include "media/heif_props.h"
#include "media/jpeg_decode.h"
#include "media/raw.h"
#include "platform/fs.h"

namespace media {
namespace {

using av::CodecPtr;
using av::FormatPtr;
using av::FramePtr;
using av::PacketPtr;

// Options dictionaries, freed on every path.
class Dict {
 public:
  Dict() = default;
  ~Dict() { av_dict_free(&d_); }
  Dict(const Dict&) = delete;
  Dict& operator=(const Dict&) = delete;
  void set(const char* key, const char* value) { av_dict_set(&d_, key, value, 0); }
  AVDictionary** addr() { return &d_; }

 private:
  AVDictionary* d_ = nullptr;
};

bool fail(std::string* err, const char* word) {
  if (err != nullptr) *err = word;
  return false;
}

void succeed(std::string* err) {
  if (err != nullptr) err->clear();
}

// ---- Opening ---------------------------------------------------------------

// A demuxer with a decoder for the first video stream (a still image is a
// one-picture video stream to FFmpeg).
struct Source {
  FormatPtr fmt;
  CodecPtr dec;
  int stream = -1;
};

// Working files: stored without compression. On a 24-megapixel photo level 0
// writes five times faster than level 1 and reads back faster, for files a
// half larger (bench_edit_apply); the writer then leaves the processor to the
// next edit sooner.
constexpr int kWorkingPngLevel = 0;

bool tooLarge(int64_t w, int64_t h) { return w * h > kMaxSourcePixels; }

int firstVideoStream(const AVFormatContext* fmt) {
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) return int(i);
  }
  return -1;
}

// Reads the stream parameters. The decoders opened for that only parse the
// headers (a still's size and pixel format are known before its pixels) and
// honour the pixel limit.
bool findStreamInfo(AVFormatContext* fmt) {
  std::vector<AVDictionary*> opts(fmt->nb_streams, nullptr);
  const std::string limit = std::to_string(kMaxSourcePixels);
  for (AVDictionary*& d : opts) {
    av_dict_set(&d, "max_pixels", limit.c_str(), 0);
    av_dict_set(&d, "skip_frame", "all", 0);
  }
  const int rc = avformat_find_stream_info(fmt, opts.empty() ? nullptr : opts.data());
  for (AVDictionary*& d : opts) av_dict_free(&d);
  return rc >= 0;
}

// withStreamInfo: probe the stream parameters (sizes of pipe-style formats
// are only known after that). Loading skips it when the demuxer already named
// the codec: the decoder reports the size itself, and the probe would parse
// the file a second time.
bool openImage(const std::string& path, bool withStreamInfo, Source* s, std::string* err) {
  Dict opts;
  // Local files only: a playlist or reference file must not reach elsewhere.
  opts.set("protocol_whitelist", "file");
  // A name such as "IMG_%04d.jpg" is one file, not a numbered sequence.
  opts.set("pattern_type", "none");
  AVFormatContext* raw = nullptr;
  // "file:" so that a name containing a colon is never taken for a protocol.
  if (avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, opts.addr()) < 0) {
    return fail(err, err::kUnsupportedFormat);
  }
  s->fmt.reset(raw);
  s->stream = firstVideoStream(raw);
  const bool known = s->stream >= 0 && raw->streams[s->stream]->codecpar->codec_id != AV_CODEC_ID_NONE;
  if (withStreamInfo || !known) {
    if (!findStreamInfo(raw)) return fail(err, err::kUnsupportedFormat);
    s->stream = firstVideoStream(raw);
  }
  if (s->stream < 0) return fail(err, err::kUnsupportedFormat);
  const AVCodecParameters* par = raw->streams[s->stream]->codecpar;
  if (tooLarge(par->width, par->height)) return fail(err, err::kUnsupportedFormat);
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (codec == nullptr) return fail(err, err::kUnsupportedFormat);
  s->dec.reset(avcodec_alloc_context3(codec));
  if (!s->dec) return fail(err, err::kOutOfMemory);
  if (avcodec_parameters_to_context(s->dec.get(), par) < 0) return fail(err, err::kUnsupportedFormat);
  // One picture: frame threading would only add start-up cost and delay.
  s->dec->thread_count = 0;
  s->dec->thread_type = FF_THREAD_SLICE;
  s->dec->max_pixels = kMaxSourcePixels;
  s->dec->get_buffer2 = av::getLargeFrameBuffer;
  if (avcodec_open2(s->dec.get(), codec, nullptr) < 0) return fail(err, err::kUnsupportedFormat);
  return true;
}

// The first picture of the chosen stream.
bool decodeFirstFrame(Source& s, AVFrame* frame) {
  PacketPtr pkt(av_packet_alloc());
  if (!pkt) return false;
  while (av_read_frame(s.fmt.get(), pkt.get()) >= 0) {
    const bool ours = pkt->stream_index == s.stream;
    const int rc = ours ? avcodec_send_packet(s.dec.get(), pkt.get()) : -1;
    av_packet_unref(pkt.get());
    if (rc >= 0 && avcodec_receive_frame(s.dec.get(), frame) >= 0) return true;
  }
  avcodec_send_packet(s.dec.get(), nullptr);
  return avcodec_receive_frame(s.dec.get(), frame) >= 0;
}

// ---- Describing ------------------------------------------------------------

void describeCodec(AVCodecID id, ImageInfo* info) {
  struct Name {
    AVCodecID id;
    const char* format;
    const char* mime;
  };
  static constexpr Name kNames[] = {
      {AV_CODEC_ID_MJPEG, "JPEG", "image/jpeg"},
      {AV_CODEC_ID_PNG, "PNG", "image/png"},
      {AV_CODEC_ID_BMP, "BMP", "image/bmp"},
      {AV_CODEC_ID_TARGA, "TGA", "application/octet-stream"},
      {AV_CODEC_ID_TIFF, "TIFF", "image/tiff"},
      {AV_CODEC_ID_GIF, "GIF", "image/gif"},
      {AV_CODEC_ID_WEBP, "WebP", "image/webp"},
      {AV_CODEC_ID_HEVC, "HEIC", "image/heic"},
      {AV_CODEC_ID_APNG, "APNG", "application/octet-stream"},
      {AV_CODEC_ID_AV1, "AVIF", "image/avif"},
  };
  for (const Name& n : kNames) {
    if (n.id == id) {
      info->format = n.format;
      info->mime = n.mime;
      return;
    }
  }
  const AVCodecDescriptor* d = avcodec_descriptor_get(id);
  info->format = d != nullptr && d->name != nullptr ? d->name : "";
  info->mime = "application/octet-stream";
}

bool pixelFormatHasAlpha(int format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
  return d != nullptr && (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

// Texts and numbers; the orientation only when it is a valid EXIF value.
void copyExif(const ExifData& e, bool takeOrientation, ImageInfo* info) {
  info->orientation = takeOrientation && e.orientation >= 1 && e.orientation <= 8 ? e.orientation : 1;
  info->dateTime = e.dateTime;
  info->make = e.make;
  info->model = e.model;
  info->software = e.software;
  info->exposureTime = e.exposureTime;
  info->fNumber = e.fNumber;
  info->iso = e.iso;
  info->focalLength = e.focalLength;
}

void describeRaw(int w, int h, ImageInfo* info) {
  *info = ImageInfo();
  info->width = w;
  info->height = h;
  info->format = "RAW";
  info->mime = "image/x-dcraw";
}

void describeHeif(const HeifInfo& h, ImageInfo* info) {
  *info = ImageInfo();
  info->width = h.width;
  info->height = h.height;
  info->format = "HEIC";
  info->mime = "image/heic";
  info->hasAlpha = h.hasAlpha;
  // libheif already applied the container's rotation and mirroring.
  copyExif(h.exif, false, info);
}

// Turns the stored pixels upright for an EXIF orientation; flips and half
// turns reuse the buffer.
Image orient(Image img, int orientation) {
  switch (orientation) {
    case 2: return transform(std::move(img), TransformOp::FlipH);
    case 3: return transform(std::move(img), TransformOp::Rotate180);
    case 4: return transform(std::move(img), TransformOp::FlipV);
    case 5: return transform(transform(std::move(img), TransformOp::RotateCW), TransformOp::FlipH);
    case 6: return transform(std::move(img), TransformOp::RotateCW);
    case 7: return transform(transform(std::move(img), TransformOp::RotateCCW), TransformOp::FlipH);
    case 8: return transform(std::move(img), TransformOp::RotateCCW);
    default: return img;
  }
}

// AVIF keeps its rotation and mirror in the container, where FFmpeg 5.1 does
// not look.
std::vector<TransformOp> containerTransforms(AVCodecID codec, const std::string& path) {
  return codec == AV_CODEC_ID_AV1 ? primaryItemTransforms(path) : std::vector<TransformOp>{};
}

// ---- Photos from memory ----------------------------------------------------

// A JPEG file whole, in one open: the first bytes are looked at before the
// rest is read, so other files cost only that look. False when it is no
// JPEG, cannot be read or exceeds kMaxReadBytes (the general path then deals
// with it as it always did).
bool readJpegFile(const std::string& path, std::vector<uint8_t>* bytes) {
  // Far above any camera JPEG; larger files go the general way.
  constexpr long kMaxReadBytes = 256L << 20;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t head[3] = {0, 0, 0};
  bool ok = std::fread(head, 1, sizeof head, f) == sizeof head && looksLikeJpeg(head, sizeof head) &&
            std::fseek(f, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(f) : -1;
  ok = ok && size > 0 && size <= kMaxReadBytes && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    bytes->resize(static_cast<size_t>(size));
    ok = std::fread(bytes->data(), 1, bytes->size(), f) == bytes->size();
  }
  std::fclose(f);
  return ok;
}

// A JPEG photo: the file read once, decoded straight to RGBA, its EXIF
// taken from the same bytes. False (nothing changed) for anything else,
// which then goes through FFmpeg.
bool loadJpegFromMemory(const std::string& path, Image* img, ImageInfo* found) {
  std::vector<uint8_t> bytes;
  if (!readJpegFile(path, &bytes)) return false;
  Image decoded;
  if (!decodeJpegFast(bytes.data(), bytes.size(), kMaxLoadEdge, kMaxSourcePixels, &decoded)) return false;
  ImageInfo info;
  describeCodec(AV_CODEC_ID_MJPEG, &info);
  info.hasAlpha = false;
  copyExif(readExifFromFileBytes(bytes.data(), bytes.size()), true, &info);
  decoded = orient(std::move(decoded), info.orientation);
  if (!decoded.valid()) return false;
  *img = std::move(decoded);
  *found = std::move(info);
  return true;
}

// ---- Encoding --------------------------------------------------------------

const AVCodec* findEncoder(OutFormat fmt) {
  switch (fmt) {
    case OutFormat::Png: return avcodec_find_encoder(AV_CODEC_ID_PNG);
    case OutFormat::WebP: {
      // The still-image wrapper; the animation one would write a one-frame animation.
      const AVCodec* c = avcodec_find_encoder_by_name("libwebp");
      return c != nullptr ? c : avcodec_find_encoder(AV_CODEC_ID_WEBP);
    }
    default: return avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  }
}

AVPixelFormat choosePixelFormat(const AVCodec* codec, bool wantAlpha) {
  static constexpr AVPixelFormat kWithAlpha[] = {AV_PIX_FMT_RGBA, AV_PIX_FMT_BGRA, AV_PIX_FMT_YUVA420P};
  static constexpr AVPixelFormat kOpaque[] = {AV_PIX_FMT_RGB24,   AV_PIX_FMT_YUVJ444P,
                                              AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV444P,
                                              AV_PIX_FMT_YUV420P,  AV_PIX_FMT_BGRA};
  const AVPixelFormat* supported = compat::encoderPixelFormats(codec);
  if (supported == nullptr || supported[0] == AV_PIX_FMT_NONE) {
    return wantAlpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
  }
  auto offers = [supported](AVPixelFormat f) {
    for (const AVPixelFormat* p = supported; *p != AV_PIX_FMT_NONE; ++p) {
      if (*p == f) return true;
    }
    return false;
  };
  if (wantAlpha) {
    for (AVPixelFormat f : kWithAlpha) {
      if (offers(f)) return f;
    }
  } else {
    for (AVPixelFormat f : kOpaque) {
      if (offers(f)) return f;
    }
  }
  return supported[0];
}

// JPEG quality 0 … 100 as a fixed quantiser scale 31 … 1.
int jpegQuantiser(int quality) {
  const int q = int(std::lround(((100 - quality) * 30) / 100.0 + 1.0));
  return std::clamp(q, 1, 31);
}

// Encodes one picture into the bytes of a complete file.
bool encodeImage(const Image& img, OutFormat fmt, const OutOptions& o, std::vector<uint8_t>* bytes,
                 std::string* err) {
  const AVCodec* codec = findEncoder(fmt);
  if (codec == nullptr) return fail(err, err::kUnsupportedFormat);
  CodecPtr enc(avcodec_alloc_context3(codec));
  if (!enc) return fail(err, err::kOutOfMemory);
  const bool wantAlpha = fmt != OutFormat::Jpeg && img.hasAlpha;
  enc->width = img.width;
  enc->height = img.height;
  enc->time_base = AVRational{1, 25};
  enc->pix_fmt = choosePixelFormat(codec, wantAlpha);
  // One thread: JPEG slice threading gives up the optimised Huffman tables
  // (files a fifth larger) and doubles the encoder's memory.
  enc->thread_count = 1;
  int lambda = 0;
  if (fmt == OutFormat::Jpeg) {
    lambda = jpegQuantiser(o.quality) * FF_QP2LAMBDA;
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = lambda;
    enc->qmin = 1;  // the encoder's default floor of 2 would cap quality 100
    enc->qmax = 31;
    enc->color_range = AVCOL_RANGE_JPEG;
  } else if (fmt == OutFormat::WebP) {
    // An automatic choice keeps transparent images lossless.
    const bool lossless = wantAlpha && o.format == OutFormat::Auto;
    av_opt_set_int(enc->priv_data, "lossless", lossless ? 1 : 0, 0);
    av_opt_set_double(enc->priv_data, "quality", std::clamp(o.quality, 0, 100), 0);
  } else if (fmt == OutFormat::Png && o.pngLevel >= 0) {
    enc->compression_level = std::min(o.pngLevel, 9);
  }
  if (avcodec_open2(enc.get(), codec, nullptr) < 0) return fail(err, err::kEncoderFailed);

  FramePtr frame(av_frame_alloc());
  if (!frame) return fail(err, err::kOutOfMemory);
  frame->format = enc->pix_fmt;
  frame->width = img.width;
  frame->height = img.height;
  frame->color_range = enc->color_range;
  if (!av::allocateLargeFrame(frame.get())) return fail(err, err::kOutOfMemory);
  if (!convertFromImage(img, frame.get())) return fail(err, err::kOutOfMemory);
  if (lambda > 0) frame->quality = lambda;

  PacketPtr pkt(av_packet_alloc());
  if (!pkt) return fail(err, err::kOutOfMemory);
  if (avcodec_send_frame(enc.get(), frame.get()) < 0 || avcodec_send_frame(enc.get(), nullptr) < 0 ||
      avcodec_receive_packet(enc.get(), pkt.get()) < 0 || pkt->size <= 0) {
    return fail(err, err::kEncoderFailed);
  }
  bytes->assign(pkt->data, pkt->data + pkt->size);
  return true;
}

}  // namespace

// ---- Formats ---------------------------------------------------------------

OutFormat chooseFormat(const OutOptions& o, bool hasAlpha) {
  switch (o.format) {
    case OutFormat::Png:
    case OutFormat::WebP: return o.format;
    case OutFormat::Jpeg: return hasAlpha ? OutFormat::Png : OutFormat::Jpeg;
    default:
      if (hasAlpha || o.sourceFormat == "png") return OutFormat::Png;
      return o.sourceFormat == "webp" ? OutFormat::WebP : OutFormat::Jpeg;
  }
}

const char* extensionFor(OutFormat f) {
  switch (f) {
    case OutFormat::Png: return ".png";
    case OutFormat::WebP: return ".webp";
    default: return ".jpg";
  }
}

const Capabilities& capabilities() {
  static const Capabilities caps = [] {
    Capabilities c;
    struct Entry {
      const char* name;
      AVCodecID id;
    };
    static constexpr Entry kDecode[] = {
        {"jpeg", AV_CODEC_ID_MJPEG}, {"png", AV_CODEC_ID_PNG},   {"webp", AV_CODEC_ID_WEBP},
        {"gif", AV_CODEC_ID_GIF},    {"bmp", AV_CODEC_ID_BMP},   {"tiff", AV_CODEC_ID_TIFF},
        {"heic", AV_CODEC_ID_HEVC},  {"avif", AV_CODEC_ID_AV1},
    };
    for (const Entry& e : kDecode) {
      // HEIF stills are read through libheif, not FFmpeg's HEVC decoder.
      const bool ok = e.id == AV_CODEC_ID_HEVC ? heifSupported() : avcodec_find_decoder(e.id) != nullptr;
      if (ok) c.decode.emplace_back(e.name);
    }
    static constexpr std::pair<const char*, OutFormat> kEncode[] = {
        {"jpeg", OutFormat::Jpeg}, {"png", OutFormat::Png}, {"webp", OutFormat::WebP}};
    for (const auto& [name, fmt] : kEncode) {
      if (findEncoder(fmt) != nullptr) c.encode.emplace_back(name);
    }
    c.raw = rawSupported();
    return c;
  }();
  return caps;
}

// ---- Reading ---------------------------------------------------------------

bool probeImage(const std::string& path, ImageInfo* info, std::string* err) {
  if (info == nullptr) return false;
  ImageInfo found;
  if (isRawPath(path)) {
    int w = 0, h = 0;
    if (!rawSupported()) return fail(err, err::kUnsupportedFormat);
    if (!probeRaw(path, &w, &h, err)) return false;
    describeRaw(w, h, &found);
  } else if (isHeicStill(path)) {
    HeifInfo h;
    if (!probeHeif(path, &h, err)) return false;
    describeHeif(h, &found);
  } else {
    Source src;
    if (!openImage(path, true, &src, err)) return false;
    const AVCodecParameters* par = src.fmt->streams[src.stream]->codecpar;
    describeCodec(par->codec_id, &found);
    found.width = par->width;
    found.height = par->height;
    found.hasAlpha = pixelFormatHasAlpha(par->format);
    copyExif(readExif(path), true, &found);
    const std::vector<TransformOp> turns = containerTransforms(par->codec_id, path);
    if (!turns.empty()) {
      found.orientation = 1;  // the container's own rotation wins, as for HEIC
      if (swapsSides(turns)) std::swap(found.width, found.height);
    }
    if (found.orientation > 4) std::swap(found.width, found.height);
  }
  if (found.width <= 0 || found.height <= 0) return fail(err, err::kUnsupportedFormat);
  *info = std::move(found);
  succeed(err);
  return true;
}

bool loadImage(const std::string& path, Image* out, ImageInfo* info, std::string* err) {
  if (out == nullptr) return fail(err, err::kEmptyImage);
  ImageInfo found;
  Image img;
  if (isRawPath(path)) {
    if (!rawSupported()) return fail(err, err::kUnsupportedFormat);
    if (!loadRaw(path, 0, &img, err)) return false;
    describeRaw(img.width, img.height, &found);
  } else if (isHeicStill(path)) {
    HeifInfo h;
    if (!loadHeif(path, kMaxLoadEdge, &img, &h, err)) return false;
    describeHeif(h, &found);
  } else if (loadJpegFromMemory(path, &img, &found)) {
    // Decoded and turned upright from one read of the file.
  } else {
    Source src;
    if (!openImage(path, false, &src, err)) return false;
    FramePtr frame(av_frame_alloc());
    if (!frame) return fail(err, err::kOutOfMemory);
    if (!decodeFirstFrame(src, frame.get()) || frame->width < 1 || frame->height < 1 ||
        tooLarge(frame->width, frame->height)) {
      return fail(err, err::kUnsupportedFormat);
    }
    describeCodec(src.dec->codec_id, &found);
    found.hasAlpha = pixelFormatHasAlpha(frame->format);
    copyExif(readExif(path), true, &found);
    const std::vector<TransformOp> turns = containerTransforms(src.dec->codec_id, path);
    if (!convertToImage(*frame, kMaxLoadEdge, found.hasAlpha, &img, err)) return false;
    frame.reset();
    src = Source();
    if (turns.empty()) {
      img = orient(std::move(img), found.orientation);
    } else {
      found.orientation = 1;
      for (const TransformOp op : turns) img = transform(std::move(img), op);
    }
    if (!img.valid()) return fail(err, err::kOutOfMemory);
  }
  found.width = img.width;
  found.height = img.height;
  *out = std::move(img);
  if (info != nullptr) *info = std::move(found);
  succeed(err);
  return true;
}

// ---- Writing ---------------------------------------------------------------

bool saveImage(const std::string& path, const Image& img, const OutOptions& o, const Meta& meta,
               std::string* err) {
  if (!img.valid()) return fail(err, err::kEmptyImage);
  const OutFormat fmt = chooseFormat(o, img.hasAlpha);
  std::vector<uint8_t> bytes;
  if (!encodeImage(img, fmt, o, &bytes, err)) return false;
  // The signature is a courtesy: a file that cannot carry it is still saved.
  if (!meta.software.empty() || !meta.comment.empty()) {
    addSignature(bytes, meta.software, meta.comment, exifNow());
  }
  if (!platform::fs::replaceFile(path, bytes.data(), bytes.size())) return fail(err, err::kWriteFailed);
  succeed(err);
  return true;
}

bool saveWorkingPng(const std::string& path, const Image& img, std::string* err) {
  if (!img.valid()) return fail(err, err::kEmptyImage);
  OutOptions o;
  o.format = OutFormat::Png;
  o.pngLevel = kWorkingPngLevel;
  std::vector<uint8_t> bytes;
  if (!encodeImage(img, OutFormat::Png, o, &bytes, err)) return false;
  // A working file: atomic for readers, not worth a flush to disk.
  platform::fs::ReplaceOptions atomicOnly;
  atomicOnly.durable = false;
  if (!platform::fs::replaceFile(path, bytes.data(), bytes.size(), nullptr, atomicOnly)) {
    return fail(err, err::kWriteFailed);
  }
  succeed(err);
  return true;
}

}  // namespace media
