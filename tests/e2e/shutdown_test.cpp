// The end of a run with background work going on: SIGTERM during playback, the window closed during
// an export. Both stop every worker before the settings are saved, the working directory emptied, the
// log closed and SDL shut down; the source stays as it was.
// test-labels: asan
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "support/e2e_harness.h"
#include "support/media_clips.h"

using namespace testing_support;

namespace {

// The process's own working directories ("<pid>-<random>").
std::vector<std::string> workDirsOf(const E2EProfile& profile, pid_t pid) {
  std::vector<std::string> own;
  for (const std::string& name : platform::fs::listDir(profile.root() + "/cache/Korvelle/work")) {
    if (name.rfind(std::to_string(pid) + "-", 0) == 0) own.push_back(name);
  }
  return own;
}

double playheadX(const AppProcess& app) {
  auto r = app.widget("timeline.playhead");
  return r ? r->x : -1;
}

// Skipped, besides the X tools, without ffmpeg, which makes the clips.
class Shutdown : public E2ETest {
 protected:
  Shutdown() : E2ETest({"ffmpeg"}) {}

  void expectOrderlyEnd(AppProcess& app, const std::string& source, const std::string& sourceBytes) {
    ExitStatus s = app.waitExit();
    ASSERT_TRUE(s.exited);
    EXPECT_EQ(s.exitCode, 0) << "signal " << s.signal << "\n" << app.err();
    EXPECT_TRUE(workDirsOf(profile, app.pid()).empty());
    EXPECT_TRUE(profile.settingsHave("\"windowW\":")) << profile.settingsText();
    const std::string log = app.log();
    const size_t end = log.rfind("] ---- Ende ----");
    EXPECT_TRUE(end != std::string::npos && log.find('\n', end) >= log.size() - 1) << "the last line:\n" << log;
    // Sanitizer builds report there (and fail the exit status for most reports).
    EXPECT_EQ(app.err().find("Sanitizer"), std::string::npos) << app.err();
    EXPECT_TRUE(readFile(source) == sourceBytes) << "the source file changed";
  }
};

}  // namespace

// A clip stored turned, as phones do, opens upright, fills its filmstrip, seeks and plays; SIGTERM
// while it plays ends the run in order.
TEST_F(Shutdown, APhoneClipSeeksPlaysAndSigtermDuringPlaybackEndsInOrder) {
  const std::string clip =
      media_clips::rotatedCopy("e2e_phone.mp4", media_clips::indexClip("e2e_editor.mp4", 12, "aac"), 270);
  ASSERT_FALSE(clip.empty());
  const std::string bytes = readFile(clip);
  AppProcess app(x, profile, {"--size", "1280x720", clip});
  ASSERT_TRUE(started(app, "editor.picture"));
  const ui::Rect pic = app.widget("editor.picture").value_or(ui::Rect{});
  EXPECT_NEAR(pic.w / pic.h, 240.0 / 320.0, 0.02) << "320 × 240 stored, turned by its display matrix";
  ASSERT_EQ(workDirsOf(profile, app.pid()).size(), 1u);
  EXPECT_TRUE(app.waitForLog("Filmstreifen fertig: ")) << app.log();

  // Arrows seek by five seconds.
  ASSERT_TRUE(app.key("Right"));
  EXPECT_TRUE(app.waitForLog("Taste: vor auf 0:05.00")) << app.log();
  ASSERT_TRUE(app.key("Left"));
  EXPECT_TRUE(app.waitForLog("Taste: zurueck auf 0:00.00"));

  // Space plays: the playhead moves right while sound and pictures run.
  const double start = playheadX(app);
  ASSERT_TRUE(app.key("space"));
  EXPECT_TRUE(app.waitForLog("Taste: Leertaste"));
  EXPECT_TRUE(waitUntil([&] {
    app.waitForNextFrame();
    return playheadX(app) > start + 20;
  }));
  EXPECT_FALSE(platform::fs::isFile(profile.settingsPath())) << "saved at the end, not before";
  app.signal(SIGTERM);
  expectOrderlyEnd(app, clip, bytes);
  EXPECT_NE(app.out().find("[video] Treiber: x11"), std::string::npos) << app.out();
  EXPECT_TRUE(app.logHas("Elternfenster fuer Dialoge: x11:"));
}

// A cancelled export and one whose window is closed leave no file and no temporary; the run ends in order.
TEST_F(Shutdown, ACancelledExportAndClosingTheWindowDuringOneLeaveNoFile) {
  // Long and large enough that the export is still running when it is cancelled.
  const std::string clip = media_clips::testClip(30, 1280, 720);
  ASSERT_FALSE(clip.empty());
  const std::string bytes = readFile(clip);
  TempDir out;
  AppProcess app(x, profile, {"--size", "1280x720", clip}, {{"KORVELLE_SAVE_TO", out.file("export")}});
  ASSERT_TRUE(started(app, "screen.editor"));

  ASSERT_TRUE(app.clickWidget("tool.editor.export"));
  ASSERT_TRUE(app.waitForWidget("export.format.webm"));
  ASSERT_TRUE(app.clickWidget("export.format.webm"));
  app.waitForLog("Export-Format: ", 1, 3);  // VP9, the slower one (no line when already chosen)
  ASSERT_TRUE(app.clickWidget("export.go"));
  ASSERT_TRUE(app.waitForWidget("busy.cancel")) << app.log();
  ASSERT_TRUE(app.clickWidget("busy.cancel"));
  ASSERT_TRUE(app.waitForLog("export abgebrochen", 1, 60)) << app.log();
  EXPECT_TRUE(app.waitForWidget("busy.cancel", false));
  EXPECT_TRUE(platform::fs::listDir(out.path()).empty()) << "no file and no temporary";
  EXPECT_FALSE(app.logHas("fertig: /"));
  EXPECT_FALSE(app.widget("dialog.0")) << "no message after a cancel";

  ASSERT_TRUE(app.waitForWidget("export.go")) << app.log();
  ASSERT_TRUE(app.clickWidget("export.go"));
  ASSERT_TRUE(app.waitForWidget("busy.cancel")) << app.log();
  ASSERT_TRUE(app.closeWindow());
  expectOrderlyEnd(app, clip, bytes);
  EXPECT_TRUE(platform::fs::listDir(out.path()).empty()) << "no file and no temporary";
}
