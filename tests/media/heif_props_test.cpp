// Reading the rotation and mirroring of a HEIF-family file's primary picture from its container.
#include "media/heif_props.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/iso_boxes.h"
#include "support/test_support.h"

namespace {

using iso_boxes::Bytes;
using iso_boxes::heifFile;
using iso_boxes::imir;
using iso_boxes::ipma;
using iso_boxes::irot;
using iso_boxes::ispe;
using media::TransformOp;
using Ops = std::vector<TransformOp>;

Ops read(const Bytes& b) { return media::primaryItemTransformsBytes(b.data(), b.size()); }

TEST(HeifProps, RotationsAndMirrorsOfThePrimaryItemInTheirOrder) {
  const Bytes props[] = {ispe(64, 32), irot(1), irot(2), irot(3), imir(0), imir(1), irot(0)};
  const std::vector<Bytes> all(std::begin(props), std::end(props));
  EXPECT_EQ(read(heifFile(all, ipma({{1, {1, 2}}}))), Ops{TransformOp::RotateCCW});
  EXPECT_EQ(read(heifFile(all, ipma({{1, {3}}}))), Ops{TransformOp::Rotate180});
  EXPECT_EQ(read(heifFile(all, ipma({{1, {4}}}))), Ops{TransformOp::RotateCW});
  EXPECT_EQ(read(heifFile(all, ipma({{1, {5}}}))), Ops{TransformOp::FlipV});
  EXPECT_EQ(read(heifFile(all, ipma({{1, {6}}}))), Ops{TransformOp::FlipH});
  EXPECT_EQ(read(heifFile(all, ipma({{1, {7}}}))), Ops{});  // a zero turn
  EXPECT_EQ(read(heifFile(all, ipma({{1, {2, 5}}}))), (Ops{TransformOp::RotateCCW, TransformOp::FlipV}));
  EXPECT_EQ(read(heifFile(all, ipma({{1, {6, 4}}}))), (Ops{TransformOp::FlipH, TransformOp::RotateCW}));

  // Other items' properties (a thumbnail, an alpha plane) do not count.
  EXPECT_EQ(read(heifFile(all, ipma({{2, {2}}, {1, {1}}}))), Ops{});
  EXPECT_EQ(read(heifFile(all, ipma({{1, {1}}, {2, {2}}}, 0, 0), 2)), Ops{TransformOp::RotateCCW});
  // 32-bit item ids and 15-bit property indices.
  EXPECT_EQ(read(heifFile(all, ipma({{1, {4}}}, 1, 1))), Ops{TransformOp::RotateCW});
}

TEST(HeifProps, DamagedOrForeignContainersGiveNothing) {
  const std::vector<Bytes> props = {irot(1)};
  const Bytes good = heifFile(props, ipma({{1, {1}}}));
  ASSERT_EQ(read(good), Ops{TransformOp::RotateCCW});

  // Every truncation stays inside the buffer and never invents a turn beyond the whole file's.
  for (size_t n = 0; n < good.size(); ++n) {
    const Ops ops = media::primaryItemTransformsBytes(good.data(), n);
    EXPECT_TRUE(ops.empty() || ops == Ops{TransformOp::RotateCCW}) << n;
  }
  EXPECT_TRUE(media::primaryItemTransformsBytes(nullptr, 100).empty());

  // Index 0 (no property), an index past the list, a missing primary item.
  EXPECT_EQ(read(heifFile(props, ipma({{1, {0, 9}}}))), Ops{});
  EXPECT_EQ(read(heifFile(props, ipma({{1, {1}}}), 7)), Ops{});
  // Association counts larger than the box.
  Bytes lying = heifFile(props, ipma({{1, {1}}}));
  const size_t at = std::string(lying.begin(), lying.end()).find("ipma");
  ASSERT_NE(at, std::string::npos);
  lying[at + 4 + 4 + 3] = 200;  // entry count
  EXPECT_EQ(read(lying), Ops{TransformOp::RotateCCW});
  lying[at + 4 + 4 + 4 + 2] = 250;  // association count of the first entry
  EXPECT_EQ(read(lying), Ops{});

  // A box claiming more than the file holds, a size below its header.
  Bytes big = good;
  big[2] = 0x7F;  // ftyp
  EXPECT_EQ(read(big), Ops{});
  Bytes small = good;
  small[3] = 4;
  EXPECT_EQ(read(small), Ops{});
}

TEST(HeifProps, FilesAreReadBoxByBox) {
  testing_support::TempDir dir;
  // A large media box before "meta" is skipped without reading it.
  Bytes file = iso_boxes::concat({iso_boxes::box("mdat", Bytes(1 << 20, 7)),
                                  heifFile({imir(1), irot(3)}, ipma({{1, {2, 1}}}))});
  const std::string path = dir.file("x.avif");
  ASSERT_TRUE(testing_support::writeFile(path, std::string(file.begin(), file.end())));
  EXPECT_EQ(media::primaryItemTransforms(path), (Ops{TransformOp::RotateCW, TransformOp::FlipH}));

  // 64-bit box sizes.
  Bytes large = {0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0};
  const Bytes rest = heifFile({irot(2)}, ipma({{1, {1}}}));
  large.insert(large.end(), rest.begin(), rest.end());
  ASSERT_TRUE(testing_support::writeFile(path, std::string(large.begin(), large.end())));
  EXPECT_EQ(media::primaryItemTransforms(path), Ops{TransformOp::Rotate180});

  EXPECT_TRUE(media::primaryItemTransforms(dir.file("missing.avif")).empty());
  EXPECT_TRUE(media::primaryItemTransforms(testing_support::fixture("orient_6.jpg")).empty());
  EXPECT_TRUE(media::primaryItemTransforms(testing_support::fixture("irvine.avif")).empty());
}

}  // namespace
