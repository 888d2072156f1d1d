// The running program under a virtual X server: drops, crash reports,
// termination signals.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "platform/fs.h"
#include "support/e2e_harness.h"
#include "support/x11_client.h"

using namespace testing_support;

namespace {

using Lifecycle = E2ETest;

}  // namespace

// A file manager drops "file://" URIs with escapes and a CR LF: the program
// receives the plain path. F9 treats the drop variable as dropped files.
TEST_F(Lifecycle, DroppedFilesArriveDecodedAndF9TakesTheDropVariable) {
  const std::string path = profile.root() + "/My Photo \xC3\xA4.jpg";
  ASSERT_TRUE(writeFile(path, "not really a photo"));
  const std::string uri = "file://" + profile.root() + "/My%20Photo%20%C3%A4.jpg\r\n";
  AppProcess app(x, profile, {}, {{"KORVELLE_DROP", "/tmp/My Photo.jpg::/tmp/b.png:"}});
  ASSERT_TRUE(started(app));
  ASSERT_TRUE(xdndDrop(x.name(), app.windowId(), uri, 200, 200, kE2ETimeout));
  EXPECT_TRUE(app.waitForLog("hereingezogen: " + path + "\n")) << app.log();
  ASSERT_TRUE(app.key("F9"));
  EXPECT_TRUE(app.waitForLog("F9: 2 Datei(en) als hereingezogen behandelt"))
      << app.log();
  terminate(app);
}

// A plain SIGTERM: Shutdown.SigtermDuringPlaybackEndsInOrder.

// A second SIGTERM while the first is still being honoured ends the program
// at once. The display is stopped, so the program hangs in its next X call —
// in a frame or in the shutdown — with the first signal taken.
TEST_F(Lifecycle, SecondSigtermWhileShuttingDownEndsAtOnceWith143) {
  AppProcess app(x, profile, {});
  ASSERT_TRUE(app.waitForWidget("screen.start")) << app.err();
  x.pause();
  app.signal(SIGTERM);
  // Only once the handler has run is the next signal a second one.
  ASSERT_TRUE(waitUntil([&] { return !app.signalPending(SIGTERM); }));
  EXPECT_TRUE(app.running());
  app.signal(SIGTERM);
  ExitStatus s = app.waitExit();
  x.resume();
  ASSERT_TRUE(s.exited);
  EXPECT_EQ(s.exitCode, 143);
}

TEST_F(Lifecycle, ACrashIsAnnouncedAtTheNextStartInADialog) {
  {
    AppProcess app(x, profile, {});
    ASSERT_TRUE(app.waitForWidget("screen.start")) << app.err();
    app.signal(SIGSEGV);
    ExitStatus s = app.waitExit();
    ASSERT_TRUE(s.exited);
    EXPECT_EQ(s.signal, SIGSEGV);
  }
  std::string report = readFile(profile.runtimeDir() + "/Korvelle_crash.txt");
  EXPECT_NE(report.find("SIGSEGV"), std::string::npos) << report;

  AppProcess again(x, profile, {});
  ASSERT_TRUE(again.waitForWidget("dialog.0")) << again.err();
  EXPECT_TRUE(again.logHas("Bericht vom letzten Lauf: " + profile.dataDir() + "/Korvelle_crash_"));
  EXPECT_FALSE(platform::fs::isFile(profile.runtimeDir() + "/Korvelle_crash.txt"));
  ASSERT_TRUE(again.waitForWindow());
  ASSERT_TRUE(again.clickWidget("dialog.0"));
  EXPECT_TRUE(again.waitForWidget("dialog.0", false)) << again.err();
  terminate(again);
}
