// The export sheet's video groups and save-as, and the cut, effects, info and more sheets.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/i18n.h"
#include "editor/editor_fixtures.h"
#include "editor/social_formats.h"
#include "platform/filedialog_portal.h"
#include "screens/router.h"
#include "screens/screen_fixtures.h"
#include "screens/sheets_video.h"

using namespace screen_fixtures;
using ui::Sheet;

namespace {

class VideoSheets : public ScreenTest {
 protected:
  void SetUp() override { resetAll(&h_); }
  void TearDown() override { resetAll(&h_); }
  // Opens sheet s and draws it once; the harness it is drawn in.
  ScreenHarness& show(Sheet s) {
    state().sheet = s;
    sheetFrame(h_);
    return h_;
  }
  // The value of the open document's info row key; "-" when there is none.
  static std::string infoValue(const std::string& key) {
    for (const auto& [k, v] : ui::infoRows(document())) {
      if (k == key) return v;
    }
    return "-";
  }
  ScreenHarness h_{1280, 720};
};

const media::EncoderInfo kVp9{"libvpx-vp9", "", false, "vp9", "webm"};
const media::EncoderInfo kX264{"libx264", "", false, "h264", "mp4"};

}  // namespace

// --- Export sheet ---

TEST_F(VideoSheets, ResolutionChipsOfAFullHdVideoAndTheSizeEstimate) {
  ASSERT_TRUE(document().openVideo(toneClip(1920, 1080, 0.5)));
  ScreenHarness& h = show(Sheet::Export);
  EXPECT_EQ(idsWith(h, "export.res."),
            (std::vector<std::string>{"export.res.0", "export.res.720", "export.res.480"}));

  // "Original" keeps the source size; a chip is stored at once.
  ASSERT_TRUE(clickSheet(h, "export.res.720"));
  EXPECT_EQ(settings::get().videoResolution, 720);
  EXPECT_EQ(ui::exportSummary(document()).rfind("1280 × 720", 0), 0u);
  ASSERT_TRUE(clickSheet(h, "export.res.0"));
  EXPECT_EQ(settings::get().videoResolution, 0);
  EXPECT_EQ(ui::exportSummary(document()).rfind("1920 × 1080", 0), 0u);

  // The size estimate: 10 Mbit/s over 60 s is about 76 MB; none without a bit rate.
  document().videoInfo.durationMs = 60000;
  settings::mutableData().videoBitrate = 10000000;
  EXPECT_TRUE(has(ui::exportSummary(document()), "≈ 76 MB")) << ui::exportSummary(document());
  settings::mutableData().videoBitrate = 0;
  EXPECT_FALSE(has(ui::exportSummary(document()), "MB"));
}

TEST_F(VideoSheets, OnlyVp9OffersWebmAndSuggestsAWebmName) {
  const std::vector<media::EncoderInfo> vp9Only{kVp9};
  ui::setExportEncodersForTesting(&vp9Only);
  ASSERT_TRUE(document().openVideo(toneClip(320, 240, 1)));
  ScreenHarness& h = show(Sheet::Export);
  EXPECT_EQ(idsWith(h, "export.format."), std::vector<std::string>{"export.format.webm"});
  EXPECT_NE(ui::exportSummary(document()).find("VP9"), std::string::npos);

  // The start button goes through save-as; KORVELLE_SAVE_TO answers at once.
  testing_support::TempDir out;
  setenv("KORVELLE_SAVE_TO", out.file("mine.webm").c_str(), 1);
  ASSERT_TRUE(clickSheet(h, "export.go"));
  EXPECT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::ExportVideo);
  std::string answer;
  EXPECT_EQ(platform::pollDialog(&answer), platform::kDialogChosen);
  EXPECT_EQ(answer, out.file("mine.webm"));

  const std::string title = document().title();
  EXPECT_EQ(ui::suggestedName(title, 0, ".webm"), title.substr(0, title.rfind('.')) + "_v1.webm");
  EXPECT_EQ(ui::suggestedName("a.b.mov", 2, ".mp4"), "a.b_v3.mp4");
  EXPECT_EQ(ui::suggestedName("noext", 4, ".webm"), "noext_v5.webm");
}

