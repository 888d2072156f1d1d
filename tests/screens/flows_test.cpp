// Bringing files in: open dialogs, drops, appending, reordering, and the message every bad input ends in.
#include "screens/flows.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "platform/filedialog_portal.h"
#include "screens/screen_fixtures.h"

using namespace screen_fixtures;
using testing_support::ScopedEnv;

namespace {

// The title and body of the dialog on screen, or "" when none is open.
std::string dialogBody() { return ui::dialogOpen() ? ui::currentDialog().body : std::string(); }
std::string dialogTitle() { return ui::dialogOpen() ? ui::currentDialog().title : std::string(); }

// Bad inputs made in dir, with the part of the message each must show (a pipe would block a reader).
std::vector<std::pair<std::string, std::string>> makeBadInputs(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [name, bytes, message] :
       {std::tuple<const char*, std::string, const char*>{"empty.jpg", "", "JPG cannot be opened"},
        {"notes.mp4", "This is only text, not a video.\nSecond line.\n", "MP4 cannot be opened"},
        {"notes.jpg", "words, not a picture\n", "JPG cannot be opened"},
        {"notes.txt", "words, not a picture\n", "TXT cannot be opened"},
        {"fake.cr2", std::string(4096, 'x'), "RAW files (CR2)"}}) {
    testing_support::writeFile(dir + "/" + name, bytes);
    out.push_back({dir + "/" + name, message});
  }
  mkfifo((dir + "/pipe.jpg").c_str(), 0644);
  out.push_back({dir + "/pipe.jpg", "“pipe.jpg” cannot be read"});
  return out;
}

class Flows : public ScreenTest {
 protected:
  void SetUp() override { resetAll(&harness_); }
  void TearDown() override { resetAll(&harness_); }

  std::string image(const std::string& name, int w = 64, int h = 48) {
    return editor_fixtures::writeSolid(dir_.file(name), w, h, {30, 120, 200});
  }
  // Drops paths in one frame of the whole interface.
  void drop(std::vector<std::string> paths) { harness_.appFrame(ScreenHarness::drop(std::move(paths))); }
  // Pumps as the screens do every frame until the running dialog has been collected.
  void pumpUntilCollected() {
    testing_support::waitUntil([&] {
      ui::pumpDialog(harness_.ctx());
      return ui::editorState().dialogPurpose == ui::DialogPurpose::None;
    });
  }

  TempDir dir_;
  ScreenHarness harness_{1280, 720};
};

// --- Texts ------------------------------------------------------------------------------

TEST_F(Flows, ErrorTextsNameTheFileTheRawExtensionOrTheKind) {
  const std::string readable = image("ok.png");
  for (const char* name : {"x.y.Dng", "noext"}) testing_support::writeFile(dir_.file(name), "x");
  using K = media::MediaKind;
  const struct {
    std::string path;
    K kind;
    const char* code;
    std::string expected;
  } rows[] = {
      {dir_.path(), K::Unknown, "", "cannot be read"},
      {readable, K::Image, "DECODE_FAILED", "The image could not be loaded."},
      {readable, K::Video, "NO_VIDEO_TRACK", "The video could not be loaded."},
      {readable, K::Image, "UNSUPPORTED_FORMAT", "PNG cannot be opened on your device."},
      {dir_.file("x.y.Dng"), K::Image, "UNSUPPORTED_FORMAT", "RAW files (DNG)"},
      // Without a dot the whole path stands for the format.
      {dir_.file("noext"), K::Image, "UNSUPPORTED_FORMAT", dir_.file("noext") + " cannot be opened"},
  };
  for (const auto& r : rows) {
    const std::string text = ui::openErrorText(r.path, r.kind, r.code);
    EXPECT_TRUE(has(text, r.expected)) << r.path << " " << r.code << ": " << text;
  }
  // A name with bad bytes is shown as valid text.
  const std::string text = ui::openErrorText(dir_.file("gone \xff.jpg"), K::Unknown, "");
  EXPECT_TRUE(g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), nullptr)) << text;
  EXPECT_TRUE(has(text, "“gone \xEF\xBF\xBD.jpg”")) << text;
}

