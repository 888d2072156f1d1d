// overlay_fixture: what the tests of the secondary screens share — a private
// data directory with a running log (set before anything reads the
// directories), the settings and router reset around each test, and readers
// for the drawn state (a lit segment, the log).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/i18n.h"
#include "core/settings.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "screens/router.h"
#include "support/screen_harness.h"
#include "support/test_support.h"
#include "ui/dialog.h"

namespace overlay_test {

// The data and cache folders of this test process, set once before the
// first use of the directories; the log runs in them.
class PrivateFolders : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testing_support::TempDir>();
    setenv("XDG_DATA_HOME", dir_->file("data").c_str(), 1);
    setenv("XDG_CACHE_HOME", dir_->file("cache").c_str(), 1);
    diag::init();
  }
  void TearDown() override { diag::shutdown(); }

 private:
  std::unique_ptr<testing_support::TempDir> dir_;
};

inline std::string logText() { return testing_support::readFile(paths::dataDir() + "/Korvelle.log"); }

// Fresh settings, English, no dialog, no secondary screen — before and after.
class OverlayTest : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    settings::mutableData() = settings::Data{};
    i18n::setLanguage("en");
    ui::App::instance().screen = ui::App::Main;
    if (ui::dialogOpen()) {
      testing_support::ScreenHarness h(1280, 720);
      h.appFrame();
      h.clickWidget("dialog.0");
    }
    ui::takeDialogResult();
  }
};

// Whether the segment registered as id is drawn highlighted (the selected
// fill is blue; the bar around it grey).
inline bool segmentLit(const testing_support::ScreenHarness& h, const std::string& id) {
  std::optional<ui::Rect> r = h.widget(id);
  if (!r) return false;
  uint32_t px = h.pixel(r->x + 7, r->y + r->h / 2);
  return (px & 0xFF) > 0x70;
}

// Window tall enough for the whole settings page at interface scale 1.
inline constexpr int kTallW = 1280;
inline constexpr int kTallH = 2600;

}  // namespace overlay_test
