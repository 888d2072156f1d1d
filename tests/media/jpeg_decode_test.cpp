// The JPEG fast path: what it decodes matches FFmpeg's decoding, and what it
// refuses (other colour models, damage, sizes beyond the limits) is left to
// the general loader, which still opens it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "media/image_io.h"
#include "media/jpeg_decode.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using media::Image;
using namespace testing_support;

namespace {

std::vector<uint8_t> bytesOf(const std::string& path) {
  const std::string s = readFile(path);
  return {s.begin(), s.end()};
}

// A 300 × 200 JPEG made by ImageMagick with the given options.
std::string makeJpeg(const TempDir& dir, const std::string& name, const std::string& options) {
  const std::string path = dir.file(name);
  const RunResult r = runShell("convert -size 300x200 gradient:orange-navy -fill white -draw 'circle 150,100 150,40' " +
                               options + " '" + path + "'");
  return r.exitCode == 0 ? path : "";
}

bool decode(const std::vector<uint8_t>& b, Image* out, int maxEdge = media::kMaxLoadEdge,
            int64_t maxPixels = media::kMaxSourcePixels) {
  return media::decodeJpegFast(b.data(), b.size(), maxEdge, maxPixels, out);
}

}  // namespace

TEST(JpegFast, RecognisesTheStartOfAJpeg) {
  const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0};
  const uint8_t png[] = {0x89, 'P', 'N', 'G'};
  EXPECT_TRUE(media::looksLikeJpeg(jpeg, sizeof jpeg));
  EXPECT_FALSE(media::looksLikeJpeg(jpeg, 2));
  EXPECT_FALSE(media::looksLikeJpeg(png, sizeof png));
  EXPECT_FALSE(media::looksLikeJpeg(nullptr, 0));
}

TEST(JpegFast, DecodesLikeFfmpegForEveryLayoutItTakes) {
  TempDir dir;
  for (const std::string options : {"-sampling-factor 4:2:0 -quality 90", "-sampling-factor 4:4:4 -quality 95",
                                    "-colorspace Gray", "-interlace JPEG -quality 85"}) {
    SCOPED_TRACE(options);
    const std::string path = makeJpeg(dir, "in.jpg", options);
    ASSERT_FALSE(path.empty());
    Image img;
    ASSERT_TRUE(decode(bytesOf(path), &img));
    ASSERT_EQ(img.width, 300);
    ASSERT_EQ(img.height, 200);
    EXPECT_FALSE(img.hasAlpha);
    const std::string ref = media_clips::ffmpegRgba(path);
    ASSERT_EQ(ref.size(), size_t(300) * 200 * 4);
    for (size_t i = 3; i < ref.size(); i += 4) ASSERT_EQ(img.pixels[i], 255) << i;
    // Chroma upsampling differs a little between decoders; a wrong plane,
    // stride or colour matrix is far off everywhere.
    EXPECT_LT(media_clips::meanRgbDiff(img.pixels.data(), reinterpret_cast<const uint8_t*>(ref.data()), 300 * 200), 1.5);
  }
}

TEST(JpegFast, LeavesOtherModelsDamageAndOversizeToTheGeneralLoader) {
  TempDir dir;
  const std::string cmyk = makeJpeg(dir, "cmyk.jpg", "-colorspace CMYK");
  const std::string plain = makeJpeg(dir, "plain.jpg", "-quality 90");
  ASSERT_FALSE(cmyk.empty());
  ASSERT_FALSE(plain.empty());
  const std::vector<uint8_t> whole = bytesOf(plain);
  const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(whole.size() * 6 / 10));
  const std::vector<uint8_t> headOnly(whole.begin(), whole.begin() + 40);

  Image img;
  EXPECT_FALSE(decode(bytesOf(cmyk), &img));
  EXPECT_FALSE(decode(cut, &img));
  EXPECT_FALSE(decode(headOnly, &img));
  EXPECT_FALSE(decode(whole, &img, 299));           // long edge over the limit
  EXPECT_FALSE(decode(whole, &img, 8000, 59'999));  // pixels over the limit
  EXPECT_FALSE(img.valid()) << "untouched when refused";
  EXPECT_TRUE(decode(whole, &img, 300, 60'000));

  // The general loader still opens the CMYK file and the cut one as FFmpeg does.
  const std::string cutPath = dir.file("cut.jpg");
  ASSERT_TRUE(writeFile(cutPath, std::string(cut.begin(), cut.end())));
  for (const std::string& path : {cmyk, cutPath}) {
    Image loaded;
    std::string err;
    const bool ffmpegReads = media_clips::ffmpegRgba(path).size() == size_t(300) * 200 * 4;
    EXPECT_EQ(media::loadImage(path, &loaded, nullptr, &err), ffmpegReads) << path << " " << err;
  }
}