TEST_F(Flows, SaveDialogAnswerIsExtendedRememberedAndLogged) {
  ASSERT_TRUE(document().openImage(image("pic.png")));
  ui::editorState().dialogPurpose = ui::DialogPurpose::SaveImage;
  platform::setForcedDialogResult(dir_.file("out.JPG"));
  ui::pumpDialog(harness_.ctx());
  EXPECT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::None);
  // Compared case-sensitively: the lower-case extension follows the upper-case one.
  EXPECT_TRUE(has(logText(), "Ziel: " + dir_.file("out.JPG."))) << logText();
  EXPECT_EQ(settings::get().lastSaveDir, dir_.path());
}

// --- Dialogs ----------------------------------------------------------------------------

TEST_F(Flows, OpenToWithTwoPathsTakesTheFirstThenKeepsTheSecond) {
  std::string first = image("first.png");
  std::string second = image("second.png");
  ScopedEnv openTo("KORVELLE_OPEN_TO", (first + ":" + second).c_str());
  for (const std::string& expected : {first, second, second}) {
    ui::startOpenMedia(false);
    EXPECT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::OpenImage);
    pumpUntilCollected();
    EXPECT_EQ(document().sourcePath, expected);
    EXPECT_FALSE(ui::dialogOpen()) << dialogBody();
  }
  EXPECT_EQ(settings::get().lastOpenDir, dir_.path());
}

TEST_F(Flows, DialogWithoutPortalSaysSoAndASecondOpenMeanwhileIsIgnored) {
  ui::editorState().dialogPurpose = ui::DialogPurpose::OpenImage;
  ui::startOpenMedia(true);
  EXPECT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::OpenImage);
  ui::editorState().dialogPurpose = ui::DialogPurpose::None;

  ui::startOpenMedia(true);
  pumpUntilCollected();
  EXPECT_TRUE(has(dialogBody(), "file dialog is not responding")) << dialogBody();
  EXPECT_EQ(document().kind, media::MediaKind::Unknown);
}

TEST_F(Flows, AppendDialogNeedsAnOpenVideoAndTakesAppendTo) {
  std::string a = editor_fixtures::testClip(320, 180, 1);
  std::string b = editor_fixtures::testClip(160, 90, 1);
  ASSERT_FALSE(a.empty());
  ScopedEnv appendTo("KORVELLE_APPEND_TO", (b + "::" + b).c_str());
  ui::startAppendVideo();
  EXPECT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::None);  // nothing open

  ASSERT_TRUE(document().openVideo(a));
  ui::startAppendVideo();
  EXPECT_EQ(ui::editorState().dialogPurpose, ui::DialogPurpose::AppendVideos);
  pumpUntilCollected();
  ASSERT_EQ(ui::editorState().appendClips.size(), 3u);  // the work and b twice
  EXPECT_EQ(ui::editorState().appendClips[0].path, "");
  EXPECT_EQ(ui::editorState().appendClips[2].path, b);
  EXPECT_TRUE(has(logText(), "KORVELLE_APPEND_TO: 2 Datei(en)"));
}

TEST_F(Flows, AppendDialogWithNothingUsableSaysTheFormatIsNotSupported) {
  ASSERT_TRUE(document().openVideo(editor_fixtures::testClip(320, 180, 1)));
  ScopedEnv appendTo("KORVELLE_APPEND_TO", image("still.png").c_str());
  ui::startAppendVideo();
  pumpUntilCollected();
  EXPECT_EQ(dialogTitle(), "Error");
  EXPECT_EQ(dialogBody(), "Format not supported");
  EXPECT_TRUE(ui::editorState().pendingBounds.empty());
}

// --- Drops ------------------------------------------------------------------------------

TEST_F(Flows, ThreeVideosFirstUnreadableOpenSecondAppendThirdReportOneSkipped) {
  std::string second = editor_fixtures::testClip(320, 180, 1);
  std::string third = editor_fixtures::testClip(320, 180, 2);
  ASSERT_FALSE(third.empty());
  std::string first = dir_.file("first.mp4");
  ASSERT_EQ(mkfifo(first.c_str(), 0644), 0);
  drop({first, second, third});
  EXPECT_EQ(document().kind, media::MediaKind::Video);
  EXPECT_EQ(document().sourcePath, second);
  const ui::EditorState& st = ui::editorState();
  EXPECT_EQ(st.appendSkipped, 1);
  ASSERT_EQ(st.appendClips.size(), 2u);
  EXPECT_EQ(st.appendClips[1].path, third);
  ASSERT_EQ(st.pendingClips.size(), 2u);
  EXPECT_EQ(st.pendingClips[0].path, second);
  EXPECT_FALSE(st.appendAsk);
  ASSERT_EQ(st.skippedFiles.size(), 1u);
  EXPECT_EQ(st.skippedFiles[0].path, first);
  EXPECT_TRUE(has(logText(), "Hereingezogen: 2 Clips"));
}

