// Camera RAW import: recognition by extension, probing, developing at full
// and half size.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "media/errors.h"
#include "media/image_io.h"
#include "media/raw.h"
#include "support/test_support.h"

using media::Image;
using testing_support::fixture;
using testing_support::runShell;
using testing_support::TempDir;
using testing_support::writeFile;

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
    EXPECT_EQ(std::pair(img.width, img.height), std::pair(width, height));
    EXPECT_FALSE(img.hasAlpha);
    // Opaque, and a real picture rather than a flat fill.
    long sum = 0, sumSq = 0;
    for (int y = 0; y < img.height; y += 7)
      for (int x = 0; x < img.width; x += 7) {
        const uint8_t* p = img.row(y) + x * 4;
        ASSERT_EQ(p[3], 255);
        sum += p[1];
        sumSq += long(p[1]) * p[1];
      }
    const long n = ((img.height + 6) / 7) * long((img.width + 6) / 7);
    EXPECT_GT(double(sumSq) / n - double(sum) * sum / (double(n) * n), 10.0);
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
  auto r = runShell("cp '" + fixture("raw_lg_g4.dng") + "' '" + path +
                    "' && exiftool -q -overwrite_original -n -IFD0:Orientation=6 '" + path + "'");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  int w = 0, h = 0;
  std::string err;
  ASSERT_TRUE(media::probeRaw(path, &w, &h, &err)) << err;
  EXPECT_EQ(std::pair(w, h), std::pair(338, 600));
  Image img;
  ASSERT_TRUE(media::loadRaw(path, 0, &img, &err)) << err;
  EXPECT_EQ(std::pair(img.width, img.height), std::pair(338, 600));
}

TEST(RawDecode, ImageLoaderRoutesRawFilesAndRejectsBrokenOnes) {
  media::ImageInfo info;
  Image img;
  std::string err;
  ASSERT_TRUE(media::probeImage(fixture("raw_canon_d30.crw"), &info, &err)) << err;
  EXPECT_EQ(info.format, "RAW");
  EXPECT_EQ(info.mime, "image/x-dcraw");
  EXPECT_EQ(info.orientation, 1);
  ASSERT_TRUE(media::loadImage(fixture("raw_lg_g4.dng"), &img, &info, &err)) << err;
  EXPECT_EQ(info.width, 600);
  EXPECT_FALSE(info.hasAlpha);

  TempDir dir;
  const std::string fake = dir.file("fake.ARW");
  ASSERT_TRUE(writeFile(fake, std::string(4096, 'x')));
  EXPECT_FALSE(media::probeRaw(fake, nullptr, nullptr, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  Image untouched = Image::create(2, 2, false);
  err.clear();
  EXPECT_FALSE(media::loadImage(fake, &untouched, &info, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_EQ(untouched.width, 2);
}
