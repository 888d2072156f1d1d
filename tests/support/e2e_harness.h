// e2e_harness: runs the real program under a virtual X server of its own (VirtualDisplay) with private
// folders (E2EProfile) and talks to it the way a user would (AppProcess: xdotool at the rectangles of the
// interface dump, signals, the log). Waits poll with generous deadlines; children die with the test.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <csignal>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/screen_harness.h"
#include "support/test_support.h"

namespace testing_support {

// Deadline for anything a healthy program does in well under a second.
inline constexpr double kE2ETimeout = 30.0;

// An Xvfb server on a display number it picks itself (-displayfd).
class VirtualDisplay {
 public:
  explicit VirtualDisplay(int width = 1920, int height = 1080);
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  bool ok() const { return !name_.empty(); }
  const std::string& name() const { return name_; }  // ":N"
  // Stops and continues the server, for a display that no longer answers.
  void pause();
  void resume();
  // Runs xdotool against this display and waits for it.
  RunResult xdotool(const std::vector<std::string>& args) const;

 private:
  pid_t pid_ = -1;
  bool paused_ = false;
  std::string name_;
};

// Private HOME and XDG folders shared by the runs of one scenario.
class E2EProfile {
 public:
  E2EProfile();
  const std::string& root() const { return dir_.path(); }
  std::string dataDir() const { return dir_.file("data") + "/Korvelle"; }
  std::string runtimeDir() const { return dir_.file("runtime"); }
  std::string settingsPath() const { return dataDir() + "/settings.dat"; }
  std::string dumpPath() const { return dir_.file("ui_dump.txt"); }
  // The settings file opened with the program's own seal ("" when absent); whether it contains part.
  std::string settingsText() const;
  bool settingsHave(const std::string& part) const { return settingsText().find(part) != std::string::npos; }

  // Runs ask the desktop portal on their session bus (false: the test switch keeps it unasked).
  bool usePortal = false;

 private:
  TempDir dir_;
};

// Result of a finished run.
struct ExitStatus {
  bool exited = false;  // false: still running at the deadline (then killed)
  int exitCode = -1;    // exit status, −1 when killed by a signal
  int signal = 0;       // terminating signal
};

// One run of the program (exe: another copy, such as an installed one) with the profile's folders, X11,
// no sound, language C.UTF-8 and the interface dump; killed when the object goes away.
class AppProcess {
 public:
  AppProcess(const VirtualDisplay& display, const E2EProfile& profile, const std::vector<std::string>& args,
             const std::vector<std::pair<std::string, std::string>>& extraEnv = {}, const std::string& exe = "");
  ~AppProcess();
  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  void signal(int sig);
  // Whether sig was sent but its handler has not run yet (/proc/<pid>/status).
  bool signalPending(int sig) const;
  // Waits for the end; on the deadline the process is killed and exited is false.
  ExitStatus waitExit(double timeoutSeconds = kE2ETimeout);
  std::string out() const { return readFile(outPath_); }
  std::string err() const { return readFile(errPath_); }

  // --- The interface, through the dump file -----------------------------------
  std::optional<ui::Rect> widget(const std::string& id) const;
  // Waits until the dump lists id (or, with present false, until a dump exists that does not).
  bool waitForWidget(const std::string& id, bool present = true, double timeoutSeconds = kE2ETimeout);
  // Waits until the program has drawn a frame after this call (each one replaces the dump file).
  bool waitForNextFrame(double timeoutSeconds = kE2ETimeout);

  // --- The window, through xdotool ------------------------------------------------
  // The program's X11 window id ("" until it is mapped).
  std::string windowId() const;
  bool waitForWindow(double timeoutSeconds = kE2ETimeout);
  // Window position and size as X reports them.
  struct Geometry {
    int x = 0, y = 0, w = 0, h = 0;
  };
  std::optional<Geometry> geometry() const;
  // Left click on the widget's centre, or at (x, y) in window coordinates.
  bool clickWidget(const std::string& id);
  bool clickAt(double x, double y);
  // Presses the left button on the widget's centre and releases it at (toX, toY) after a few moves.
  bool dragWidget(const std::string& id, double toX, double toY);
  // Sends a key (xdotool key name, e.g. "F9") to the window.
  bool key(const std::string& name);
  // Asks the window to close (WM_DELETE_WINDOW), as a window manager's close button does.
  bool closeWindow();
  // Drops uriList ("text/uri-list" with CR LF, as file managers send it) with XDND at (x, y); blocks.
  bool dropUris(const std::string& uriList, int x, int y);
  // The profile's log; how often it contains text; waits until it does at least times times.
  std::string log() const;
  bool logHas(const std::string& text) const { return logCount(text) > 0; }
  size_t logCount(const std::string& text) const { return countOf(log(), text); }
  bool waitForLog(const std::string& text, size_t times = 1, double timeoutSeconds = kE2ETimeout) const;

 private:
  const VirtualDisplay& display_;
  const E2EProfile& profile_;
  pid_t pid_ = -1;
  std::optional<ExitStatus> status_;
  std::string outPath_;
  std::string errPath_;
};

// Ends a run the normal way (SIGTERM) and checks that it ended cleanly.
inline void terminate(AppProcess& app) {
  app.signal(SIGTERM);
  const ExitStatus s = app.waitExit();
  EXPECT_TRUE(s.exited);
  EXPECT_EQ(s.exitCode, 0) << app.err();
}

// A test with a display of its own (x) and a private profile; skipped without Xvfb, xdotool and tools.
class E2ETest : public ::testing::Test {
 protected:
  explicit E2ETest(std::vector<std::string> tools = {}, int displayW = 1920, int displayH = 1080)
      : tools_(std::move(tools)), x(displayW, displayH) {}
  void SetUp() override {
    tools_.insert(tools_.end(), {"Xvfb", "xdotool"});
    for (const std::string& tool : tools_) {
      if (!haveTool(tool)) GTEST_SKIP() << tool << " missing (scripts/deps.sh test)";
    }
    ASSERT_TRUE(x.ok());
  }
  // The run shows the widget (by default the start screen) in a mapped window.
  static ::testing::AssertionResult started(AppProcess& app, const std::string& widget = "screen.start") {
    if (!app.waitForWidget(widget)) return ::testing::AssertionFailure() << app.err() << app.log();
    if (!app.waitForWindow()) return ::testing::AssertionFailure() << "no window";
    return ::testing::AssertionSuccess();
  }

  std::vector<std::string> tools_;  // before x: initialised first
  VirtualDisplay x;
  E2EProfile profile;
};

}  // namespace testing_support
