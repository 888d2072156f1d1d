// The export sheet's video groups and save-as, and the cut, effects, info
// and more sheets, driven offscreen with an open document.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/i18n.h"
#include "editor/editor_fixtures.h"
#include "editor/social_formats.h"
#include "platform/filedialog_portal.h"
#include "screens/router.h"
#include "screens/sheets_video.h"
#include "screens/sheets_fixtures.h"

using namespace sheets_fixtures;
using ui::Sheet;

namespace {

[[maybe_unused]] ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new PrivateFolders);

class VideoSheets : public ::testing::Test {
 protected:
  void SetUp() override { resetAll(); }
  void TearDown() override { resetAll(); }

  static void openVideo(const std::string& path) {
    std::string err;
    ASSERT_TRUE(doc::Document::instance().openVideo(path, &err)) << err;
  }
  static void openSheet(Sheet s) { ui::editorState().sheet = s; }
  // Ids of the dump starting with prefix, in drawing order.
  static std::vector<std::string> idsWith(const ScreenHarness& h, const std::string& prefix) {
    std::vector<std::string> ids;
    for (const auto& e : h.dump())
      if (e.id.rfind(prefix, 0) == 0) ids.push_back(e.id);
    return ids;
  }
  // The keys of the info rows of the open document.
  static std::vector<std::string> infoKeys() {
    std::vector<std::string> keys;
    for (const auto& row : ui::infoRows(doc::Document::instance())) keys.push_back(row.first);
    return keys;
  }
};

const media::EncoderInfo kVp9{"libvpx-vp9", "", false, "vp9", "webm"};
const media::EncoderInfo kX264{"libx264", "", false, "h264", "mp4"};

}  // namespace

// --- Export sheet ---

TEST_F(VideoSheets, ResolutionChipsOfAFullHdVideoAreOriginal720And480) {
  openVideo(clip(1920, 1080, 0.5));
  openSheet(Sheet::Export);
  ScreenHarness h(1280, 720);
  sheetFrame(h);
  savePicture(h, "export_video");
  EXPECT_EQ(idsWith(h, "export.res."),
            (std::vector<std::string>{"export.res.0", "export.res.720", "export.res.480"}));
  EXPECT_EQ(idsWith(h, "export.rate."),
            (std::vector<std::string>{"export.rate.0", "export.rate.2000000", "export.rate.5000000",
                                      "export.rate.10000000", "export.rate.20000000"}));
  ASSERT_TRUE(h.hasWidget("export.go"));

  // "Original" keeps the source size; a chip is stored at once.
  ASSERT_TRUE(clickSheetWidget(h, "export.res.720"));
  EXPECT_EQ(settings::get().videoResolution, 720);
  EXPECT_EQ(ui::exportSummary(doc::Document::instance()).rfind("1280 × 720", 0), 0u);
  ASSERT_TRUE(clickSheetWidget(h, "export.res.0"));
  EXPECT_EQ(settings::get().videoResolution, 0);
  EXPECT_EQ(ui::exportSummary(doc::Document::instance()).rfind("1920 × 1080", 0), 0u);
}

TEST_F(VideoSheets, OnlyVp9OffersWebmAndSuggestsAWebmName) {
  const std::vector<media::EncoderInfo> vp9Only{kVp9};
  ui::setExportEncodersForTesting(&vp9Only);
  const std::string path = clip(320, 240, 1);
  openVideo(path);
  openSheet(Sheet::Export);
  ScreenHarness h(1280, 720);
  sheetFrame(h);
  EXPECT_EQ(idsWith(h, "export.format."), std::vector<std::string>{"export.format.webm"});
  EXPECT_NE(ui::exportSummary(doc::Document::instance()).find("VP9"), std::string::npos);

  // The start button goes through save-as; KORVELLE_SAVE_TO answers at once.
  testing_support::TempDir out;
  setenv("KORVELLE_SAVE_TO", out.file("mine.webm").c_str(), 1);
  ASSERT_TRUE(clickSheetWidget(h, "export.go"));
  EXPECT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::ExportVideo);
  std::string answer;
  EXPECT_EQ(platform::pollDialog(&answer), platform::kDialogChosen);
  EXPECT_EQ(answer, out.file("mine.webm"));
  int w = 0, hgt = 0;
  ui::plannedSaveSize(&w, &hgt);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(hgt, 240);

  const std::string title = doc::Document::instance().title();
  EXPECT_EQ(ui::suggestedName(title, 0, ".webm"), title.substr(0, title.rfind('.')) + "_v1.webm");
  EXPECT_EQ(ui::suggestedName("beach.jpg", 2, ".jpg"), "beach_v3.jpg");
  EXPECT_EQ(ui::suggestedName("a.b.mov", 0, ".mp4"), "a.b_v1.mp4");
  EXPECT_EQ(ui::suggestedName("noext", 4, ".webm"), "noext_v5.webm");
}

