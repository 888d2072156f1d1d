// Image file input and output: formats, EXIF orientation, size limits, the JPEG fast path, camera RAW
// files, the output format rules, encoder settings and saving.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "media/errors.h"
#include "media/exif.h"
#include "media/heif.h"
#include "media/heif_brand.h"
#include "media/image_io.h"
#include "media/jpeg_decode.h"
#include "media/raw.h"
#include "platform/fs.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using media::Image;
using media::ImageInfo;
using media::OutFormat;
using media::OutOptions;
using media_clips::meanRgbDiff;
using testing_support::fixture;
using testing_support::readFile;
using testing_support::runShell;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

void shell(const std::string& command) {
  auto r = runShell(command);
  ASSERT_EQ(r.exitCode, 0) << command << "\n" << r.err;
}

const uint8_t* pixel(const Image& img, int x, int y) { return img.row(y) + x * 4; }

// A test image with a ramp, so that flips and turns are visible.
Image ramp(int w, int h, bool alpha) {
  Image img = Image::create(w, h, alpha);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = img.row(y) + x * 4;
      p[0] = uint8_t(x * 255 / std::max(1, w - 1));
      p[1] = uint8_t(y * 255 / std::max(1, h - 1));
      p[2] = 128;
      p[3] = alpha ? uint8_t((x + y) % 256) : 255;
    }
  }
  return img;
}

// A 300 × 200 JPEG made by ImageMagick with the given options.
std::string makeJpeg(const TempDir& dir, const std::string& name, const std::string& options) {
  const std::string path = dir.file(name);
  const auto r = runShell("convert -size 300x200 gradient:orange-navy -fill white -draw 'circle 150,100 150,40' " +
                          options + " '" + path + "'");
  return r.exitCode == 0 ? path : "";
}

bool decodeFast(const std::string& bytes, Image* out, int maxEdge = media::kMaxLoadEdge,
                int64_t maxPixels = media::kMaxSourcePixels) {
  return media::decodeJpegFast(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), maxEdge, maxPixels, out);
}

}  // namespace

TEST(ImageIoFormats, ChooseFormatAndExtensions) {
  auto choose = [](OutFormat f, const char* source, bool alpha) {
    OutOptions o;
    o.format = f;
    o.sourceFormat = source;
    return media::chooseFormat(o, alpha);
  };
  using F = OutFormat;
  // asked for, source format, alpha → written
  for (auto [asked, source, alpha, want] :
       {std::tuple{F::Auto, "jpeg", false, F::Jpeg}, {F::Auto, "png", false, F::Png}, {F::Auto, "webp", false, F::WebP},
        {F::Auto, "webp", true, F::Png}, {F::Auto, "", false, F::Jpeg}, {F::Jpeg, "png", false, F::Jpeg},
        {F::Jpeg, "jpeg", true, F::Png}, {F::Png, "jpeg", false, F::Png}, {F::WebP, "jpeg", true, F::WebP}})
    EXPECT_EQ(choose(asked, source, alpha), want) << int(asked) << " " << source << " " << alpha;
  for (auto [f, ext] : {std::pair{F::Auto, ".jpg"}, {F::Jpeg, ".jpg"}, {F::Png, ".png"}, {F::WebP, ".webp"},
                        {static_cast<F>(7), ".jpg"}})
    EXPECT_STREQ(media::extensionFor(f), ext);
}

TEST(ImageIoLoad, EveryExifOrientationLoadsUpright) {
  Image upright;
  ImageInfo info;
  std::string err = "stale";
  ASSERT_TRUE(media::loadImage(fixture("orient_1.jpg"), &upright, &info, &err)) << err;
  EXPECT_TRUE(err.empty());
  ASSERT_EQ(upright.width, 1800);
  ASSERT_EQ(upright.height, 1200);
  for (int n = 2; n <= 8; ++n) {
    SCOPED_TRACE(n);
    const std::string path = fixture("orient_" + std::to_string(n) + ".jpg");
    ImageInfo probed;
    ASSERT_TRUE(media::probeImage(path, &probed, &err)) << err;
    EXPECT_EQ(std::tuple(probed.width, probed.height, probed.orientation), std::tuple(1800, 1200, n));
    Image img;
    ASSERT_TRUE(media::loadImage(path, &img, &info, &err)) << err;
    EXPECT_EQ(std::tuple(info.width, info.height, info.orientation), std::tuple(1800, 1200, n));
    // The files hold the same photo re-encoded; a wrong turn differs by far more.
    EXPECT_LT(meanRgbDiff(img, upright), 6.0);
  }
}

