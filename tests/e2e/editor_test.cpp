// The editor in the real program: a clip named on the command line opens into
// the editor, plays, seeks, fills its filmstrip and closes cleanly without
// touching the source. (Phone clips stand upright: VideoEditE2E.)
#include <gtest/gtest.h>

#include <string>

#include "support/e2e_harness.h"
#include "support/media_clips.h"

using namespace testing_support;

namespace {

double playheadX(const AppProcess& app) {
  auto r = app.widget("timeline.playhead");
  return r ? r->x : -1;
}

using EditorE2E = E2ETest;

}  // namespace

TEST_F(EditorE2E, AClipPlaysSeeksFillsItsStripAndStaysUntouched) {
  const std::string clip = media_clips::indexClip("e2e_editor.mp4", 12, "aac");
  ASSERT_FALSE(clip.empty());
  const std::string before = readFile(clip);
  AppProcess app(x, profile, {"--size", "1280x720", clip});
  ASSERT_TRUE(app.waitForWidget("screen.editor")) << app.err();
  ASSERT_TRUE(app.waitForWidget("timeline"));
  ASSERT_TRUE(app.waitForWindow());
  EXPECT_TRUE(app.waitForWidget("tool.editor.play"));

  // The filmstrip of the whole clip fills.
  EXPECT_TRUE(app.waitForLog("Filmstreifen fertig: ")) << app.log();

  // Space plays: the playhead moves right; Space again pauses.
  const double start = playheadX(app);
  ASSERT_TRUE(app.key("space"));
  EXPECT_TRUE(app.waitForLog("Taste: Leertaste"));
  EXPECT_TRUE(waitUntil([&] {
    app.waitForNextFrame();
    return playheadX(app) > start + 20;
  }));
  ASSERT_TRUE(app.key("space"));

  // Arrows seek by five seconds.
  ASSERT_TRUE(app.key("Home"));
  ASSERT_TRUE(app.key("Right"));
  EXPECT_TRUE(app.waitForLog("Taste: vor auf 0:05.00")) << app.log();
  ASSERT_TRUE(app.key("Left"));
  EXPECT_TRUE(app.waitForLog("Taste: zurueck auf 0:00.00"));

  terminate(app);
  EXPECT_NE(app.log().find("---- Ende ----"), std::string::npos);
  EXPECT_TRUE(readFile(clip) == before) << "the source file changed";
}
