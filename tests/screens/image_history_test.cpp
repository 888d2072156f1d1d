// Undo and redo of large pictures: the neighbour version from memory, others read on the worker.
// test-labels: threads
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "screens/screen_fixtures.h"

using editor_fixtures::centreIs;
using editor_fixtures::solid;
using namespace screen_fixtures;

namespace {

class ImageHistory : public HarnessTest {
 protected:
  // Frames until no history step is running; true when none was left.
  static bool settle(ScreenHarness& h) {
    return framesUntil(h, [] { return !ui::imageEditRunning() && !ui::busy().active; });
  }
};

TEST_F(ImageHistory, AVersionNotInMemoryIsReadOnTheWorkerAndAnUnreadableOneMovesNothing) {
  TempDir dir;
  ASSERT_TRUE(document().openImage(picture(dir.path(), 2000, 1000)));
  h_.appFrame();
  ASSERT_TRUE(document().commitImage(solid(1000, 2000, {0, 0, 255}), "turn"));
  h_.appFrame();
  ASSERT_TRUE(document().commitImage(solid(2000, 2000, {0, 255, 0}), "grow"));
  h_.appFrame();
  doc::Document::waitForVersionFiles();

  ASSERT_TRUE(h_.clickWidget("bar.undo"));  // held in memory: at once
  EXPECT_EQ(document().current, 1);
  EXPECT_FALSE(ui::imageEditRunning());
  // With the source's file gone, document and history stay where they were.
  const std::string source = document().versions[0].path;
  ASSERT_EQ(std::rename(source.c_str(), (source + ".away").c_str()), 0);
  ASSERT_TRUE(h_.clickWidget("bar.undo"));
  ASSERT_TRUE(settle(h_));
  EXPECT_EQ(document().current, 1);
  EXPECT_EQ(state().undoPos, 1u);
  EXPECT_TRUE(centreIs(document().image, {0, 0, 255}));
  EXPECT_FALSE(ui::dialogOpen());
  ASSERT_EQ(std::rename((source + ".away").c_str(), source.c_str()), 0);

  ASSERT_TRUE(h_.clickWidget("bar.undo"));  // the source must be read
  EXPECT_EQ(document().current, 1);        // the old picture until it arrives
  EXPECT_TRUE(ui::imageEditRunning() && ui::busy().active);
  ASSERT_TRUE(framesUntil(h_, [] { return document().current == 0 && !ui::busy().active; }));
  EXPECT_EQ(state().undoPos, 0u);
  EXPECT_TRUE(centreIs(document().image, {200, 40, 40}));
  h_.appFrame();
  const ui::Rect pic = *h_.widget("editor.picture");
  EXPECT_NEAR(pic.w / pic.h, 2.0, 0.01);
  ASSERT_TRUE(h_.clickWidget("bar.redo"));  // the version left is in memory
  EXPECT_EQ(document().current, 1);
  EXPECT_EQ(document().image.height, 2000);
}

// Steps straight after two large commits, files likely still queued, end on the right picture.
TEST_F(ImageHistory, StepsOntoVersionsStillBeingWrittenEndOnTheirPictures) {
  TempDir dir;
  ASSERT_TRUE(document().openImage(picture(dir.path(), 2000, 1500)));
  h_.appFrame();
  ASSERT_TRUE(document().commitImage(solid(3000, 2000, {0, 0, 255}), "grow"));
  h_.appFrame();
  ASSERT_TRUE(document().commitImage(solid(3000, 2000, {0, 255, 0}), "paint"));
  h_.appFrame();

  struct Step {
    const char* button;
    int32_t to;
    editor_fixtures::Rgb colour;
  };
  for (const Step& s : {Step{"bar.undo", 1, {0, 0, 255}}, Step{"bar.redo", 2, {0, 255, 0}}}) {
    const int32_t from = document().current;
    ASSERT_TRUE(h_.clickWidget(s.button)) << s.button;
    if (ui::imageEditRunning()) {
      EXPECT_EQ(document().current, from);
      EXPECT_TRUE(ui::busy().active);
    }
    ASSERT_TRUE(settle(h_));
    EXPECT_EQ(document().current, s.to) << s.button;
    EXPECT_TRUE(centreIs(document().image, s.colour)) << s.button << " to " << s.to;
  }
  EXPECT_EQ(state().undoPos, 2u);
}

}  // namespace