// JPEGs: EveryExifOrientationLoadsUpright. A TIFF carries the same tag in its first IFD.
TEST(ImageIoLoad, TurnedTiffProbesAndLoadsPortrait) {
  TempDir dir;
  const std::string tiff = dir.file("turned.tif");
  // Stored landscape with a red block top left; orientation 6 turns it clockwise.
  shell("convert -size 40x20 xc:'#808080' -fill red -draw 'rectangle 0,0 9,4' '" + tiff +
        "' && exiftool -q -overwrite_original -n -Orientation=6 '" + tiff + "'");
  ImageInfo info;
  std::string err;
  ASSERT_TRUE(media::probeImage(tiff, &info, &err)) << err;
  EXPECT_EQ(std::tuple(info.width, info.height, info.orientation), std::tuple(20, 40, 6));
  Image img;
  ASSERT_TRUE(media::loadImage(tiff, &img, &info, &err)) << err;
  ASSERT_EQ(std::pair(img.width, img.height), std::pair(20, 40));
  EXPECT_GT(pixel(img, 17, 3)[0], 200);
  EXPECT_LT(pixel(img, 17, 3)[1], 60);
  EXPECT_LT(pixel(img, 2, 3)[0], 160);  // the top left is grey now
}

TEST(ImageIoLoad, CommonFormatsLoadWithTheirNames) {
  TempDir dir;
  struct Case {
    std::string file;
    std::string make;  // shell command writing the file; empty for fixtures
    const char* format;
    const char* mime;
    int width, height;
    bool alpha;
  };
  const std::vector<Case> cases = {
      {dir.file("a.jpg"), "convert -size 64x40 gradient:red-blue", "JPEG", "image/jpeg", 64, 40, false},
      {dir.file("a.png"), "convert -size 64x40 xc:none -fill red -draw 'circle 32,20 32,5'", "PNG",
       "image/png", 64, 40, true},
      {dir.file("lossy.webp"), "convert -size 64x40 gradient:red-blue -quality 70", "WebP", "image/webp",
       64, 40, false},
      // FFmpeg decodes every lossless WebP into a pixel format with alpha.
      {dir.file("lossless.webp"), "convert -size 64x40 gradient:red-blue -define webp:lossless=true",
       "WebP", "image/webp", 64, 40, true},
      {dir.file("a.bmp"), "convert -size 64x40 gradient:red-blue", "BMP", "image/bmp", 64, 40, false},
      {dir.file("a.tif"), "convert -size 64x40 gradient:red-blue", "TIFF", "image/tiff", 64, 40, false},
      {fixture("muybridge.gif"), "", "GIF", "image/gif", 30, 20, true},
      {fixture("muybridge.apng"), "", "APNG", "application/octet-stream", 30, 20, true},
      {fixture("irvine.avif"), "", "AVIF", "image/avif", 480, 640, false},
      {fixture("iphone11pro.heic"), "", "HEIC", "image/heic", 3024, 4032, false},
      {fixture("raw_lg_g4.dng"), "", "RAW", "image/x-dcraw", 600, 338, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    if (!c.make.empty()) shell(c.make + " '" + c.file + "'");
    ImageInfo probed, loaded;
    std::string err;
    ASSERT_TRUE(media::probeImage(c.file, &probed, &err)) << err;
    EXPECT_EQ(std::tuple(probed.format, probed.mime, probed.width, probed.height, probed.hasAlpha),
              std::tuple(c.format, c.mime, c.width, c.height, c.alpha));
    Image img;
    ASSERT_TRUE(media::loadImage(c.file, &img, &loaded, &err)) << err;
    EXPECT_EQ(std::tuple(img.width, img.height, img.hasAlpha, loaded.format, loaded.hasAlpha),
              std::tuple(c.width, c.height, c.alpha, c.format, c.alpha));
    EXPECT_EQ(img.pixels.size(), size_t(img.width) * img.height * 4 + media::kImageTailMargin);
  }
}

// Pictures of a megapixel and more are decoded into buffers mapped here; every layout must come out as
// FFmpeg's own decoding does (JPEGs take the fast path: JpegFast).
TEST(ImageIoLoad, LargePicturesDecodeAsTheReferenceDecoderDoes) {
  TempDir dir;
  const std::string scene = "-size 1100x1000 gradient:red-blue -fill white -draw 'circle 550,500 550,200'";
  const struct {
    const char* name;
    std::string options;
  } cases[] = {
      {"rgb.png", "-depth 8"},
      {"rgba16.png", "-alpha set -channel A -evaluate set 60% +channel -depth 16"},
      {"rgb.tif", "-depth 8"},
      {"lossless.webp", "-define webp:lossless=true"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file(c.name);
    shell("convert " + scene + " " + c.options + " '" + file + "'");
    const std::string ref = media_clips::ffmpegRgba(file);
    Image img;
    std::string err;
    ASSERT_TRUE(media::loadImage(file, &img, nullptr, &err)) << err;
    ASSERT_EQ(img.width, 1100);
    ASSERT_EQ(img.height, 1000);
    ASSERT_EQ(ref.size(), size_t(1100) * 1000 * 4);
    // Converters round chroma differently; a wrong stride or plane is off by far more everywhere.
    EXPECT_LT(meanRgbDiff(img.pixels.data(), reinterpret_cast<const uint8_t*>(ref.data()), 1100 * 1000), 1.5);
  }
}

// FFmpeg 5.1 ignores an AVIF's rotation and mirror properties; the loader applies them as libheif does.
TEST(ImageIoLoad, AvifRotationAndMirrorAreApplied) {
  TempDir dir;
  const std::string png = dir.file("src.png");
  shell("convert -size 64x32 gradient:red-blue -fill white -draw 'rectangle 0,0 15,7' -depth 8 '" + png +
        "'");
  Image src;
  ASSERT_TRUE(media::loadImage(png, &src, nullptr, nullptr));
  using media::TransformOp;
  const struct {
    const char* options;
    std::vector<TransformOp> ops;
  } cases[] = {
      {"--irot 1", {TransformOp::RotateCCW}},
      {"--irot 2", {TransformOp::Rotate180}},
      {"--imir 0", {TransformOp::FlipV}},
      {"--irot 3 --imir 1", {TransformOp::RotateCW, TransformOp::FlipH}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const std::string avif = dir.file("turned.avif");
    shell(std::string("avifenc -l ") + c.options + " '" + png + "' '" + avif + "' >/dev/null");
    Image want = src;
    for (TransformOp op : c.ops) want = media::transform(want, op);

    ImageInfo probed, loaded;
    std::string err;
    ASSERT_TRUE(media::probeImage(avif, &probed, &err)) << err;
    EXPECT_EQ(std::tuple(probed.format, probed.width, probed.height, probed.orientation),
              std::tuple("AVIF", want.width, want.height, 1));
    Image img;
    ASSERT_TRUE(media::loadImage(avif, &img, &loaded, &err)) << err;
    EXPECT_EQ(std::pair(loaded.width, loaded.height), std::pair(want.width, want.height));
    EXPECT_LT(meanRgbDiff(img, want), 3.0);

    // libheif reads the same container and applies the properties itself.
    Image peer;
    ASSERT_TRUE(media::loadHeif(avif, 0, &peer, nullptr, &err)) << err;
    EXPECT_LT(meanRgbDiff(img, peer), 3.0);
  }
}

// The EXIF of JPEG and WebP files: ExifLocate.CameraFilesMatchExiftool.
TEST(ImageIoLoad, HeicReportsItsExifAndIsNotTurnedTwice) {
  ImageInfo info;
  std::string err;
  ASSERT_TRUE(media::probeImage(fixture("iphone11pro.heic"), &info, &err)) << err;
  EXPECT_EQ(std::tuple(info.model, info.dateTime, info.width, info.height),
            std::tuple("iPhone 11 Pro", "2020:05:04 18:39:11", 3024, 4032));
  Image img;
  ASSERT_TRUE(media::loadImage(fixture("iphone11pro.heic"), &img, &info, &err)) << err;
  EXPECT_EQ(std::pair(info.make, info.iso), std::pair(std::string("Apple"), 32));
  EXPECT_NEAR(info.fNumber, 1.8, 1e-9);
  EXPECT_NEAR(info.focalLength, 4.25, 1e-9);
  EXPECT_EQ(info.orientation, 1);

  // libheif applies the container's rotation; a HEIF file's EXIF orientation must not turn it again.
  TempDir dir;
  const std::string tagged = dir.file("tagged.heic");
  shell("cp '" + fixture("iphone11pro.heic") + "' '" + tagged +
        "' && exiftool -q -overwrite_original -n -Orientation=6 '" + tagged + "'");
  ASSERT_TRUE(media::probeImage(tagged, &info, &err)) << err;
  EXPECT_EQ(std::pair(info.width, info.height), std::pair(3024, 4032));
  Image again;
  ASSERT_TRUE(media::loadImage(tagged, &again, &info, &err)) << err;
  EXPECT_EQ(info.orientation, 1);
  EXPECT_EQ(again.pixels, img.pixels);
}

TEST(ImageIoLoad, HugeJpegIsShrunkToTheLongEdgeLimit) {
  TempDir dir;
  const std::string path = dir.file("wide.jpg");
  shell("ffmpeg -v error -f lavfi -i color=c=0x3366cc:s=12000x6000 -frames:v 1 -pix_fmt yuvj420p '" + path +
        "'");
  Image img;
  ImageInfo info;
  std::string err;
  ASSERT_TRUE(media::loadImage(path, &img, &info, &err)) << err;
  EXPECT_EQ(std::tuple(img.width, img.height, info.width, info.height), std::tuple(8000, 4000, 8000, 4000));
  const uint8_t* p = pixel(img, 4000, 2000);
  EXPECT_NEAR(p[0], 0x33, 3);
  EXPECT_NEAR(p[1], 0x66, 3);
  EXPECT_NEAR(p[2], 0xcc, 3);
}

TEST(ImageIoLoad, FileNamesAreTakenLiterally) {
  // A sequence pattern, a protocol-like prefix, spaces and percent signs.
  TempDir dir;
  const std::string plain = dir.file("plain.jpg");
  shell("convert -size 24x16 xc:'#2040c0' '" + plain + "'");
  for (const char* name : {"IMG_%04d.jpg", "http:photo.jpg", "a b 100%.jpg", "concat:x.jpg"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.file(name);
    ASSERT_TRUE(writeFile(path, readFile(plain)));
    Image img;
    ImageInfo info;
    std::string err;
    ASSERT_TRUE(media::probeImage(path, &info, &err)) << err;
    ASSERT_TRUE(media::loadImage(path, &img, &info, &err)) << err;
    EXPECT_EQ(img.width, 24);
    EXPECT_NEAR(pixel(img, 5, 5)[2], 0xc0, 3);
  }
}

TEST(ImageIoLoad, NonImagesAndBrokenFilesAreUnsupported) {
  TempDir dir;
  const std::string text = dir.file("notes.jpg");
  ASSERT_TRUE(writeFile(text, "This is a shopping list, not a photo.\n"));
  std::string empty = dir.file("empty.png");
  ASSERT_TRUE(writeFile(empty, ""));
  const std::string fakeRaw = dir.file("fake.ARW");
  ASSERT_TRUE(writeFile(fakeRaw, std::string(4096, 'x')));
  for (const std::string& path : {text, empty, dir.file("missing.jpg"), dir.file("nef.NEF"), fakeRaw}) {
    SCOPED_TRACE(path);
    ImageInfo info;
    info.width = 77;
    std::string err;
    EXPECT_FALSE(media::probeImage(path, &info, &err));
    EXPECT_EQ(err, media::err::kUnsupportedFormat);
    EXPECT_EQ(info.width, 77);
    Image img = Image::create(3, 3, false);
    err.clear();
    EXPECT_FALSE(media::loadImage(path, &img, &info, &err));
    EXPECT_EQ(err, media::err::kUnsupportedFormat);
    EXPECT_EQ(img.width, 3);  // untouched
  }
  std::string err;
  EXPECT_FALSE(media::probeImage(text, nullptr, &err));
  EXPECT_FALSE(media::probeRaw(fakeRaw, nullptr, nullptr, nullptr));
}

TEST(ImageIoLoad, DeclaredGiantSizesAreRefusedBeforeDecoding) {
  TempDir dir;
  // A tiny JPEG whose frame header claims 16000 × 15000 (240 megapixels).
  const std::string small = dir.file("small.jpg");
  shell("convert -size 16x16 xc:white -quality 50 '" + small + "'");
  std::string bytes = readFile(small);
  size_t sof = bytes.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  bytes[sof + 5] = char(15000 >> 8);
  bytes[sof + 6] = char(15000 & 0xFF);
  bytes[sof + 7] = char(16000 >> 8);
  bytes[sof + 8] = char(16000 & 0xFF);
  const std::string giant = dir.file("giant.jpg");
  ASSERT_TRUE(writeFile(giant, bytes));

  ImageInfo info;
  std::string err;
  EXPECT_FALSE(media::probeImage(giant, &info, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  Image img;
  err.clear();
  EXPECT_FALSE(media::loadImage(giant, &img, &info, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_FALSE(img.valid());
}

TEST(ImageIoSave, PngRoundTripsExactlyAndJpegClosely) {
  TempDir dir;
  std::string err;
  // Automatic with alpha is PNG; opaque PNG is written as RGB.
  for (const auto& [w, h, alpha] : {std::tuple{97, 61, true}, std::tuple{50, 30, false},
                                    std::tuple{1280, 960, false}, std::tuple{1280, 960, true}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h << (alpha ? " alpha" : ""));
    const Image src = ramp(w, h, alpha);
    OutOptions o;
    if (!alpha) o.format = OutFormat::Png;
    ASSERT_TRUE(media::saveImage(dir.file("a.png"), src, o, {}, &err)) << err;
    EXPECT_TRUE(err.empty());
    Image back;
    ImageInfo info;
    ASSERT_TRUE(media::loadImage(dir.file("a.png"), &back, &info, &err)) << err;
    EXPECT_EQ(info.format, "PNG");
    EXPECT_EQ(info.hasAlpha, alpha);
    EXPECT_EQ(back.pixels, src.pixels);
    if (w < 1000) continue;
    o.format = OutFormat::Jpeg;
    o.quality = 95;
    ASSERT_TRUE(media::saveImage(dir.file("big.jpg"), src, o, {}, &err)) << err;
    ASSERT_TRUE(media::loadImage(dir.file("big.jpg"), &back, nullptr, &err)) << err;
    EXPECT_LT(meanRgbDiff(back, src), 2.0);
  }
}

TEST(ImageIoSave, TransparentWebPIsLossyWhenChosenAndOpaqueAutomaticIsPlainLossy) {
  TempDir dir;
  const Image alpha = ramp(64, 48, true);
  OutOptions o;
  o.format = OutFormat::WebP;
  o.quality = 80;
  o.sourceFormat = "webp";
  std::string err;
  ASSERT_TRUE(media::saveImage(dir.file("explicit.webp"), alpha, o, {}, &err)) << err;
  const std::string lossy = readFile(dir.file("explicit.webp"));
  const auto has = [&](const char* fourcc) { return lossy.find(fourcc) != std::string::npos; };
  EXPECT_TRUE(has("VP8 ") && has("ALPH"));
  EXPECT_FALSE(has("VP8L") || has("ANIM"));
  Image img;
  ImageInfo info;
  ASSERT_TRUE(media::loadImage(dir.file("explicit.webp"), &img, &info, &err)) << err;
  EXPECT_TRUE(img.hasAlpha);
  EXPECT_LT(meanRgbDiff(img, alpha), 8.0);

  // Opaque with a WebP source, chosen automatically: a simple lossy WebP.
  o.format = OutFormat::Auto;
  const Image opaque = ramp(64, 48, false);
  ASSERT_TRUE(media::saveImage(dir.file("auto.webp"), opaque, o, {}, &err)) << err;
  EXPECT_EQ(readFile(dir.file("auto.webp")).substr(12, 4), "VP8 ");  // the chunk after the RIFF header
  ASSERT_TRUE(media::loadImage(dir.file("auto.webp"), &img, &info, &err)) << err;
  EXPECT_EQ(info.format, "WebP");
  EXPECT_FALSE(img.hasAlpha);
  EXPECT_LT(meanRgbDiff(img, opaque), 6.0);
}

TEST(ImageIoSave, SignatureIsWrittenOnlyWhenGiven) {
  TempDir dir;
  const Image src = ramp(40, 30, false);
  OutOptions o;
  o.format = OutFormat::Jpeg;
  std::string err;
  ASSERT_TRUE(media::saveImage(dir.file("plain.jpg"), src, o, {}, &err)) << err;
  EXPECT_FALSE(media::readExif(dir.file("plain.jpg")).valid);
  ASSERT_TRUE(media::saveImage(dir.file("signed.jpg"), src, o, {"Korvelle 1.0", "Edited"}, &err)) << err;
  media::ExifData e = media::readExif(dir.file("signed.jpg"));
  EXPECT_EQ(e.software, "Korvelle 1.0");
  EXPECT_EQ(e.description, "Edited");
  EXPECT_EQ(e.dateTime.size(), 19u);
}

// Safe replacing itself (old file kept, links, permissions, a full disk): FsReplace.
TEST(ImageIoSave, FailuresNameTheirWord) {
  TempDir dir;
  OutOptions o;
  o.format = OutFormat::Png;
  std::string err;
  EXPECT_FALSE(media::saveImage(dir.file("x.png"), Image(), o, {}, &err));
  EXPECT_EQ(err, media::err::kEmptyImage);
  EXPECT_FALSE(media::saveImage(dir.file("missing/out.png"), ramp(30, 20, false), o, {}, &err));
  EXPECT_EQ(err, media::err::kWriteFailed);
  EXPECT_TRUE(platform::fs::listDir(dir.path()).empty());
}

TEST(JpegFast, DecodesLikeFfmpegForEveryLayoutItTakes) {
  TempDir dir;
  for (const std::string options : {"-sampling-factor 4:2:0 -quality 90", "-sampling-factor 4:4:4 -quality 95",
                                    "-colorspace Gray", "-interlace JPEG -quality 85"}) {
    SCOPED_TRACE(options);
    const std::string path = makeJpeg(dir, "in.jpg", options);
    ASSERT_FALSE(path.empty());
    Image img;
    ASSERT_TRUE(decodeFast(readFile(path), &img));
    ASSERT_EQ(std::tuple(img.width, img.height, img.hasAlpha), std::tuple(300, 200, false));
    const std::string ref = media_clips::ffmpegRgba(path);
    ASSERT_EQ(ref.size(), size_t(300) * 200 * 4);
    for (size_t i = 3; i < ref.size(); i += 4) ASSERT_EQ(img.pixels[i], 255) << i;
    // Chroma upsampling differs a little; a wrong plane, stride or colour matrix is far off everywhere.
    EXPECT_LT(meanRgbDiff(img.pixels.data(), reinterpret_cast<const uint8_t*>(ref.data()), 300 * 200), 1.5);
  }
}

// What the fast path refuses is left to the general loader, which still opens it.
TEST(JpegFast, LeavesOtherModelsDamageAndOversizeToTheGeneralLoader) {
  TempDir dir;
  const std::string cmyk = makeJpeg(dir, "cmyk.jpg", "-colorspace CMYK");
  const std::string plain = makeJpeg(dir, "plain.jpg", "-quality 90");
  ASSERT_FALSE(cmyk.empty() || plain.empty());
  const std::string whole = readFile(plain);
  const std::string cut = whole.substr(0, whole.size() * 6 / 10);

  Image img;
  EXPECT_FALSE(decodeFast(readFile(cmyk), &img));
  EXPECT_FALSE(decodeFast(cut, &img));
  EXPECT_FALSE(decodeFast(whole.substr(0, 40), &img));
  EXPECT_FALSE(decodeFast(whole, &img, 299));           // long edge over the limit
  EXPECT_FALSE(decodeFast(whole, &img, 8000, 59'999));  // pixels over the limit
  EXPECT_FALSE(img.valid()) << "untouched when refused";
  EXPECT_TRUE(decodeFast(whole, &img, 300, 60'000));

  const std::string cutPath = dir.file("cut.jpg");
  ASSERT_TRUE(writeFile(cutPath, cut));
  for (const std::string& path : {cmyk, cutPath}) {
    Image loaded;
    std::string err;
    const bool ffmpegReads = media_clips::ffmpegRgba(path).size() == size_t(300) * 200 * 4;
    EXPECT_EQ(media::loadImage(path, &loaded, nullptr, &err), ffmpegReads) << path << " " << err;
  }
}

TEST(RawNames, ExtensionsDecideInAnyCase) {
  for (const char* path : {"/photos/a.nef", "/photos/a.NEF", "b.Cr3", "c.3fr"}) EXPECT_TRUE(media::isRawPath(path)) << path;
  for (const char* path : {"/photos/a.nef.jpg", "/photos/nef", "/photos.nef/readme", "a."})
    EXPECT_FALSE(media::isRawPath(path)) << path;
  EXPECT_TRUE(media::rawSupported());
}

TEST(RawDecode, DngAndCrwProbeAndDevelop) {
  for (auto [name, width, height] : {std::tuple{"raw_lg_g4.dng", 600, 338}, {"raw_canon_d30.crw", 2176, 1448}}) {
    SCOPED_TRACE(name);
    int w = 0, h = 0;
    std::string err;
    ASSERT_TRUE(media::probeRaw(fixture(name), &w, &h, &err)) << err;
    EXPECT_EQ(std::pair(w, h), std::pair(width, height));
    Image img;
    ASSERT_TRUE(media::loadRaw(fixture(name), 0, &img, &err)) << err;
    EXPECT_EQ(std::tuple(img.width, img.height, img.hasAlpha), std::tuple(width, height, false));
    // A real picture rather than a flat fill.
    std::set<uint8_t> greens;
    for (int y = 0; y < img.height; y += 7)
      for (int x = 0; x < img.width; x += 7) greens.insert(pixel(img, x, y)[1]);
    EXPECT_GT(greens.size(), 30u);
  }
}

TEST(RawDecode, HalfSizeOnlyWhenTwiceTheWantedEdgeFits) {
  Image half, full;
  std::string err;
  // 2 × 1000 < 2176: developed at half size.
  ASSERT_TRUE(media::loadRaw(fixture("raw_canon_d30.crw"), 1000, &half, &err)) << err;
  EXPECT_NEAR(half.width, 2176 / 2, 8);
  EXPECT_NEAR(half.height, 1448 / 2, 8);
  // 2 × 1100 ≥ 2176: full size.
  ASSERT_TRUE(media::loadRaw(fixture("raw_canon_d30.crw"), 1100, &full, &err)) << err;
  EXPECT_EQ(full.width, 2176);
}

TEST(RawDecode, PortraitOrientationSwapsTheProbedSize) {
  TempDir dir;
  const std::string path = dir.file("portrait.dng");
  shell("cp '" + fixture("raw_lg_g4.dng") + "' '" + path + "' && exiftool -q -overwrite_original -n -IFD0:Orientation=6 '" +
        path + "'");
  int w = 0, h = 0;
  std::string err;
  ASSERT_TRUE(media::probeRaw(path, &w, &h, &err)) << err;
  EXPECT_EQ(std::pair(w, h), std::pair(338, 600));
  Image img;
  ASSERT_TRUE(media::loadRaw(path, 0, &img, &err)) << err;
  EXPECT_EQ(std::pair(img.width, img.height), std::pair(338, 600));
}
