// The editor in the real program: a clip named on the command line opens into
// the editor, plays, seeks, fills its filmstrip and closes cleanly without
// touching the source; an effect placed on the timeline goes with Ctrl+Z;
// pictures and phone clips stand upright.
#include <gtest/gtest.h>

#include <string>

#include "support/e2e_harness.h"
#include "support/media_clips.h"

using namespace testing_support;

namespace {

// A JPEG of w × h whose EXIF orientation says "turn 90° clockwise".
std::string turnedJpeg(const std::string& dir, int w, int h) {
  const std::string plain = dir + "/plain.jpg";
  if (!media_clips::ffmpeg("-f lavfi -i color=red:size=" + std::to_string(w) + "x" + std::to_string(h) +
                              " -frames:v 1 '" + plain + "'")) {
    return "";
  }
  std::string jpeg = readFile(plain);
  if (jpeg.size() < 2) return "";
  // APP1 "Exif": little-endian TIFF header, one IFD entry 0x0112 SHORT = 6.
  const std::string tiff = std::string("II*\0\x08\0\0\0", 8) + std::string("\x01\0", 2) +
                           std::string("\x12\x01\x03\0\x01\0\0\0\x06\0\0\0", 12) + std::string("\0\0\0\0", 4);
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  const size_t len = body.size() + 2;
  const std::string app1 = std::string("\xFF\xE1", 2) + static_cast<char>(len >> 8) + static_cast<char>(len & 0xFF) + body;
  const std::string out = dir + "/turned.jpg";
  return writeFile(out, jpeg.substr(0, 2) + app1 + jpeg.substr(2)) ? out : "";
}

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
  EXPECT_TRUE(waitUntil([&] { return app.logHas("Filmstreifen fertig: "); })) << readFile(profile.logPath());

  // Space plays: the playhead moves right; Space again pauses.
  const double start = playheadX(app);
  ASSERT_TRUE(app.key("space"));
  EXPECT_TRUE(waitUntil([&] { return app.logHas("Taste: Leertaste"); }));
  EXPECT_TRUE(waitUntil([&] {
    app.waitForNextFrame();
    return playheadX(app) > start + 20;
  }));
  ASSERT_TRUE(app.key("space"));

  // Arrows seek by five seconds.
  ASSERT_TRUE(app.key("Home"));
  ASSERT_TRUE(app.key("Right"));
  EXPECT_TRUE(waitUntil([&] { return app.logHas("Taste: vor auf 0:05.00"); })) << readFile(profile.logPath());
  ASSERT_TRUE(app.key("Left"));
  EXPECT_TRUE(waitUntil([&] { return app.logHas("Taste: zurueck auf 0:00.00"); }));

  terminate(app);
  EXPECT_NE(readFile(profile.logPath()).find("---- Ende ----"), std::string::npos);
  EXPECT_TRUE(readFile(clip) == before) << "the source file changed";
}

TEST_F(EditorE2E, CtrlZRemovesAnEffectPlacedOnTheTimeline) {
  const std::string clip = media_clips::indexClip("e2e_editor.mp4", 12, "aac");
  ASSERT_FALSE(clip.empty());
  AppProcess app(x, profile, {"--size", "1280x720", clip});
  ASSERT_TRUE(app.waitForWidget("timeline")) << app.err();
  ASSERT_TRUE(app.waitForWindow());
  ASSERT_TRUE(app.clickWidget("tool.effects.title"));
  ASSERT_TRUE(app.waitForWidget("effects.fadeIn", true, 5));
  ASSERT_TRUE(app.clickWidget("effects.fadeIn"));
  // Armed once the log says so; the frames after the click may already be drawn.
  ASSERT_TRUE(testing_support::waitUntil(
      [&] { return readFile(profile.logPath()).find("Effekt in der Hand") != std::string::npos; }, 10));
  ASSERT_TRUE(app.clickWidget("timeline.effects"));
  ASSERT_TRUE(app.waitForWidget("effect.0")) << readFile(profile.logPath());
  ASSERT_TRUE(app.key("ctrl+z"));
  EXPECT_TRUE(app.waitForWidget("effect.0", false)) << readFile(profile.logPath());
  terminate(app);
}

TEST_F(EditorE2E, PhoneClipsAndTurnedPicturesStandUpright) {
  TempDir dir;
  const std::string landscape = media_clips::indexClip("e2e_phone_src.mp4", 2, "");
  const std::string phone = media_clips::rotatedCopy("e2e_phone.mp4", landscape, 270);  // upright 240 × 320
  const std::string picture = turnedJpeg(dir.path(), 60, 40);                           // upright 40 × 60
  ASSERT_FALSE(phone.empty());
  ASSERT_FALSE(picture.empty());
  for (const std::string& file : {phone, picture}) {
    E2EProfile own;
    AppProcess app(x, own, {"--size", "1280x720", file});
    ASSERT_TRUE(app.waitForWidget("editor.picture")) << app.err();
    auto pic = app.widget("editor.picture");
    ASSERT_TRUE(pic);
    EXPECT_LT(pic->w, pic->h) << file;  // portrait
    EXPECT_NEAR(pic->w / pic->h, file == phone ? 0.75 : 40.0 / 60.0, 0.02) << file;
    terminate(app);
  }
}
