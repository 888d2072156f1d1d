// The editor screen: tool lists, top bar, closing, keys, the stage, the player after undo and redo.
#include <SDL_keycode.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screens/screen_fixtures.h"

using namespace screen_fixtures;

namespace {

class EditorTest : public HarnessTest {
 protected:
  // Opens a one-colour w × h picture as the document.
  void openPicture(int w = 40, int h = 30) { ASSERT_TRUE(document().openImage(picture(dir_.path(), w, h))); }
  TempDir dir_;
};
using Tools = EditorTest;
using NarrowWindow = ScreenTest;
using Closing = EditorTest;
using Keys = EditorTest;
using Stage = EditorTest;

// Frames until the player is ready and its first picture arrived.
bool untilPicture(ScreenHarness& h) {
  return framesUntil(h, [] { return ui::editorState().playerReady && ui::editorState().frame.valid(); });
}

ui::Input ctrlKey(int sym, bool shift = false) {
  ui::Input in = ScreenHarness::key(sym);
  in.ctrl = true;
  in.shift = shift;
  return in;
}

}  // namespace

// --- Tools ----------------------------------------------------------------------------

TEST_F(Tools, ImageListInOrderEachOpeningItsSheet) {
  openPicture(64, 48);
  h_.appFrame();
  EXPECT_EQ(idsWith(h_, "tool."), (std::vector<std::string>{"tool.editor.format", "tool.editor.crop",
                                                              "tool.editor.adjust", "tool.editor.transform",
                                                              "tool.editor.size", "tool.editor.save"}));
  EXPECT_FALSE(h_.hasWidget("timeline"));
  for (auto [id, sheet] : {std::pair{"tool.editor.format", ui::Sheet::Format}, {"tool.editor.crop", ui::Sheet::Crop},
                            {"tool.editor.adjust", ui::Sheet::Adjust}, {"tool.editor.transform", ui::Sheet::Rotate},
                            {"tool.editor.size", ui::Sheet::Resize}, {"tool.editor.save", ui::Sheet::Export}}) {
    ASSERT_TRUE(h_.clickWidget(id)) << id;
    EXPECT_EQ(state().sheet, sheet) << id;
  }
  // The open sheet's tool closes it again.
  ASSERT_TRUE(h_.clickWidget("tool.editor.save"));
  EXPECT_EQ(state().sheet, ui::Sheet::None);
  // Opening prepares the sheet's values.
  state().rotateAngle = 12;
  ASSERT_TRUE(h_.clickWidget("tool.editor.transform"));
  EXPECT_EQ(state().rotateAngle, 0);
  ASSERT_TRUE(h_.clickWidget("tool.editor.size"));
  EXPECT_EQ(state().longEdge, 64);
  ASSERT_TRUE(h_.clickWidget("tool.editor.crop"));
  EXPECT_EQ(state().cropRect.width, 64);
  EXPECT_EQ(state().cropRect.height, 48);
}

TEST_F(Tools, VideoListMarkersPlayAndTheCutToolWaitingForATenMillisecondRange) {
  ASSERT_TRUE(openVideo(indexClip(2)));
  ASSERT_TRUE(untilPicture(h_));
  EXPECT_EQ(idsWith(h_, "tool."), (std::vector<std::string>{"tool.editor.in", "tool.editor.out", "tool.editor.play",
                                                              "tool.editor.cut", "tool.editor.append",
                                                              "tool.effects.title", "tool.editor.size",
                                                              "tool.editor.format", "tool.editor.export"}));
  EXPECT_TRUE(h_.hasWidget("timeline"));

  ASSERT_TRUE(h_.clickWidget("tool.editor.cut"));  // no markers: disabled
  EXPECT_EQ(state().sheet, ui::Sheet::None);
  state().playheadMs = 400;
  ASSERT_TRUE(h_.clickWidget("tool.editor.in"));
  EXPECT_EQ(state().markInMs, 400);
  state().playheadMs = 900;
  ASSERT_TRUE(h_.clickWidget("tool.editor.out"));
  EXPECT_EQ(state().markOutMs, 900);
  state().markInMs = 1000;
  state().markOutMs = 1009.9;
  ASSERT_TRUE(h_.clickWidget("tool.editor.cut"));
  EXPECT_EQ(state().sheet, ui::Sheet::None);
  state().markOutMs = 1010;
  ASSERT_TRUE(h_.clickWidget("tool.editor.cut"));
  EXPECT_EQ(state().sheet, ui::Sheet::Cut);
  state().sheet = ui::Sheet::None;

  ASSERT_TRUE(h_.clickWidget("tool.editor.play"));
  EXPECT_TRUE(state().player.isPlaying);
  h_.appFrame();
  EXPECT_TRUE(h_.hasWidget("tool.editor.pause"));
  ASSERT_TRUE(h_.clickWidget("tool.editor.pause"));
  EXPECT_FALSE(state().player.isPlaying);
}

