// sheets_fixtures: what the tests of the video sheets and the export job
// share — private data and cache folders, an open document, driving one
// sheet through the screen harness, and running the export job to its end.
#pragma once

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "screens/export.h"
#include "screens/sheets.h"
#include "support/media_clips.h"
#include "support/screen_harness.h"
#include "support/test_support.h"
#include "ui/dialog.h"

namespace sheets_fixtures {

using testing_support::ScreenHarness;

// Points the data and cache folders at a fresh place before anything reads
// them, so no test touches the user's settings or working copies.
class PrivateFolders : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testing_support::TempDir>();
    setenv("XDG_CACHE_HOME", dir_->file("cache").c_str(), 1);
    setenv("XDG_DATA_HOME", dir_->file("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir_->file("config").c_str(), 1);
    setenv("KORVELLE_NO_PORTAL", "1", 1);
  }
  void TearDown() override {
    ui::stopExportJob();
    doc::Document::cleanWorkDir();
    dir_.reset();
  }

 private:
  std::unique_ptr<testing_support::TempDir> dir_;
};

// A clip of the test pattern with a tone, w × h at 10 frames per second.
inline std::string clip(int w, int h, double seconds) {
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  return media_clips::clip("sheets-" + size + "-" + std::to_string(seconds) + ".mp4",
                              "-f lavfi -i testsrc2=size=" + size + ":rate=10:duration=" + std::to_string(seconds) +
                                  " " + media_clips::toneSource(seconds) +
                                  " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest");
}

// Draws the open sheet standing on the window's bottom edge.
inline void drawSheet(ui::Ctx& c) { ui::updateSheets(c, c.h); }

// One frame of the open sheet.
inline void sheetFrame(ScreenHarness& h, ui::Input in = {}) { h.frame(drawSheet, std::move(in)); }

// Clicks the centre of widget id as the last sheet frame placed it.
inline bool clickSheetWidget(ScreenHarness& h, const std::string& id) {
  const auto r = h.widget(id);
  if (!r) return false;
  sheetFrame(h, ScreenHarness::click(r->x + r->w / 2, r->y + r->h / 2));
  return true;
}

// Writes the harness surface to $KORVELLE_SHEET_PNG/<name>.png when that
// variable names a folder (to look the sheets over).
inline void savePicture(const ScreenHarness& h, const std::string& name) {
  if (const char* dir = std::getenv("KORVELLE_SHEET_PNG")) {
    cairo_surface_write_to_png(h.surface(), (std::string(dir) + "/" + name + ".png").c_str());
  }
}

// Polls the export job once per frame as the editor screen does, until it
// has been collected (at most about two minutes of frames).
inline bool runJobToEnd(ScreenHarness& h) {
  return testing_support::waitUntil(
      [&] {
        h.frame([](ui::Ctx& c) { ui::pumpExport(c); });
        return !ui::exportRunning();
      },
      240, 0.002);
}

// Answers an open dialog with its first button, drawn in h.
inline void closeDialog(ScreenHarness& h) {
  if (!ui::dialogOpen()) return;
  h.frame([](ui::Ctx& c) { ui::updateDialog(c); });
  if (const auto r = h.widget("dialog.0")) {
    h.frame([](ui::Ctx& c) { ui::updateDialog(c); }, ScreenHarness::click(r->x + r->w / 2, r->y + r->h / 2));
  }
  ui::takeDialogResult();
}

// The same with a harness of its own (none may be alive).
inline void closeDialog() {
  if (!ui::dialogOpen()) return;
  ScreenHarness h(1280, 720);
  closeDialog(h);
}

// Back to no document, no dialog, no busy overlay, default settings.
inline void resetAll() {
  ui::stopExportJob();
  ui::closeDocument();
  ui::busy() = ui::BusyState{};
  ui::editorState().dialogPurpose = ui::DialogPurpose::None;
  ui::editorState().pendingApply = false;
  closeDialog();
  settings::mutableData() = settings::Data{};
  ui::setExportEncodersForTesting(nullptr);
  unsetenv("KORVELLE_SAVE_TO");
}

}  // namespace sheets_fixtures