TEST_F(VideoSheets, FormatChipPicksTheFirstEncoderOfItsContainer) {
  const std::vector<media::EncoderInfo> both{kVp9, kX264};
  ui::setExportEncodersForTesting(&both);
  openVideo(clip(320, 240, 1));
  openSheet(Sheet::Export);
  ScreenHarness h(1280, 720);
  sheetFrame(h);
  EXPECT_EQ(idsWith(h, "export.format."),
            (std::vector<std::string>{"export.format.mp4", "export.format.webm"}));
  ASSERT_TRUE(clickSheetWidget(h, "export.format.mp4"));
  EXPECT_EQ(settings::get().videoEncoder, "libx264");
  EXPECT_NE(ui::exportSummary(doc::Document::instance()).find("H.264"), std::string::npos);
  // Back to the container of the first encoder: no preference needed.
  ASSERT_TRUE(clickSheetWidget(h, "export.format.webm"));
  EXPECT_EQ(settings::get().videoEncoder, "");
}

TEST_F(VideoSheets, SizeEstimateFor10MbitOver60SecondsIsAbout76MB) {
  openVideo(clip(320, 240, 1));
  doc::Document::instance().videoInfo.durationMs = 60000;
  settings::mutableData().videoBitrate = 10000000;
  const std::string summary = ui::exportSummary(doc::Document::instance());
  EXPECT_NE(summary.find("≈ 76 MB"), std::string::npos) << summary;
  settings::mutableData().videoBitrate = 0;
  EXPECT_EQ(ui::exportSummary(doc::Document::instance()).find("MB"), std::string::npos);
}

// --- Cut ---

TEST(RemoveRange, PiecesShorterThanAMillisecondAreLeftOut) {
  // Kept pieces of a 5000 ms work as in/out pairs.
  using Kept = std::vector<std::pair<double, double>>;
  for (const auto& [from, to, want] : {std::tuple{0.5, 2000.0, Kept{{2000, 5000}}},  // only what follows OUT
                                       {1000.0, 2000.0, Kept{{0, 1000}, {2000, 5000}}},
                                       {1000.0, 4999.5, Kept{{0, 1000}}},  // up to the end
                                       {0.0, 5000.0, Kept{}},
                                       {1.0, 4999.0, Kept{}}}) {  // within a millisecond of both ends
    Kept got;
    for (const auto& s : ui::removeRangeSegments(from, to, 5000)) {
      EXPECT_TRUE(s.path.empty());
      got.push_back({s.inMs, s.outMs});
    }
    EXPECT_EQ(got, want) << from << " " << to;
  }
}

TEST_F(VideoSheets, RemovingEverythingIsRefusedWithTheDialog) {
  openVideo(clip(320, 240, 1));
  const double duration = doc::Document::instance().videoInfo.durationMs;
  ui::EditorState& st = ui::editorState();
  st.markInMs = 0;
  st.markOutMs = duration;
  openSheet(Sheet::Cut);
  ScreenHarness h(1280, 720);
  sheetFrame(h);
  savePicture(h, "cut");
  ASSERT_TRUE(clickSheetWidget(h, "cut.remove"));
  EXPECT_TRUE(ui::dialogOpen());
  EXPECT_FALSE(ui::exportRunning());
  EXPECT_EQ(doc::Document::instance().current, 0);
  EXPECT_EQ(st.markInMs, 0) << "nothing was cut, the markers stay";

  // Clear markers; with no range the hint shows and keep is disabled.
  closeDialog(h);
  EXPECT_FALSE(ui::dialogOpen());
  sheetFrame(h);
  ASSERT_TRUE(clickSheetWidget(h, "cut.reset"));
  EXPECT_EQ(st.markInMs, -1);
  EXPECT_EQ(st.markOutMs, -1);
  sheetFrame(h);
  EXPECT_TRUE(h.hasWidget("cut.markHint"));
  ASSERT_TRUE(clickSheetWidget(h, "sheet.apply"));
  EXPECT_FALSE(ui::exportRunning());
}