TEST_F(VideoSheets, FormatChipPicksTheFirstEncoderOfItsContainer) {
  const std::vector<media::EncoderInfo> both{kVp9, kX264};
  ui::setExportEncodersForTesting(&both);
  ASSERT_TRUE(document().openVideo(toneClip(320, 240, 1)));
  ScreenHarness& h = show(Sheet::Export);
  EXPECT_EQ(idsWith(h, "export.format."),
            (std::vector<std::string>{"export.format.mp4", "export.format.webm"}));
  ASSERT_TRUE(clickSheet(h, "export.format.mp4"));
  EXPECT_EQ(settings::get().videoEncoder, "libx264");
  EXPECT_NE(ui::exportSummary(document()).find("H.264"), std::string::npos);
  // Back to the container of the first encoder: no preference needed.
  ASSERT_TRUE(clickSheet(h, "export.format.webm"));
  EXPECT_EQ(settings::get().videoEncoder, "");
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
  ASSERT_TRUE(document().openVideo(toneClip(320, 240, 1)));
  const double duration = document().videoInfo.durationMs;
  ui::EditorState& st = ui::editorState();
  st.markInMs = 0;
  st.markOutMs = duration;
  ScreenHarness& h = show(Sheet::Cut);
  ASSERT_TRUE(clickSheet(h, "cut.remove"));
  EXPECT_TRUE(ui::dialogOpen());
  EXPECT_FALSE(ui::exportRunning());
  EXPECT_EQ(document().current, 0);
  EXPECT_EQ(st.markInMs, 0) << "nothing was cut, the markers stay";

  // Clear markers; with no range the hint shows and keep is disabled.
  closeDialog(&h);
  EXPECT_FALSE(ui::dialogOpen());
  sheetFrame(h);
  ASSERT_TRUE(clickSheet(h, "cut.reset"));
  EXPECT_EQ(st.markInMs, -1);
  EXPECT_EQ(st.markOutMs, -1);
  sheetFrame(h);
  EXPECT_TRUE(h.hasWidget("cut.markHint"));
  ASSERT_TRUE(clickSheet(h, "sheet.apply"));
  EXPECT_FALSE(ui::exportRunning());
}

// A clip fitted to a preset renders at its size, with the video's own fit and no border.
TEST_F(VideoSheets, FormatFitsTheClipToThePresetSize) {
  ASSERT_TRUE(document().openVideo(toneClip(320, 240, 1)));
  ui::EditorState& st = ui::editorState();
  st.platformIndex = 0;
  st.presetIndex = 0;
  const formats::Preset& preset = formats::platforms()[0].presets[0];
  ScreenHarness& h = show(Sheet::Format);
  EXPECT_FALSE(h.hasWidget("format.pad.blur")) << "the border belongs to images";
  ASSERT_TRUE(clickSheet(h, "format.fit.stretch"));
  EXPECT_EQ(settings::get().videoFitMode, settings::kFitStretch);
  EXPECT_EQ(settings::get().imageFitMode, settings::kFitContain) << "kept apart";
  ASSERT_TRUE(clickSheet(h, "sheet.apply"));
  EXPECT_EQ(st.sheet, Sheet::None) << "the sheet closes while the work renders";
  ASSERT_TRUE(runJobToEnd(h));
  const doc::Document& d = document();
  EXPECT_EQ(d.current, 1);
  EXPECT_EQ(d.videoInfo.width, preset.width);
  EXPECT_EQ(d.videoInfo.height, preset.height);
}

// --- Effects ---