TEST_F(NarrowWindow, TheToolRowScrolls) {
  ASSERT_TRUE(openVideo(indexClip(2)));
  ScreenHarness h(400, 700);  // eight slots of 86 × 0.72 px do not fit
  h.appFrame();
  const ui::Rect first = *h.widget("tool.editor.in");
  EXPECT_EQ(first.x, 0);
  ui::Input wheel = ScreenHarness::move(200, 700 - 20);
  wheel.wheel = -3;
  h.appFrame(wheel);
  h.appFrame();
  EXPECT_GT(state().toolScroll, 0);
  EXPECT_LT(h.widget("tool.editor.in")->x, 0);
  // Never past the last slot.
  for (int i = 0; i < 20; ++i) h.appFrame(wheel);
  h.appFrame();
  const ui::Rect last = *h.widget("tool.editor.export");
  EXPECT_NEAR(last.x + last.w, 400, 1);  // the dump rounds to whole pixels
}

// --- Top bar and closing ----------------------------------------------------------------

TEST_F(Closing, WithoutEditsAtOnceWithEditsItAsksAndCancelKeepsTheWork) {
  openPicture();
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("bar.close"));
  EXPECT_EQ(document().kind, media::MediaKind::Unknown);
  EXPECT_FALSE(ui::dialogOpen());
  h_.appFrame();
  EXPECT_TRUE(h_.hasWidget("screen.start"));

  openPicture();
  ASSERT_TRUE(document().commitImage(editor_fixtures::solid(30, 40, {0, 0, 255}), "turn"));
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("bar.close"));
  EXPECT_TRUE(ui::dialogOpen());
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("dialog.0"));  // cancel
  h_.appFrame();
  EXPECT_EQ(document().kind, media::MediaKind::Image);
  ASSERT_TRUE(h_.clickWidget("bar.close"));
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("dialog.1"));  // close
  h_.appFrame();
  EXPECT_EQ(document().kind, media::MediaKind::Unknown);
  EXPECT_TRUE(logHas("Schliessen bestaetigt"));
}

TEST_F(Closing, TopBarTogglesItsSheetsUndoAndRedoStopAtTheHistorysEnds) {
  openPicture();
  h_.appFrame();
  for (auto [id, sheet] : {std::pair{"bar.more", ui::Sheet::More}, {"bar.info", ui::Sheet::Info},
                           {"bar.save", ui::Sheet::Export}}) {
    ASSERT_TRUE(h_.clickWidget(id));
    EXPECT_EQ(state().sheet, sheet) << id;
    ASSERT_TRUE(h_.clickWidget(id));
    EXPECT_EQ(state().sheet, ui::Sheet::None) << id;
  }
  ASSERT_TRUE(document().commitImage(editor_fixtures::solid(30, 40, {0, 0, 255}), "turn"));
  h_.appFrame();  // the step is recorded
  ASSERT_TRUE(h_.clickWidget("bar.redo"));  // nothing to redo
  EXPECT_EQ(document().current, 1);
  ASSERT_TRUE(h_.clickWidget("bar.undo"));
  EXPECT_EQ(document().current, 0);
  ASSERT_TRUE(h_.clickWidget("bar.undo"));  // nothing left to undo
  EXPECT_EQ(document().current, 0);
  ASSERT_TRUE(h_.clickWidget("bar.redo"));
  EXPECT_EQ(document().current, 1);
  // Images take the undo key but no video keys.
  h_.appFrame(ScreenHarness::key(SDLK_i));
  EXPECT_LT(state().markInMs, 0);
  h_.appFrame(ctrlKey(SDLK_z));
  EXPECT_EQ(document().current, 0);
}

