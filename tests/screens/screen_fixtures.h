// screen_fixtures: what the screen tests share — private folders and log per
// test program, a fresh start around each test, media made at test time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "editor/editor_fixtures.h"
#include "media/image.h"
#include "media/image_io.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "screens/export.h"
#include "screens/image_edit.h"
#include "screens/router.h"
#include "screens/sheets.h"
#include "support/media_clips.h"
#include "support/screen_harness.h"
#include "support/test_support.h"
#include "ui/dialog.h"

// Under ThreadSanitizer: FFmpeg's threads hand over through atomics and pango
// locks with GLib's futexes inside uninstrumented libraries, which are not checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libavutil.so\n"
         "race:libavcodec.so\n"
         "race:libavformat.so\n"
         "race:libavfilter.so\n"
         "race:libswscale.so\n"
         "race:libswresample.so\n"
         "race:libvpx.so\n"
         "race:libx264.so\n"
         "race:libopus.so\n"
         "called_from_lib:libpango-1.0.so.0\n"
         "called_from_lib:libpangoft2-1.0.so.0\n"
         "called_from_lib:libpangocairo-1.0.so.0\n"
         "called_from_lib:libcairo.so.2\n"
         "called_from_lib:libfontconfig.so.1\n";
}

namespace screen_fixtures {

using testing_support::ScreenHarness;
using testing_support::TempDir;

// Fresh folders and the log before anything reads them; no portal, so a file
// dialog without a forced answer ends at once.
class PrivateFolders : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<TempDir>();
    setenv("XDG_CACHE_HOME", dir_->file("cache").c_str(), 1);
    setenv("XDG_DATA_HOME", dir_->file("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir_->file("config").c_str(), 1);
    setenv("KORVELLE_NO_PORTAL", "1", 1);
    for (const char* var : {"KORVELLE_OPEN_TO", "KORVELLE_APPEND_TO", "KORVELLE_SAVE_TO"}) unsetenv(var);
    diag::init();
  }
  void TearDown() override {
    ui::stopExportJob();
    ui::closeDocument();
    doc::Document::cleanWorkDir();
    diag::shutdown();
    dir_.reset();
  }

 private:
  std::unique_ptr<TempDir> dir_;
};

// Registered once per test program.
inline ::testing::Environment* const g_folders = ::testing::AddGlobalTestEnvironment(new PrivateFolders);

inline std::string logText() { return testing_support::readFile(paths::dataDir() + "/Korvelle.log"); }
inline bool logHas(const std::string& text) { return logText().find(text) != std::string::npos; }
inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Answers an open dialog with its first button, in h or a harness of its own (one may live at a time).
inline void closeDialog(ScreenHarness* h = nullptr) {
  if (!ui::dialogOpen()) return;
  std::optional<ScreenHarness> own;
  if (h == nullptr) h = &own.emplace(1280, 720);
  const auto draw = [](ui::Ctx& c) { ui::updateDialog(c); };
  h->frame(draw);
  if (const auto r = h->widget("dialog.0")) h->frame(draw, ScreenHarness::click(r->x + r->w / 2, r->y + r->h / 2));
  ui::takeDialogResult();
}

// Back to a fresh start: no job, document, dialog or overlay, flow and sheet
// state cleared, default settings in English.
inline void resetAll(ScreenHarness* h = nullptr) {
  ui::stopExportJob();
  ui::finishImageEdit();
  closeDialog(h);
  ui::takeDialogResult();
  ui::busy() = ui::BusyState{};
  ui::App::instance().screen = ui::App::Main;
  ui::closeDocument();
  ui::EditorState& st = ui::editorState();
  st.dialogPurpose = ui::DialogPurpose::None;
  st.pendingApply = false;
  st.gestureActive = false;
  st.pendingDrop.clear();
  st.appendSkipped = 0;
  st.appendAsk = false;
  st.appendClips.clear();
  st.longEdge = st.targetHeight = 0;
  st.platformIndex = st.presetIndex = 0;
  st.platformListOpen = st.presetListOpen = false;
  settings::mutableData() = settings::Data{};
  i18n::setLanguage("en");
  ui::setExportEncodersForTesting(nullptr);
  unsetenv("KORVELLE_SAVE_TO");
}

// Each test starts and ends at a fresh start.
class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { resetAll(); }
  void TearDown() override { resetAll(); }
  static doc::Document& document() { return doc::Document::instance(); }
  static ui::EditorState& state() { return ui::editorState(); }
  // Opens a clip as the open flow does (one clip over the whole file).
  static bool openVideo(const std::string& path) {
    if (!document().openVideo(path)) return false;
    state().clips = {{path, 0, document().videoInfo.durationMs}};
    return true;
  }
};

// The same with one harness of 1280 × 720 for the whole test.
class HarnessTest : public ScreenTest {
 protected:
  void SetUp() override { resetAll(&h_); }
  void TearDown() override { resetAll(&h_); }
  ScreenHarness h_{1280, 720};
};