// A clip fitted to a platform's preset renders at the preset's size.
TEST_F(VideoSheets, FormatFitsTheClipToThePresetSize) {
  openVideo(clip(320, 240, 1));
  ui::EditorState& st = ui::editorState();
  st.platformIndex = 0;
  st.presetIndex = 0;
  const formats::Preset& preset = formats::platforms()[0].presets[0];
  openSheet(Sheet::Format);
  ScreenHarness h(1280, 720);
  sheetFrame(h);
  ASSERT_TRUE(clickSheetWidget(h, "sheet.apply"));
  EXPECT_EQ(st.sheet, Sheet::None);
  ASSERT_TRUE(runJobToEnd(h));
  const doc::Document& d = doc::Document::instance();
  EXPECT_EQ(d.current, 1);
  EXPECT_EQ(d.videoInfo.width, preset.width);
  EXPECT_EQ(d.videoInfo.height, preset.height);
}

// --- Effects ---

TEST_F(VideoSheets, FadeLengthZeroPlacesA500MsEffectAtThePlayhead) {
  openVideo(clip(320, 240, 1));
  settings::mutableData().videoFadeMs = 0;
  ui::EditorState& st = ui::editorState();
  st.playheadMs = 700;
  openSheet(Sheet::Effects);
  ScreenHarness h(1280, 720);
  sheetFrame(h);
  EXPECT_TRUE(h.hasWidget("effects.hint"));
  ASSERT_TRUE(clickSheetWidget(h, "effects.place"));
  EXPECT_TRUE(st.effects.empty()) << "nothing armed, nothing placed";

  ASSERT_TRUE(clickSheetWidget(h, "effects.fadeOut"));
  EXPECT_EQ(st.armedKind, 1);
  savePicture(h, "effects");
  ASSERT_TRUE(clickSheetWidget(h, "effects.place"));
  ASSERT_EQ(st.effects.size(), 1u);
  EXPECT_EQ(st.effects[0].kind, media::Fade::Out);
  EXPECT_DOUBLE_EQ(st.effects[0].atMs, 700);
  EXPECT_DOUBLE_EQ(st.effects[0].lengthMs, 500);

  settings::mutableData().videoFadeMs = 1200;
  EXPECT_DOUBLE_EQ(ui::placedFadeLengthMs(), 1200);
  // The armed kind clicked again is put down.
  ASSERT_TRUE(clickSheetWidget(h, "effects.fadeOut"));
  EXPECT_EQ(st.armedKind, -1);
}

TEST_F(VideoSheets, RemoveTakesOnlyTheFirstOfTwoOverlappingEffects) {
  openVideo(clip(320, 240, 1));
  ui::EditorState& st = ui::editorState();
  st.effects = {{media::Fade::In, 800, 500}, {media::Fade::Cross, 600, 300}, {media::Fade::Out, 200, 100}};
  st.playheadMs = 500;  // inside the first two
  openSheet(Sheet::Effects);
  ScreenHarness h(1280, 720);
  sheetFrame(h);
  ASSERT_TRUE(clickSheetWidget(h, "effects.remove"));
  ASSERT_EQ(st.effects.size(), 2u);
  EXPECT_EQ(st.effects[0].kind, media::Fade::Cross);
  EXPECT_EQ(st.effects[1].kind, media::Fade::Out);
  ASSERT_TRUE(clickSheetWidget(h, "effects.remove"));
  ASSERT_EQ(st.effects.size(), 1u);
  EXPECT_EQ(st.effects[0].kind, media::Fade::Out);
  // Nothing covers the playhead any more: the button does nothing.
  ASSERT_TRUE(clickSheetWidget(h, "effects.remove"));
  EXPECT_EQ(st.effects.size(), 1u);
}

