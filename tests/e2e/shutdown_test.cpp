// The end of a run with background work going on: a termination signal
// during playback, and the window closed the way a window manager does. Both
// must stop every worker before the settings are saved, the working
// directory emptied, the log closed and SDL shut down.
// test-labels: asan
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "support/e2e_harness.h"
#include "support/media_clips.h"
#include "support/x11_client.h"

using namespace testing_support;

namespace {

// Lets playback (a 6 s clip with sound) and the background collectors run
// for a while before the end arrives; not a measurement.
constexpr auto kBusyTime = std::chrono::milliseconds(600);

// The process's own working directories ("<pid>-<random>").
std::vector<std::string> workDirsOf(const E2EProfile& profile, pid_t pid) {
  std::vector<std::string> own;
  for (const std::string& name : platform::fs::listDir(profile.root() + "/cache/Korvelle/work")) {
    if (name.rfind(std::to_string(pid) + "-", 0) == 0) own.push_back(name);
  }
  return own;
}

std::string lastLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);  // npos + 1: the whole text
}

// Skipped, besides the X tools, without ffmpeg, which makes the clips.
class Shutdown : public E2ETest {
 protected:
  Shutdown() : E2ETest({"ffmpeg"}) {}

  void expectOrderlyEnd(AppProcess& app) {
    ExitStatus s = app.waitExit();
    ASSERT_TRUE(s.exited);
    EXPECT_EQ(s.exitCode, 0) << "signal " << s.signal << "\n" << app.err();
    EXPECT_TRUE(workDirsOf(profile, app.pid()).empty());
    EXPECT_TRUE(profile.settingsHave("\"windowW\":")) << profile.settingsText();
    const std::string log = app.log();
    EXPECT_NE(lastLine(log).find("] ---- Ende ----"), std::string::npos) << log;
    // Sanitizer builds report there (and fail the exit status for most reports).
    EXPECT_EQ(app.err().find("Sanitizer"), std::string::npos) << app.err();
  }

  // Opens a playing clip, starts playback, lets it run, then ends the run
  // with endRun and checks that it ended in order.
  void playThenEnd(const std::function<void(AppProcess&)>& endRun) {
    const std::string clip = media_clips::indexClip("shutdown.mp4", 6, "aac");
    ASSERT_FALSE(clip.empty());
    AppProcess app(x, profile, {clip});
    ASSERT_TRUE(app.waitForWidget("screen.editor")) << app.err() << app.log();
    ASSERT_EQ(workDirsOf(profile, app.pid()).size(), 1u);
    ASSERT_TRUE(app.waitForWindow());
    ASSERT_TRUE(app.key("space"));
    ASSERT_TRUE(app.waitForNextFrame());
    std::this_thread::sleep_for(kBusyTime);
    EXPECT_FALSE(platform::fs::isFile(profile.settingsPath())) << "saved at the end, not before";
    endRun(app);
    expectOrderlyEnd(app);
    EXPECT_NE(app.out().find("[video] Treiber: x11"), std::string::npos) << app.out();
    EXPECT_TRUE(app.logHas("Elternfenster fuer Dialoge: x11:"));
  }
};

}  // namespace

TEST_F(Shutdown, SigtermDuringPlaybackEndsInOrder) {
  playThenEnd([](AppProcess& app) { app.signal(SIGTERM); });
}

// The window manager's close button ends the run through the same order as
// the signal, with whatever work is running at that moment.
TEST_F(Shutdown, ClosingTheWindowDuringWorkEndsInOrder) {
  playThenEnd([&](AppProcess& app) { ASSERT_TRUE(wmClose(x.name(), app.windowId())); });
}

// Closing the window while an export runs cancels it: the run still ends in
// order, and neither the target nor a temporary beside it is left behind.
TEST_F(Shutdown, ClosingTheWindowDuringAnExportLeavesNoFile) {
  // Long and large enough that the export is still running when the window goes.
  const std::string clip = media_clips::testClip(30, 1280, 720);
  ASSERT_FALSE(clip.empty());
  TempDir out;
  const std::string target = out.file("export.webm");
  AppProcess app(x, profile, {clip}, {{"KORVELLE_SAVE_TO", target}});
  ASSERT_TRUE(app.waitForWidget("screen.editor")) << app.err() << app.log();
  ASSERT_TRUE(app.waitForWindow());
  ASSERT_TRUE(app.clickWidget("tool.editor.export"));
  ASSERT_TRUE(app.waitForWidget("export.go"));
  ASSERT_TRUE(app.clickWidget("export.go"));
  ASSERT_TRUE(app.waitForWidget("busy.cancel")) << app.log();
  ASSERT_TRUE(wmClose(x.name(), app.windowId()));
  expectOrderlyEnd(app);
  EXPECT_TRUE(platform::fs::listDir(out.path()).empty()) << "no file and no temporary";
}