TEST_F(Closing, TheAppendQuestionCanBeCancelled) {
  ASSERT_TRUE(openVideo(indexClip(2)));
  h_.appFrame();
  state().appendAsk = true;
  state().appendClips = {{"", 0, 2000}, {"b.mp4", 0, 1000}};
  state().appendBounds = {2000};
  state().pendingBounds = {2000};
  ui::showDialog("format?", "", {{"fit", 1}, {"keep", 0}, {"cancel", 0}});
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("dialog.2"));
  h_.appFrame();
  EXPECT_FALSE(state().appendAsk);
  EXPECT_TRUE(state().appendClips.empty());
  EXPECT_TRUE(state().pendingBounds.empty());
}

// --- Keys ----------------------------------------------------------------------------------

TEST_F(Keys, ArrowsSeekWithinTheVideoAndMarkersFollowThePlayhead) {
  ASSERT_TRUE(openVideo(indexClip(12)));
  ASSERT_TRUE(untilPicture(h_));
  h_.appFrame(ScreenHarness::key(SDLK_RIGHT));
  EXPECT_EQ(state().playheadMs, 5000);
  ui::Input shiftRight = ScreenHarness::key(SDLK_RIGHT);
  shiftRight.shift = true;
  h_.appFrame(shiftRight);
  EXPECT_EQ(state().playheadMs, 6000);
  h_.appFrame(ScreenHarness::key(SDLK_i));
  EXPECT_EQ(state().markInMs, 6000);
  h_.appFrame(ScreenHarness::key(SDLK_LEFT));
  h_.appFrame(ScreenHarness::key(SDLK_LEFT));
  EXPECT_EQ(state().playheadMs, 0);  // not below the start
  h_.appFrame(ScreenHarness::key(SDLK_END));
  EXPECT_EQ(state().playheadMs, document().videoInfo.durationMs);
  h_.appFrame(ScreenHarness::key(SDLK_o));
  EXPECT_EQ(state().markOutMs, document().videoInfo.durationMs);
  h_.appFrame(ScreenHarness::key(SDLK_RIGHT));
  EXPECT_EQ(state().playheadMs, document().videoInfo.durationMs);  // not past the end
  h_.appFrame(ScreenHarness::key(SDLK_HOME));
  EXPECT_EQ(state().playheadMs, 0);
}

TEST_F(Keys, CommaAndPeriodStepOneFrameOnlyWhilePaused) {
  ASSERT_TRUE(openVideo(indexClip(2)));
  ASSERT_TRUE(untilPicture(h_));
  state().playheadMs = 1000;
  h_.appFrame(ScreenHarness::key(SDLK_PERIOD));
  EXPECT_DOUBLE_EQ(state().playheadMs, 1040);  // 25 fps
  h_.appFrame(ScreenHarness::key(SDLK_COMMA));
  h_.appFrame(ScreenHarness::key(SDLK_COMMA));
  EXPECT_DOUBLE_EQ(state().playheadMs, 960);
  // The frame there arrives on the stage.
  ASSERT_TRUE(framesUntil(h_, [] { return std::abs(state().lastFrameMs - 960) < 1; }));
  EXPECT_EQ(media_clips::frameIndex(state().frame), 24);

  state().player.play();
  const double before = state().playheadMs;
  h_.appFrame(ScreenHarness::key(SDLK_PERIOD));
  EXPECT_GE(state().playheadMs, before);  // no step back or jump while playing
  EXPECT_LT(state().playheadMs, before + 500);
  state().player.pause();
}

TEST_F(Keys, UndoRedoEscapeAndNothingWhileADialogIsOpen) {
  ASSERT_TRUE(openVideo(indexClip(2)));
  h_.appFrame();
  state().effects.push_back({0, 500, 300});
  h_.appFrame();
  ASSERT_EQ(state().undoSteps.size(), 1u);
  h_.appFrame(ctrlKey(SDLK_z));
  EXPECT_TRUE(state().effects.empty());
  h_.appFrame(ctrlKey(SDLK_z, true));
  EXPECT_EQ(state().effects.size(), 1u);
  h_.appFrame(ctrlKey(SDLK_z));
  h_.appFrame(ctrlKey(SDLK_y));
  EXPECT_EQ(state().effects.size(), 1u);

  state().sheet = ui::Sheet::Effects;
  h_.appFrame(ScreenHarness::key(SDLK_ESCAPE));
  EXPECT_EQ(state().sheet, ui::Sheet::None);

  ui::showDialog("question", "", {{"ok", 1}});
  h_.appFrame(ctrlKey(SDLK_z));
  EXPECT_EQ(state().effects.size(), 1u);
  h_.appFrame(ScreenHarness::key(SDLK_RIGHT));
  EXPECT_EQ(state().playheadMs, 0);
}

