// flow_fixtures: what the start screen and flow tests share — private data
// and cache folders with an open log for the whole test program, the editor
// and dialog state returned to a fresh start around each test, and the bad
// inputs every way of opening a file must survive.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "editor/document.h"
#include "editor/editor.h"
#include "editor/editor_fixtures.h"
#include "platform/log.h"
#include "screens/router.h"
#include "support/screen_harness.h"
#include "support/test_support.h"
#include "ui/dialog.h"

namespace flow_fixtures {

// Data, cache and config folders of the test program and its log. No portal
// unless a test starts one: every dialog without a forced answer ends at once.
class FlowEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testing_support::TempDir>();
    for (const char* var : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"}) {
      setenv(var, dir_->path().c_str(), 1);
    }
    setenv("KORVELLE_NO_PORTAL", "1", 1);
    unsetenv("KORVELLE_OPEN_TO");
    unsetenv("KORVELLE_APPEND_TO");
    diag::init();
  }
  void TearDown() override {
    ui::closeDocument();
    doc::Document::cleanWorkDir();
    diag::shutdown();
    dir_.reset();
  }
  std::string logText() const { return testing_support::readFile(dir_->path() + "/Korvelle/Korvelle.log"); }
  const std::string& root() const { return dir_->path(); }

 private:
  std::unique_ptr<testing_support::TempDir> dir_;
};

inline FlowEnvironment* g_env = static_cast<FlowEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new FlowEnvironment));

// Closes a dialog left open by clicking its first button, in harness when
// given (only one harness may live at a time), else in one of its own.
inline void closeDialog(testing_support::ScreenHarness* harness = nullptr) {
  if (!ui::dialogOpen()) return;
  std::unique_ptr<testing_support::ScreenHarness> own;
  if (!harness) {
    own = std::make_unique<testing_support::ScreenHarness>(1280, 720);
    harness = own.get();
  }
  harness->appFrame();
  harness->clickWidget("dialog.0");
  ui::takeDialogResult();
}

// Returns the router, the dialog and the editor to what a fresh start has.
inline void resetFlows(testing_support::ScreenHarness* harness = nullptr) {
  closeDialog(harness);
  ui::takeDialogResult();
  ui::busy() = ui::BusyState{};
  ui::App::instance().screen = ui::App::Main;
  ui::closeDocument();
  ui::EditorState& st = ui::editorState();
  st.dialogPurpose = ui::DialogPurpose::None;
  st.gestureActive = false;
  st.pendingDrop.clear();
  st.appendSkipped = 0;
  st.appendAsk = false;
  st.appendClips.clear();
  st.pendingClips.clear();
}

// The body of the dialog on screen, or "" when none is open.
inline std::string dialogBody() { return ui::dialogOpen() ? ui::currentDialog().body : std::string(); }
inline std::string dialogTitle() { return ui::dialogOpen() ? ui::currentDialog().title : std::string(); }

// Makes every bad input in dir and returns them with the part of the message
// each must show. Root reads files whatever their mode, so "no permission"
// is a write-only /proc/sys entry (refused even to root) and a pipe with no
// writer, which would block any reader forever.
inline std::vector<std::pair<std::string, std::string>> makeBadInputs(const std::string& dir) {
  using testing_support::writeFile;
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [name, bytes, message] :
       {std::tuple<const char*, std::string, const char*>{"empty.jpg", "", "JPG cannot be opened"},
        {"empty.mp4", "", "MP4 cannot be opened"},
        {"notes.mp4", "This is only text, not a video.\nSecond line.\n", "MP4 cannot be opened"},
        {"notes.jpg", "words, not a picture\n", "JPG cannot be opened"},
        {"notes.txt", "words, not a picture\n", "TXT cannot be opened"},
        {"fake.cr2", std::string(4096, 'x'), "RAW files (CR2)"}}) {
    writeFile(dir + "/" + name, bytes);
    out.push_back({dir + "/" + name, message});
  }
  mkfifo((dir + "/pipe.jpg").c_str(), 0644);
  out.push_back({dir + "/pipe.jpg", "“pipe.jpg” cannot be read"});
  symlink((dir + "/gone.jpg").c_str(), (dir + "/dangling.jpg").c_str());
  out.push_back({dir + "/dangling.jpg", "“dangling.jpg” cannot be read"});
  if (access("/proc/sys/vm/drop_caches", F_OK) == 0) {
    out.push_back({"/proc/sys/vm/drop_caches", "“drop_caches” cannot be read"});
  }
  return out;
}

// A JPEG cut after its first kilobyte.
inline std::string truncatedJpeg(const std::string& dir) {
  std::string full = editor_fixtures::writeSolid(dir + "/whole.jpg", 640, 480, {200, 40, 40}, media::OutFormat::Jpeg);
  std::string bytes = testing_support::readFile(full);
  testing_support::writeFile(dir + "/cut.jpg", bytes.substr(0, 1024));
  return dir + "/cut.jpg";
}

}  // namespace flow_fixtures