// Unopenable files are counted whether something opens or not; a folder beside one is left out.
TEST_F(Flows, SkippedFilesAreCountedWhetherSomethingOpensOrNot) {
  TempDir folder;
  const std::string pic = image("pic.png");
  for (const auto& [paths, opened, body] :
       {std::tuple{std::vector<std::string>{folder.path()}, std::string(), "1 file(s)"},
        {std::vector<std::string>{dir_.file("missing.png"), dir_.file("also-missing.png"), pic}, pic, "2 file(s)"},
        {std::vector<std::string>{folder.path(), pic}, pic, ""}}) {
    resetAll(&harness_);
    drop(paths);
    EXPECT_EQ(document().sourcePath, opened);
    EXPECT_EQ(dialogBody(), *body ? std::string(body) + " skipped — they could not be opened." : "");
  }
}

TEST_F(Flows, ImageDroppedOnAnEditedImageAsksCancelKeepsEverythingCloseOpensIt) {
  std::string a = image("a.png", 64, 48);
  std::string b = image("b.png", 32, 32);
  ASSERT_TRUE(document().openImage(a));
  ASSERT_TRUE(document().commitImage(editor_fixtures::solid(20, 10, {1, 2, 3}), "edit"));
  drop({b});
  EXPECT_EQ(dialogTitle(), "Close editor?");
  EXPECT_EQ(ui::editorState().pendingDrop, std::vector<std::string>{b});
  ASSERT_TRUE(harness_.clickWidget("dialog.0"));  // Cancel
  harness_.appFrame();
  EXPECT_TRUE(ui::editorState().pendingDrop.empty());
  EXPECT_EQ(document().sourcePath, a);
  EXPECT_EQ(document().current, 1);
  EXPECT_EQ(document().image.width, 20);
  drop({b});
  ASSERT_TRUE(harness_.clickWidget("dialog.1"));  // Close
  harness_.appFrame();
  EXPECT_EQ(document().sourcePath, b);
  EXPECT_EQ(document().current, 0);
  EXPECT_TRUE(has(logText(), "Hereingezogen uebernommen: 1 Datei(en)"));
}

TEST_F(Flows, ImageDroppedOnAnUneditedImageReplacesItAtOnceWhateverItsName) {
  ASSERT_TRUE(document().openImage(image("a.png")));
  const std::string weird = "a \"quoted\" 'name' with spaces and \xff\xfe bytes.png";
  for (const std::string& name : {std::string("b.png"), std::string("-leading-dash.png"), weird}) {
    const std::string path = image(name);
    ASSERT_FALSE(path.empty()) << name;
    drop({path});
    EXPECT_EQ(document().sourcePath, path);
    EXPECT_FALSE(ui::dialogOpen()) << dialogBody();
  }
}

TEST_F(Flows, DropsWhileSomethingRunsAreIgnored) {
  std::string pic = image("pic.png");
  ui::editorState().dialogPurpose = ui::DialogPurpose::OpenVideo;
  harness_.frame([](ui::Ctx& c) { ui::handleDroppedFiles(c); }, ScreenHarness::drop({pic}));
  ui::editorState().dialogPurpose = ui::DialogPurpose::None;
  ui::busy().active = true;
  harness_.frame([](ui::Ctx& c) { ui::handleDroppedFiles(c); }, ScreenHarness::drop({pic}));
  ui::busy().active = false;
  ui::showDialog("Question", "", {{"A", 1}});
  drop({pic});
  EXPECT_EQ(ui::currentDialog().title, "Question");  // not replaced
  EXPECT_EQ(document().kind, media::MediaKind::Unknown);
  EXPECT_TRUE(has(logText(), "hereingezogen ignoriert — es laeuft gerade etwas"));
}

