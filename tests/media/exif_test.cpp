// EXIF reading (bounds, byte orders, texts, real camera files against exiftool) and the edit signature.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "media/exif.h"
#include "support/iso_boxes.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using testing_support::fixture;
using testing_support::readFile;
using testing_support::runShell;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

using Bytes = std::vector<uint8_t>;

// Writes a TIFF block by hand, in either byte order.
class TiffWriter {
 public:
  explicit TiffWriter(bool bigEndian) : big_(bigEndian) {
    bytes_ = big_ ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    u16(42);
    u32(8);
  }
  void u16(uint32_t v) {
    const uint8_t hi = uint8_t(v >> 8), lo = uint8_t(v);
    bytes_.insert(bytes_.end(), {big_ ? hi : lo, big_ ? lo : hi});
  }
  void u32(uint32_t v) {
    u16(big_ ? v >> 16 : v & 0xFFFF);
    u16(big_ ? v & 0xFFFF : v >> 16);
  }
  void entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    u16(tag), u16(type), u32(count), u32(value);
  }
  // A SHORT stored inline sits in the first two bytes of the value field.
  void shortEntry(uint16_t tag, uint16_t value) { u16(tag), u16(3), u32(1), u16(value), u16(0); }
  void raw(const void* p, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  size_t size() const { return bytes_.size(); }
  Bytes& bytes() { return bytes_; }

 private:
  bool big_;
  Bytes bytes_;
};

// IFD0: Make, Model, Orientation 6, DateTime, EXIF pointer; EXIF IFD: 1/250 s, f/2.8, ISO 400, 50 mm, date.
Bytes cameraBlock(bool big) {
  TiffWriter w(big);
  const uint32_t ifd0 = 8, n0 = 5;
  const uint32_t exifIfd = ifd0 + 2 + 12 * n0 + 4, n1 = 5;
  const uint32_t data = exifIfd + 2 + 12 * n1 + 4;
  // Data area: make @+0, model @+6, DateTime @+14, DateTimeOriginal @+34, rationals @+54.
  w.u16(n0);
  w.entry(271, 2, 6, data);
  w.entry(272, 2, 8, data + 6);
  w.shortEntry(274, 6);
  w.entry(306, 2, 20, data + 14);
  w.entry(34665, 4, 1, exifIfd);
  w.u32(0);
  w.u16(n1);
  w.entry(33434, 5, 1, data + 54);
  w.entry(33437, 5, 1, data + 62);
  w.shortEntry(34855, 400);
  w.entry(36867, 2, 20, data + 34);
  w.entry(37386, 5, 1, data + 70);
  w.u32(0);
  EXPECT_EQ(w.size(), data);
  w.raw("Canon\0", 6);
  w.raw("EOS 5D\0\0", 8);
  w.raw("2020:01:01 10:00:00\0", 20);
  w.raw("2019:06:30 12:34:56\0", 20);
  for (uint32_t v : {1u, 250u, 28u, 10u, 50u, 1u}) w.u32(v);
  return w.bytes();
}

media::ExifData parse(const Bytes& b) { return media::parseExifBlock(b.data(), b.size()); }

// Value of a key in exiftool's -j output; empty when absent.
std::string jsonValue(const std::string& json, const std::string& key) {
  const std::string k = "\"" + key + "\": ";
  size_t at = json.find(k);
  if (at == std::string::npos) return {};
  at += k.size();
  if (json[at] == '"') {
    size_t end = json.find('"', at + 1);
    return json.substr(at + 1, end - at - 1);
  }
  size_t end = json.find_first_of(",\n}", at);
  return json.substr(at, end - at);
}

double jsonNumber(const std::string& json, const std::string& key) { return std::atof(jsonValue(json, key).c_str()); }

std::string exiftoolJson(const std::string& args, const std::string& path) {
  return runShell("exiftool -j -n " + args + " '" + path + "'").out;
}

// The signature as exiftool reads it from the EXIF block, with no warning.
void expectSignedExif(const std::string& path) {
  const std::string j = exiftoolJson("-EXIF:Software -EXIF:ImageDescription -EXIF:ModifyDate -warning", path);
  EXPECT_EQ(std::tuple(jsonValue(j, "Software"), jsonValue(j, "ImageDescription"), jsonValue(j, "ModifyDate")),
            std::tuple("Korvelle 1.0", "Edited with care", "2024:05:06 07:08:09"));
  EXPECT_EQ(jsonValue(j, "Warning"), "");
}

}  // namespace

