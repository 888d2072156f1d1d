// The background writer of version files (the document's use: screens/image_history).
// test-labels: threads
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "editor/editor_fixtures.h"
#include "editor/version_writer.h"
#include "media/image_io.h"
#include "platform/fs.h"
#include "support/test_support.h"

namespace {

using editor_fixtures::solid;

std::shared_ptr<const media::Image> picture(int w, int h, editor_fixtures::Rgb c) {
  return std::make_shared<const media::Image>(solid(w, h, c));
}

TEST(VersionWriter, WritesInOrderAndWaitsForAFile) {
  testing_support::TempDir tmp;
  doc::VersionWriter w;
  for (int i = 0; i < 4; ++i) w.enqueue(tmp.file("v" + std::to_string(i) + ".png"), picture(300, 200, {200, 10, 10}));
  EXPECT_TRUE(w.waitFor(tmp.file("v2.png")));
  w.waitIdle();
  media::Image back;
  ASSERT_TRUE(media::loadImage(tmp.file("v3.png"), &back, nullptr, nullptr));
  EXPECT_EQ(back.width, 300);
  EXPECT_EQ(back.row(100)[0], 200);
  EXPECT_TRUE(w.waitFor(tmp.file("never-queued.png"))) << "nothing to wait for";
}

TEST(VersionWriter, AFailedWriteIsReportedToItsWaiter) {
  testing_support::TempDir tmp;
  ASSERT_TRUE(testing_support::writeFile(tmp.file("plain"), "x"));
  doc::VersionWriter w;
  const std::string impossible = tmp.file("plain") + "/v.png";  // below a file: no one can write there
  w.enqueue(impossible, picture(8, 8, {0, 0, 0}));
  EXPECT_FALSE(w.waitFor(impossible));
  w.enqueue(tmp.file("ok.png"), picture(8, 8, {0, 0, 0}));
  EXPECT_TRUE(w.waitFor(tmp.file("ok.png")));
}

TEST(VersionWriter, StopDropsWhatIsQueuedAndCanStartAgain) {
  testing_support::TempDir tmp;
  doc::VersionWriter w;
  for (int i = 0; i < 6; ++i) w.enqueue(tmp.file("s" + std::to_string(i) + ".png"), picture(1200, 900, {1, 2, 3}));
  w.stop();
  EXPECT_EQ(w.pending(), 0u);
  EXPECT_FALSE(platform::fs::isFile(tmp.file("s5.png"))) << "the last of six never started";
  w.enqueue(tmp.file("again.png"), picture(8, 8, {1, 2, 3}));
  EXPECT_TRUE(w.waitFor(tmp.file("again.png")));
}

}  // namespace