TEST_F(VideoSheets, FadeLengthZeroPlacesA500MsEffectAtThePlayheadRemoveTakesTheFirstThere) {
  ASSERT_TRUE(document().openVideo(toneClip(320, 240, 1)));
  settings::mutableData().videoFadeMs = 0;
  ui::EditorState& st = ui::editorState();
  st.playheadMs = 700;
  ScreenHarness& h = show(Sheet::Effects);
  EXPECT_TRUE(h.hasWidget("effects.hint"));
  ASSERT_TRUE(clickSheet(h, "effects.place"));
  EXPECT_TRUE(st.effects.empty()) << "nothing armed, nothing placed";

  ASSERT_TRUE(clickSheet(h, "effects.fadeOut"));
  EXPECT_EQ(st.armedKind, 1);
  ASSERT_TRUE(clickSheet(h, "effects.place"));
  ASSERT_EQ(st.effects.size(), 1u);
  EXPECT_EQ(st.effects[0].kind, media::Fade::Out);
  EXPECT_DOUBLE_EQ(st.effects[0].atMs, 700);
  EXPECT_DOUBLE_EQ(st.effects[0].lengthMs, 500);

  settings::mutableData().videoFadeMs = 1200;
  EXPECT_DOUBLE_EQ(ui::placedFadeLengthMs(), 1200);
  // The armed kind clicked again is put down.
  ASSERT_TRUE(clickSheet(h, "effects.fadeOut"));
  EXPECT_EQ(st.armedKind, -1);

  // Remove takes only the first of two effects over the playhead.
  st.effects = {{media::Fade::In, 800, 500}, {media::Fade::Cross, 600, 300}, {media::Fade::Out, 200, 100}};
  st.playheadMs = 500;
  sheetFrame(h);
  ASSERT_TRUE(clickSheet(h, "effects.remove"));
  ASSERT_EQ(st.effects.size(), 2u);
  EXPECT_EQ(st.effects[0].kind, media::Fade::Cross);
  EXPECT_EQ(st.effects[1].kind, media::Fade::Out);
  ASSERT_TRUE(clickSheet(h, "effects.remove"));
  ASSERT_EQ(st.effects.size(), 1u);
  EXPECT_EQ(st.effects[0].kind, media::Fade::Out);
  // Nothing covers the playhead any more: the button does nothing.
  ASSERT_TRUE(clickSheet(h, "effects.remove"));
  EXPECT_EQ(st.effects.size(), 1u);
}

// --- Info ---

TEST_F(VideoSheets, InfoNamesWhatIsKnownOfAPlainImageAPhotoAndAVideo) {
  TempDir dir;
  ASSERT_TRUE(document().openImage(editor_fixtures::writeSolid(dir.file("plain.png"), 64, 48, {10, 20, 30})));
  for (const char* absent : {"info.camera", "info.exposure", "info.date", "info.rotation"}) {
    EXPECT_EQ(infoValue(absent), "-") << absent;
  }
  for (const char* present : {"info.name", "info.dimensions", "info.format", "info.size"}) {
    EXPECT_NE(infoValue(present), "-") << present;
  }
  ScreenHarness& h = show(Sheet::Info);
  EXPECT_TRUE(h.hasWidget("info.row.dimensions"));
  EXPECT_FALSE(h.hasWidget("info.row.camera"));
  EXPECT_FALSE(h.hasWidget("info.unavailable"));
  ui::closeDocument();

  ASSERT_TRUE(document().openImage(testing_support::fixture("camera_canon_1300d.jpg")));
  EXPECT_NE(infoValue("info.camera"), "-");
  EXPECT_NE(infoValue("info.date"), "-");
  ui::closeDocument();

  ASSERT_TRUE(document().openVideo(toneClip(320, 240, 1)));
  EXPECT_EQ(infoValue("info.dimensions"), "320 × 240");
  EXPECT_EQ(infoValue("info.frameRate"), "10.00");
  EXPECT_EQ(infoValue("info.rotation"), "0°");
  EXPECT_EQ(infoValue("info.format"), "MP4 · H.264") << "the file's container, not the demuxer's list";
  EXPECT_NE(infoValue("info.encoder"), "-");
  EXPECT_EQ(infoValue("info.camera"), "-");
  ui::closeDocument();
  EXPECT_TRUE(ui::infoRows(document()).empty()) << "nothing open: nothing known";
}

// --- More ---

TEST_F(VideoSheets, MoreOpensSettingsAndAboutAndClosesWithoutAsking) {
  ASSERT_TRUE(document().openVideo(toneClip(320, 240, 1)));
  for (const auto& [id, screen, closes] : {std::tuple{"menu.settings", int(ui::App::Settings), false},
                                           {"menu.about", int(ui::App::About), false},
                                           {"menu.close", int(ui::App::Main), true}}) {
    SCOPED_TRACE(id);
    ui::App::instance().screen = ui::App::Main;
    ASSERT_TRUE(clickSheet(show(Sheet::More), id));
    EXPECT_EQ(ui::editorState().sheet, Sheet::None);
    EXPECT_EQ(ui::App::instance().screen, screen);
    EXPECT_EQ(document().kind == media::MediaKind::Unknown, closes);
    EXPECT_FALSE(ui::dialogOpen()) << "no confirmation";
  }
  ui::App::instance().screen = ui::App::Main;
  for (const char* id : {"menu.newVideo", "menu.newImage"}) {
    ASSERT_TRUE(document().openVideo(toneClip(320, 240, 1)));
    ASSERT_TRUE(clickSheet(show(Sheet::More), id));
    EXPECT_EQ(document().kind, media::MediaKind::Unknown) << id;
  }
}