// --- Info ---

TEST_F(VideoSheets, InfoOfAnImageWithoutExifHasNoCameraExposureOrDate) {
  testing_support::TempDir dir;
  const std::string png = editor_fixtures::writeSolid(dir.file("plain.png"), 64, 48, {10, 20, 30});
  ASSERT_FALSE(png.empty());
  std::string err;
  ASSERT_TRUE(doc::Document::instance().openImage(png, &err)) << err;
  const std::vector<std::string> keys = infoKeys();
  for (const char* absent : {"info.camera", "info.exposure", "info.date", "info.rotation"}) {
    EXPECT_EQ(std::count(keys.begin(), keys.end(), absent), 0) << absent;
  }
  for (const char* present : {"info.name", "info.dimensions", "info.format", "info.size"}) {
    EXPECT_EQ(std::count(keys.begin(), keys.end(), present), 1) << present;
  }
  openSheet(Sheet::Info);
  ScreenHarness h(1280, 720);
  sheetFrame(h);
  savePicture(h, "info_image");
  EXPECT_TRUE(h.hasWidget("info.row.dimensions"));
  EXPECT_FALSE(h.hasWidget("info.row.camera"));
  EXPECT_FALSE(h.hasWidget("info.unavailable"));
}

TEST_F(VideoSheets, InfoOfAPhotoAndAVideoNamesWhatIsKnown) {
  std::string err;
  ASSERT_TRUE(doc::Document::instance().openImage(testing_support::fixture("camera_canon_1300d.jpg"), &err))
      << err;
  const std::vector<std::string> keys = infoKeys();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "info.camera"), 1);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "info.date"), 1);
  ui::closeDocument();

  openVideo(clip(320, 240, 1));
  const auto rows = ui::infoRows(doc::Document::instance());
  const auto value = [&](const std::string& key) {
    for (const auto& [k, v] : rows)
      if (k == key) return v;
    return std::string("-");
  };
  EXPECT_EQ(value("info.dimensions"), "320 × 240");
  EXPECT_EQ(value("info.frameRate"), "10.00");
  EXPECT_EQ(value("info.rotation"), "0°");
  EXPECT_EQ(value("info.format"), "MP4 · H.264") << "the file's container, not the demuxer's list";
  EXPECT_NE(value("info.encoder"), "-");
  EXPECT_EQ(value("info.camera"), "-");

  // Nothing open: nothing known.
  ui::closeDocument();
  EXPECT_TRUE(ui::infoRows(doc::Document::instance()).empty());
}

// --- More ---

TEST_F(VideoSheets, MoreOpensSettingsAndAboutAndClosesWithoutAsking) {
  openVideo(clip(320, 240, 1));
  ScreenHarness h(1280, 720);
  for (const auto& [id, screen, closes] : {std::tuple{"menu.settings", int(ui::App::Settings), false},
                                           {"menu.about", int(ui::App::About), false},
                                           {"menu.close", int(ui::App::Main), true}}) {
    SCOPED_TRACE(id);
    ui::App::instance().screen = ui::App::Main;
    openSheet(Sheet::More);
    sheetFrame(h);
    savePicture(h, "more");
    ASSERT_TRUE(clickSheetWidget(h, id));
    EXPECT_EQ(ui::editorState().sheet, Sheet::None);
    EXPECT_EQ(ui::App::instance().screen, screen);
    EXPECT_EQ(doc::Document::instance().kind == media::MediaKind::Unknown, closes);
    EXPECT_FALSE(ui::dialogOpen()) << "no confirmation";
  }
  ui::App::instance().screen = ui::App::Main;
  for (const char* id : {"menu.newVideo", "menu.newImage"}) {
    openVideo(clip(320, 240, 1));
    openSheet(Sheet::More);
    sheetFrame(h);
    ASSERT_TRUE(clickSheetWidget(h, id));
    EXPECT_EQ(doc::Document::instance().kind, media::MediaKind::Unknown) << id;
  }
}
