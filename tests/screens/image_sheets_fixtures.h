// image_sheets_fixtures: what the image sheet and saving tests share — a
// private cache and data folder for the whole test program, a test photo
// written at test time and opened as the document, and driving one sheet
// through the screen harness without the editor screen around it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "media/image.h"
#include "media/image_io.h"
#include "screens/image_edit.h"
#include "screens/sheets.h"
#include "support/screen_harness.h"
#include "support/test_support.h"
#include "ui/dialog.h"

namespace image_sheets {

// XDG_CACHE_HOME and XDG_DATA_HOME in a fresh folder before anything reads
// them, so no test touches the user's settings or cache.
class FoldersEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testing_support::TempDir>();
    setenv("XDG_CACHE_HOME", (dir_->path() + "/cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir_->path() + "/data").c_str(), 1);
    unsetenv("KORVELLE_SAVE_TO");
  }
  void TearDown() override {
    doc::Document::cleanWorkDir();
    dir_.reset();
  }

 private:
  std::unique_ptr<testing_support::TempDir> dir_;
};

// A picture whose left half is red and right half blue, with a green top
// row band, so flips and crops can be told apart.
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

// Writes the test picture as a file of the given format; the path.
inline std::string writePicture(const std::string& path, int w, int h, media::OutFormat format) {
  media::OutOptions o;
  o.format = format;
  o.quality = 90;
  std::string err;
  EXPECT_TRUE(media::saveImage(path, testPicture(w, h), o, media::Meta{}, &err)) << err;
  return path;
}

// Each test starts with the picture open, no sheet, no dialog, default settings.
class SheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset();
    i18n::setLanguage("en");
    settings::mutableData() = settings::Data{};
  }
  void TearDown() override {
    ui::finishImageEdit();
    reset();
  }

  // Opens a w × h JPEG as the document.
  void open(int w, int h, media::OutFormat format = media::OutFormat::Jpeg) {
    const char* ext = format == media::OutFormat::Png ? "png" : format == media::OutFormat::WebP ? "webp" : "jpg";
    source_ = writePicture(tmp_.file(std::string("beach.") + ext), w, h, format);
    std::string err;
    ASSERT_TRUE(doc::Document::instance().openImage(source_, &err)) << err;
  }

  void reset() {
    ui::closeDocument();
    ui::EditorState& st = ui::editorState();
    st.dialogPurpose = ui::DialogPurpose::None;
    st.rotateAngle = 0;
    st.adjustAmounts = media::Adjust{};
    st.preview = media::Image{};
    st.previewDirty = false;
    st.cropRect = {};
    st.cropHandle = -1;
    st.longEdge = 0;
    st.targetHeight = 0;
    st.platformIndex = st.presetIndex = 0;
    st.platformListOpen = st.presetListOpen = false;
    ui::busy() = ui::BusyState{};
    if (ui::dialogOpen()) ui::showDialog("", "", {{"x", 0}});
    closeDialog();
  }

  // Closes the dialog if one is up (answering its first button).
  void closeDialog() {
    if (!ui::dialogOpen()) return;
    h_.appFrame();
    h_.clickWidget("dialog.0");
    ui::takeDialogResult();
  }

  // One frame of the open sheet standing on the window's bottom edge.
  void sheetFrame(ui::Input in = {}) {
    h_.frame([](ui::Ctx& ctx) { ui::updateSheets(ctx, ctx.h); }, std::move(in));
  }
  // Clicks the centre of widget id of the last frame in a sheet frame.
  bool clickSheet(const std::string& id) {
    const auto r = h_.widget(id);
    if (!r) return false;
    sheetFrame(testing_support::ScreenHarness::click(r->x + r->w / 2, r->y + r->h / 2));
    return true;
  }
  // Presses on a slider where value lies in [min, max], one frame, then releases.
  void setSlider(const std::string& id, double value, double min, double max) {
    const auto r = h_.widget(id);
    ASSERT_TRUE(r.has_value()) << id;
    const double x = r->x + (value - min) / (max - min) * r->w;
    const double y = r->y + r->h / 2;
    sheetFrame(testing_support::ScreenHarness::press(x, y));
    sheetFrame(testing_support::ScreenHarness::release(x, y));
  }

  doc::Document& doc() { return doc::Document::instance(); }
  ui::EditorState& st() { return ui::editorState(); }

  testing_support::TempDir tmp_;
  std::string source_;
  testing_support::ScreenHarness h_{1280, 720};
};

// The colour at (x, y) as 0xRRGGBB.
inline uint32_t rgbAt(const media::Image& img, int x, int y) {
  const uint8_t* p = img.row(y) + static_cast<size_t>(x) * 4;
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
// Red dominates at (x, y).
inline bool reddish(const media::Image& img, int x, int y) {
  const uint8_t* p = img.row(y) + static_cast<size_t>(x) * 4;
  return p[0] > 150 && p[2] < 80;
}
inline bool bluish(const media::Image& img, int x, int y) {
  const uint8_t* p = img.row(y) + static_cast<size_t>(x) * 4;
  return p[2] > 150 && p[0] < 80;
}

}  // namespace image_sheets