TEST_F(Flows, EveryBadInputEndsInItsMessage) {
  for (const auto& [path, expected] : makeBadInputs(dir_.path())) {
    resetAll(&harness_);
    drop({path});
    EXPECT_EQ(document().kind, media::MediaKind::Unknown) << path;
    EXPECT_TRUE(has(dialogBody(), expected)) << path << ": " << dialogBody();
  }
}

// --- Appending and reordering ------------------------------------------------------------

TEST_F(Flows, PortraitClipOnAWideWorkAsksAboutTheFormatOnePercentOffDoesNot) {
  ASSERT_TRUE(document().openVideo(editor_fixtures::testClip(320, 180, 1)));
  EXPECT_TRUE(ui::appendVideoFiles({editor_fixtures::testClip(322, 180, 1)}, 0));  // 0.6 % wider
  EXPECT_FALSE(ui::editorState().appendAsk);
  EXPECT_NE(dialogTitle(), "Different formats");
  resetAll(&harness_);
  ASSERT_TRUE(document().openVideo(editor_fixtures::testClip(320, 180, 1)));
  std::string portrait = editor_fixtures::testClip(180, 320, 1);
  EXPECT_TRUE(ui::appendVideoFiles({portrait}, 0));
  const ui::EditorState& st = ui::editorState();
  EXPECT_TRUE(st.appendAsk);
  EXPECT_EQ(dialogTitle(), "Different formats");
  EXPECT_TRUE(has(dialogBody(), "(180 × 320)")) << dialogBody();
  EXPECT_TRUE(has(dialogBody(), "(320 × 180)")) << dialogBody();
  EXPECT_EQ(ui::currentDialog().buttons.size(), 3u);
  const auto& z = st.appendSizes;
  EXPECT_EQ((std::array{z.currentWidth, z.currentHeight, z.otherWidth, z.otherHeight}),
            (std::array{320, 180, 320, 320}));
  ASSERT_EQ(st.appendBounds.size(), 1u);
  EXPECT_NEAR(st.appendBounds[0], document().videoInfo.durationMs, 1.0);
}

TEST_F(Flows, AppendSkipsWhatIsNoVideoAndRefusesWhenNothingIsLeft) {
  std::string pic = image("pic.png");
  EXPECT_FALSE(ui::appendVideoFiles({pic}, 0));  // nothing open
  ASSERT_TRUE(document().openVideo(editor_fixtures::testClip(320, 180, 1)));
  EXPECT_FALSE(ui::appendVideoFiles({}, 0));
  EXPECT_FALSE(ui::appendVideoFiles({pic, dir_.file("missing.mp4")}, 0));
  EXPECT_TRUE(has(logText(), "anhaengen: nichts Brauchbares dabei"));
  EXPECT_TRUE(has(logText(), "uebersprungen: " + dir_.file("missing.mp4") + " — kein Zugriff"));
  EXPECT_TRUE(ui::appendVideoFiles({pic, editor_fixtures::testClip(320, 180, 2)}, 3));
  EXPECT_EQ(ui::editorState().appendSkipped, 4);
}

TEST_F(Flows, VideosDroppedOnAVideoAreAppended) {
  ASSERT_TRUE(document().openVideo(editor_fixtures::testClip(320, 180, 1)));
  drop({editor_fixtures::testClip(320, 180, 2)});
  EXPECT_EQ(ui::editorState().appendClips.size(), 2u);
}

TEST_F(Flows, ReorderLogsTheNewOrderAndIgnoresTooFewClips) {
  ASSERT_TRUE(document().openVideo(editor_fixtures::testClip(320, 180, 1)));
  ui::reorderClips({{"/a.mp4", 0, 1000}});
  EXPECT_FALSE(has(logText(), "Umsortieren"));
  ui::editorState().gestureActive = true;
  ui::reorderClips({{"/a.mp4", 0, 1000}, {"", 0, 61234}});
  EXPECT_FALSE(has(logText(), "Umsortieren"));
  ui::editorState().gestureActive = false;
  ui::reorderClips({{"/a.mp4", 0, 1000}, {"", 0, 61234}});
  EXPECT_TRUE(has(logText(), "  2: <aktueller Stand>  0:00.00–1:01.23")) << logText();
}

}  // namespace