TEST(ExifParse, IntelAndMotorolaOrderGiveTheSameFields) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    media::ExifData e = parse(cameraBlock(big));
    EXPECT_EQ(std::tuple(e.valid, e.make, e.model, e.orientation), std::tuple(true, "Canon", "EOS 5D", 6));
    EXPECT_EQ(e.dateTime, "2019:06:30 12:34:56");  // the original date wins over DateTime
    EXPECT_EQ(std::tuple(e.exposureTime, e.fNumber, e.iso, e.focalLength), std::tuple(1.0 / 250, 2.8, 400, 50.0));
  }
}

TEST(ExifParse, TextsLoseTrailingNulsAndSpacesOnlyAndBadRationalsGiveZero) {
  TiffWriter w(false);
  const char text[] = "  Lake  at dusk \0 \0";  // 19 bytes + implicit NUL
  const uint32_t data = 8 + 2 + 6 * 12 + 4;
  w.u16(6);
  w.entry(270, 2, sizeof text, data);
  w.entry(271, 2, 4, 0x00206241);  // "Ab " + NUL, stored inline
  w.entry(272, 2, 6, data + sizeof text);
  w.entry(33434, 5, 1, data + sizeof text + 6);   // 1/0
  w.shortEntry(33437, 4);                         // f-number as SHORT: not a rational
  w.entry(37386, 10, 1, data + sizeof text + 14);  // SRATIONAL -35/-10
  w.u32(0);
  w.raw(text, sizeof text);
  w.raw("Caf\xe9\0\0", 6);  // Latin-1 from an old camera
  for (uint32_t v : {1u, 0u, uint32_t(-35), uint32_t(-10)}) w.u32(v);
  const media::ExifData e = parse(w.bytes());
  EXPECT_EQ(std::tuple(e.description, e.make, e.model), std::tuple("  Lake  at dusk", "Ab", "Caf\xc3\xa9"));
  EXPECT_EQ(std::tuple(e.exposureTime, e.fNumber), std::tuple(0.0, 0.0));
  EXPECT_DOUBLE_EQ(e.focalLength, 3.5);
}

TEST(ExifParse, BadHeadersOffsetsAndCountsGiveDefaults) {
  EXPECT_FALSE(media::parseExifBlock(nullptr, 0).valid);
  Bytes b = cameraBlock(false);
  EXPECT_FALSE(media::parseExifBlock(b.data(), 7).valid);
  Bytes badOrder = b;
  badOrder[1] = 'X';
  EXPECT_FALSE(parse(badOrder).valid);
  Bytes badMagic = b;
  badMagic[2] = 43;
  EXPECT_FALSE(parse(badMagic).valid);
  const media::ExifData head = media::parseExifBlock(b.data(), 8);  // header only: every field at its default
  EXPECT_EQ(std::tuple(head.valid, head.orientation, head.make), std::tuple(true, 1, ""));

  TiffWriter w(false);
  w.u16(7);
  w.entry(271, 2, 20, 0xFFFFFFF0u);          // text far outside
  w.entry(272, 2, 0xFFFFFFFFu, 8 + 2 + 84 + 4);  // huge count: cut at the block end
  w.entry(33434, 5, 1, 8 + 2 + 84 + 4 + 6 - 4);  // rational straddling the end
  w.entry(34855, 3, 0x40000000u, 0x7FFFFFF0u); // SHORT array, offset outside
  w.entry(274, 3, 0, 0);                       // no value at all
  w.entry(37386, 5, 0x20000000u, 12);          // overflowing byte length
  w.entry(34665, 4, 1, 0xFFFFFFFEu);           // EXIF IFD outside
  w.u32(0);
  w.raw("Model\0", 6);
  media::ExifData e = parse(w.bytes());
  EXPECT_EQ(std::tuple(e.valid, e.make, e.model, e.exposureTime, e.iso, e.orientation),
            std::tuple(true, "", "Model", 0.0, 0, 1));

  // An entry count promising more entries than there are stops at the end.
  b = cameraBlock(true);
  b.resize(8 + 2 + 12 * 2 + 5);
  media::ExifData cut = parse(b);
  EXPECT_EQ(cut.make, "");  // its text lay beyond the cut
  EXPECT_EQ(cut.orientation, 1);
}