// --- Stage ----------------------------------------------------------------------------------

TEST_F(Stage, ThePictureIsFittedAndCentred) {
  openPicture(400, 100);
  h_.appFrame();
  const ui::Rect stage = *h_.widget("editor.stage");
  const ui::Rect pic = *h_.widget("editor.picture");
  // The dump rounds to whole pixels.
  EXPECT_NEAR(pic.w, 0.96 * 1280, 1);  // width-bound
  EXPECT_NEAR(pic.h, pic.w / 4, 1);
  EXPECT_NEAR(pic.x + pic.w / 2, 640, 1);
  EXPECT_NEAR(pic.y + pic.h / 2, stage.y + stage.h / 2, 1);
  // An open sheet takes room from the stage.
  state().sheet = ui::Sheet::Info;
  h_.appFrame();
  EXPECT_LT(h_.widget("editor.stage")->h, stage.h);
}

TEST_F(Stage, AfterUndoAndRedoThePlayerReopensOnTheCurrentVersion) {
  const std::string a = indexClip(2);
  const std::string b = media_clips::clip("small.mp4", media_clips::indexSource(160, 96, 25, 2) + " -c:v libx264");
  ASSERT_FALSE(b.empty());
  ASSERT_TRUE(openVideo(a));
  ASSERT_TRUE(untilPicture(h_));
  ASSERT_TRUE(document().commitVideo(b, "cut"));
  ASSERT_TRUE(framesUntil(h_, [] { return state().playerVersion == 1 && state().frame.width == 160; }));
  ASSERT_TRUE(h_.clickWidget("bar.undo"));
  ASSERT_TRUE(framesUntil(h_, [] { return state().playerVersion == 0 && state().frame.width == 320; }));
  EXPECT_EQ(document().current, 0);
  ASSERT_TRUE(h_.clickWidget("bar.redo"));
  ASSERT_TRUE(framesUntil(h_, [] { return state().playerVersion == 1 && state().frame.width == 160; }));
}

// The frames' size follows the stage, not the last frame's rounded size: a
// size that moved by a pixel each frame made the player set up its scaler
// anew and the stage its texture.
TEST_F(Stage, FramesKeepOneSizeWhileTheVideoPlays) {
  ASSERT_TRUE(openVideo(toneClip(800, 450, 2)));
  ASSERT_TRUE(untilPicture(h_));
  const ui::Rect stage = *h_.widget("editor.stage");
  ASSERT_LT(stage.h * 16 / 9, stage.w) << "a stage bound by its height";
  state().player.play();
  std::vector<std::pair<int, int>> sizes;
  framesUntil(h_, [&] {
    const std::pair<int, int> size{state().frame.width, state().frame.height};
    if (sizes.empty() || sizes.back() != size) sizes.push_back(size);
    return state().playheadMs > 1200;
  });
  EXPECT_EQ(sizes.size(), 1u) << sizes.size() << " sizes, last " << sizes.back().first << " × " << sizes.back().second;
}

TEST_F(Stage, AVideoThatCannotOpenIsReportedOnce) {
  const std::string good = indexClip(2);
  ASSERT_TRUE(openVideo(good));
  // The version's file goes away under the editor.
  const std::string copy = dir_.file("gone.mp4");
  ASSERT_TRUE(testing_support::writeFile(copy, testing_support::readFile(good)));
  ASSERT_TRUE(document().commitVideo(copy, "cut"));
  std::remove(copy.c_str());
  h_.appFrame();
  EXPECT_FALSE(state().playerReady);
  EXPECT_TRUE(ui::dialogOpen());
  ASSERT_TRUE(h_.clickWidget("dialog.0"));
  for (int i = 0; i < 5; ++i) h_.appFrame();
  EXPECT_FALSE(ui::dialogOpen());  // not asked again every frame
  h_.appFrame();
  ASSERT_TRUE(h_.clickWidget("tool.editor.play"));  // disabled
  EXPECT_FALSE(state().player.isPlaying);
}