// A clip of the index pattern with sound, seconds long, 320 × 240 at 25 fps.
inline std::string indexClip(double seconds, const std::string& name = "screen.mp4") {
  return media_clips::indexClip(std::to_string(static_cast<int>(seconds * 1000)) + name, seconds, "aac");
}

// A clip of the test pattern with a tone, w × h at 10 frames per second.
inline std::string toneClip(int w, int h, double seconds) {
  const std::string size = std::to_string(w) + "x" + std::to_string(h);
  return media_clips::clip("sheets-" + size + "-" + std::to_string(seconds) + ".mp4",
                           "-f lavfi -i testsrc2=size=" + size + ":rate=10:duration=" + std::to_string(seconds) + " " +
                               media_clips::toneSource(seconds) +
                               " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest");
}

// A picture w × h of one colour written into dir.
inline std::string picture(const std::string& dir, int w, int h) {
  return editor_fixtures::writeSolid(dir + "/pic" + std::to_string(w) + "x" + std::to_string(h) + ".png", w, h,
                                     {200, 40, 40});
}

// Ids of the last dump starting with prefix, in drawing order.
inline std::vector<std::string> idsWith(const ScreenHarness& h, const std::string& prefix) {
  std::vector<std::string> ids;
  for (const auto& e : h.dump()) {
    if (e.id.rfind(prefix, 0) == 0) ids.push_back(e.id);
  }
  return ids;
}

// Runs app frames until cond holds or about 30 s have passed; true when it held.
inline bool framesUntil(ScreenHarness& h, const std::function<bool()>& cond, double seconds = 30) {
  return testing_support::waitUntil([&] { h.appFrame(); return cond(); }, seconds, 0.01);
}

// Polls the export job once per frame as the editor does until it is collected (about two minutes at most).
inline bool runJobToEnd(ScreenHarness& h) {
  return testing_support::waitUntil(
      [&] {
        h.frame([](ui::Ctx& c) { ui::pumpExport(c); });
        return !ui::exportRunning();
      },
      240, 0.002);
}

// --- One sheet alone, standing on the window's bottom edge -------------------------------
inline void sheetFrame(ScreenHarness& h, ui::Input in = {}) {
  h.frame([](ui::Ctx& c) { ui::updateSheets(c, c.h); }, std::move(in));
}
// Clicks the centre of widget id as the last frame placed it, in a sheet frame.
inline bool clickSheet(ScreenHarness& h, const std::string& id) {
  const auto r = h.widget(id);
  if (!r) return false;
  sheetFrame(h, ScreenHarness::click(r->x + r->w / 2, r->y + r->h / 2));
  return true;
}

// --- An open test picture ----------------------------------------------------------------

// Left half red, right half blue under a green top band: flips and crops show.
inline media::Image testPicture(int w, int h) {
  media::Image img = media::Image::create(w, h, false);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = img.row(y);
    for (int x = 0; x < w; ++x, p += 4) {
      const bool top = y < h / 8;
      p[0] = top ? 0 : (x < w / 2 ? 220 : 20);
      p[1] = top ? 200 : 30;
      p[2] = top ? 0 : (x < w / 2 ? 20 : 220);
      p[3] = 255;
    }
  }
  return img;
}

// Tests on an open test picture, with one harness for the whole test.
class SheetTest : public ScreenTest {
 protected:
  void SetUp() override { resetAll(&h_); }
  void TearDown() override { resetAll(&h_); }

  // Writes a w × h test picture in format and opens it as the document.
  void open(int w, int h, media::OutFormat format = media::OutFormat::Jpeg) {
    const char* ext = format == media::OutFormat::Png ? "png" : format == media::OutFormat::WebP ? "webp" : "jpg";
    source_ = tmp_.file(std::string("beach.") + ext);
    media::OutOptions o;
    o.format = format;
    o.quality = 90;
    std::string err;
    ASSERT_TRUE(media::saveImage(source_, testPicture(w, h), o, media::Meta{}, &err)) << err;
    ASSERT_TRUE(document().openImage(source_, &err)) << err;
  }
  // The same, with sheet open and drawn once.
  void openSheet(ui::Sheet sheet, int w, int h) {
    open(w, h);
    state().sheet = sheet;
    sheetFrame();
  }
  void sheetFrame(ui::Input in = {}) { screen_fixtures::sheetFrame(h_, std::move(in)); }
  bool clickSheet(const std::string& id) { return screen_fixtures::clickSheet(h_, id); }
  // Presses on a slider where value lies in [min, max], one frame, then releases.
  void setSlider(const std::string& id, double value, double min, double max) {
    const auto r = h_.widget(id);
    ASSERT_TRUE(r.has_value()) << id;
    const double x = r->x + (value - min) / (max - min) * r->w;
    sheetFrame(ScreenHarness::press(x, r->y + r->h / 2));
    sheetFrame(ScreenHarness::release(x, r->y + r->h / 2));
  }

  TempDir tmp_;
  std::string source_;
  ScreenHarness h_{1280, 720};
};

}  // namespace screen_fixtures