TEST(ExifLocate, JpegApp1AfterJfifIsFoundButNotAfterTheScan) {
  const Bytes block = cameraBlock(false);
  auto segment = [](uint8_t marker, const Bytes& payload) {
    Bytes s = {0xFF, marker, uint8_t((payload.size() + 2) >> 8), uint8_t(payload.size() + 2)};
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
  };
  Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
  app1.insert(app1.end(), block.begin(), block.end());
  const Bytes jfif = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  const Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's'};

  const Bytes good = iso_boxes::concat({{0xFF, 0xD8}, segment(0xE0, jfif), segment(0xE1, xmp), segment(0xE1, app1),
                                        {0xFF, 0xDA, 0, 2, 0xFF, 0xD9}});
  EXPECT_EQ(media::readExifFromFileBytes(good.data(), good.size()).make, "Canon");
  const Bytes late = iso_boxes::concat({{0xFF, 0xD8}, segment(0xE0, jfif), {0xFF, 0xDA, 0, 2}, segment(0xE1, app1)});
  EXPECT_FALSE(media::readExifFromFileBytes(late.data(), late.size()).valid);

  // A segment length running past the data ends the search quietly.
  Bytes truncated(good.begin(), good.begin() + 30);
  EXPECT_FALSE(media::readExifFromFileBytes(truncated.data(), truncated.size()).valid);
}

TEST(ExifLocate, CameraFilesMatchExiftool) {
  ASSERT_TRUE(testing_support::haveTool("exiftool"));
  for (const char* name : {"camera_canon_1300d.jpg", "flower_exif.webp"}) {
    SCOPED_TRACE(name);
    const std::string path = fixture(name);
    media::ExifData e = media::readExif(path);
    const std::string j = exiftoolJson(
        "-EXIF:Make -EXIF:Model -EXIF:DateTimeOriginal -EXIF:ExposureTime -EXIF:FNumber "
        "-EXIF:ISO -EXIF:FocalLength -EXIF:Orientation",
        path);
    ASSERT_FALSE(jsonValue(j, "Make").empty()) << j;
    EXPECT_EQ(std::tuple(e.valid, e.make, e.model, e.dateTime, e.iso, e.orientation),
              std::tuple(true, jsonValue(j, "Make"), jsonValue(j, "Model"), jsonValue(j, "DateTimeOriginal"),
                         int(jsonNumber(j, "ISO")), int(jsonNumber(j, "Orientation"))));
    EXPECT_NEAR(e.exposureTime, jsonNumber(j, "ExposureTime"), 1e-9);
    EXPECT_NEAR(e.fNumber, jsonNumber(j, "FNumber"), 1e-9);
    EXPECT_NEAR(e.focalLength, jsonNumber(j, "FocalLength"), 1e-9);
  }
  // No EXIF in a PNG, nothing in a missing file.
  EXPECT_FALSE(media::readExif(fixture("muybridge.apng")).valid);
  EXPECT_FALSE(media::readExif("/nonexistent/file.jpg").valid);
}

TEST(ExifBuild, ShortTextsAreStoredInline) {
  Bytes b = media::buildExif("abc", "", "");
  // header 8, count 2, one entry 12, next-IFD 4, no data area
  ASSERT_EQ(b.size(), 26u);
  EXPECT_EQ(0, std::memcmp(b.data() + 10, "\x31\x01\x02\x00\x04\x00\x00\x00" "abc\0", 12));
  EXPECT_TRUE(media::buildExif("", "", "").empty());

  Bytes full = media::buildExif("Korvelle 1.0", "An odd text", "2024:02:03 04:05:06");
  media::ExifData e = parse(full);
  EXPECT_EQ(std::tuple(e.software, e.description, e.dateTime),
            std::tuple("Korvelle 1.0", "An odd text", "2024:02:03 04:05:06"));
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(full[10 + 12 * i + 8] % 2, 0) << "texts start at even offsets";

  const std::string now = media::exifNow();
  ASSERT_EQ(now.size(), 19u);
  for (size_t i : {4, 7, 13}) EXPECT_EQ(now[i], ':') << now;
  EXPECT_EQ(now[10], ' ') << now;
}

