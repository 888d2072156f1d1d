// editor_screen_fixtures: what the editor screen tests share — private cache
// and data folders with the log running, documents opened from pictures and
// clips made at test time, frames driven until a condition holds, and the
// log read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "editor/document.h"
#include "editor/editor.h"
#include "editor/editor_fixtures.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "screens/router.h"
#include "support/media_clips.h"
#include "support/screen_harness.h"
#include "ui/dialog.h"

namespace editor_screen_fixtures {

using testing_support::ScreenHarness;

// Private cache and data folders for the whole program, and the log running
// there (registered once per test program).
class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testing_support::TempDir>();
    setenv("XDG_CACHE_HOME", dir_->file("cache").c_str(), 1);
    setenv("XDG_DATA_HOME", dir_->file("data").c_str(), 1);
    diag::init();
  }
  void TearDown() override {
    ui::closeDocument();
    diag::shutdown();
    doc::Document::cleanWorkDir();
    dir_.reset();
  }

 private:
  std::unique_ptr<testing_support::TempDir> dir_;
};

// The log written so far.
inline std::string logText() { return testing_support::readFile(paths::dataDir() + "/Korvelle.log"); }
inline bool logHas(const std::string& text) { return logText().find(text) != std::string::npos; }

// A clip of the index pattern with sound, seconds long, 320 × 240 at 25 fps.
inline std::string clip(double seconds, const std::string& name = "screen.mp4") {
  return media_clips::indexClip(std::to_string(static_cast<int>(seconds * 1000)) + name, seconds, "aac");
}

// A picture w × h of one colour written into dir.
inline std::string picture(const std::string& dir, int w, int h) {
  return editor_fixtures::writeSolid(dir + "/pic" + std::to_string(w) + "x" + std::to_string(h) + ".png", w, h,
                                     {200, 40, 40});
}

// Press at (x0, y), moves in steps to (x1, y), release there: one drag.
inline void drag(ScreenHarness& h, double x0, double x1, double y, int steps = 6) {
  h.appFrame(ScreenHarness::press(x0, y));
  for (int i = 1; i <= steps; ++i) h.appFrame(ScreenHarness::move(x0 + (x1 - x0) * i / steps, y));
  h.appFrame(ScreenHarness::release(x1, y));
}

// Runs app frames until cond holds or about 30 s have passed; true when it held.
inline bool framesUntil(ScreenHarness& h, const std::function<bool()>& cond, double seconds = 30) {
  return testing_support::waitUntil([&] { h.appFrame(); return cond(); }, seconds, 0.01);
}

// Resets the editor, the dialog and the router around each test.
class EditorScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    ui::closeDocument();
    ui::busy() = ui::BusyState{};
    ui::App::instance().screen = ui::App::Main;
    if (ui::dialogOpen()) ui::showDialog("", "", {{"x", 0}});
    ui::EditorState& s = ui::editorState();
    s.pendingDrop.clear();
    s.appendAsk = false;
    s.gestureActive = false;
    {
      ScreenHarness h(1280, 720);
      if (ui::dialogOpen()) {
        h.appFrame();
        h.clickWidget("dialog.0");
      }
    }
    ui::takeDialogResult();
  }
  static ui::EditorState& state() { return ui::editorState(); }
  static doc::Document& document() { return doc::Document::instance(); }

  // Opens a clip as the open flow does (one clip over the whole file).
  static bool openVideo(const std::string& path) {
    if (!document().openVideo(path)) return false;
    state().clips = {{path, 0, document().videoInfo.durationMs}};
    return true;
  }
  // Frames until the player is ready and its first picture arrived.
  static bool untilPicture(ScreenHarness& h) {
    return framesUntil(h, [] { return state().playerReady && state().frame.valid(); });
  }
};

}  // namespace editor_screen_fixtures