class Signature : public ::testing::Test {
 protected:
  void make(const std::string& name, const std::string& command) {
    path = dir.file(name);
    auto r = runShell(command + " '" + path + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    pixelsBefore = media_clips::ffmpegRgba(path);
    ASSERT_FALSE(pixelsBefore.empty());
  }
  void signAndCheckPixels() {
    ASSERT_TRUE(media::writeSignature(path, "Korvelle 1.0", "Edited with care", "2024:05:06 07:08:09"));
    EXPECT_EQ(media_clips::ffmpegRgba(path), pixelsBefore);
  }
  TempDir dir;
  std::string path;
  std::string pixelsBefore;
};

TEST_F(Signature, JpegCarriesExifAndKeepsItsPixels) {
  make("a.jpg", "convert -size 64x48 gradient:red-blue -quality 90");
  signAndCheckPixels();
  expectSignedExif(path);
  EXPECT_EQ(media::readExif(path).software, "Korvelle 1.0");
}

TEST_F(Signature, PngGetsThreeTextChunksBeforeItsImageData) {
  make("a.png", "convert -size 40x30 gradient:green-yellow -define png:exclude-chunk=date,time");
  signAndCheckPixels();
  const std::string j = exiftoolJson("-PNG:Software -PNG:Description -PNG:CreationTime -warning", path);
  EXPECT_EQ(std::tuple(jsonValue(j, "Software"), jsonValue(j, "Description"), jsonValue(j, "CreationTime")),
            std::tuple("Korvelle 1.0", "Edited with care", "2024:05:06 07:08:09"));
  EXPECT_EQ(jsonValue(j, "Warning"), "");
  const std::string bytes = readFile(path);
  EXPECT_EQ(bytes.compare(bytes.size() - 8, 4, "IEND"), 0);
  EXPECT_LT(bytes.find("tEXtCreation Time"), bytes.find("IDAT"));

  // A description beyond Latin-1 goes into an international text chunk.
  ASSERT_TRUE(media::writeSignature(path, "", "\xe7\xbc\x96\xe8\xbe\x91 \xc2\xb7 ok", ""));
  EXPECT_NE(readFile(path).find("iTXtDescription"), std::string::npos);
  EXPECT_EQ(jsonValue(exiftoolJson("-PNG:Description", path), "Description"),
            "\xe7\xbc\x96\xe8\xbe\x91 \xc2\xb7 ok");
}

TEST_F(Signature, WebPLossyLosslessAndExtendedCarryExif) {
  for (auto [name, command] :
       {std::pair{"lossy.webp", "convert -size 64x48 gradient:red-blue -quality 80"},
        {"lossless.webp", "convert -size 64x48 gradient:red-blue -define webp:lossless=true"},
        {"alpha.webp", "convert -size 64x48 xc:none -fill 'rgba(255,0,0,0.5)' -draw 'rectangle 0,0 31,47' -quality 80"}}) {
    SCOPED_TRACE(name);
    make(name, command);
    signAndCheckPixels();
    expectSignedExif(path);
    const std::string bytes = readFile(path);
    // The extended header announces the metadata and the RIFF size is the file's.
    ASSERT_EQ(bytes.compare(12, 4, "VP8X"), 0);
    EXPECT_TRUE(bytes[20] & 0x08);
    uint32_t riff = 0;
    std::memcpy(&riff, bytes.data() + 4, 4);  // little-endian, as this machine
    EXPECT_EQ(riff + 8, bytes.size());
    EXPECT_EQ(media::readExif(path).description, "Edited with care");
  }
}

TEST_F(Signature, OtherFilesAreRefusedAndUntouched) {
  make("a.bmp", "convert -size 8x8 xc:red");
  const std::string before = readFile(path);
  EXPECT_FALSE(media::writeSignature(path, "Korvelle 1.0", "x", "y"));
  EXPECT_EQ(readFile(path), before);
  EXPECT_FALSE(media::writeSignature(dir.file("missing.jpg"), "Korvelle 1.0", "x", "y"));

  // A WebP with bytes after its RIFF end would turn into a broken file.
  make("junk.webp", "convert -size 8x8 xc:red");
  std::string webp = readFile(path) + "JUNK";
  ASSERT_TRUE(writeFile(path, webp));
  EXPECT_FALSE(media::writeSignature(path, "Korvelle 1.0", "x", "y"));
  EXPECT_EQ(readFile(path), webp);

  // So would a PNG without its end chunk.
  make("a.png", "convert -size 40x30 gradient:green-yellow -define png:exclude-chunk=date,time");
  std::string png = readFile(path);
  png.resize(png.size() - 12);
  ASSERT_TRUE(writeFile(path, png));
  EXPECT_FALSE(media::writeSignature(path, "Korvelle 1.0", "x", "2024:05:06 07:08:09"));
  EXPECT_EQ(readFile(path), png);
}
