// The editor's undo history and how it follows the document's versions.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "editor/document.h"
#include "editor/editor.h"
#include "editor/editor_fixtures.h"
#include "platform/fs.h"
#include "support/test_support.h"

namespace {

[[maybe_unused]] auto* const g_cache = editor_fixtures::useTempCache();

using editor_fixtures::centreIs;
using editor_fixtures::Rgb;
using editor_fixtures::solid;
using media::Fade;

constexpr Rgb kGrey{128, 128, 128};
constexpr Rgb kRed{220, 30, 30};
constexpr Rgb kBlue{30, 40, 210};

class EditorUndo : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::closeDocument();
    source_ = editor_fixtures::writeSolid(tmp_.file("source.png"), 24, 16, kGrey);
    ASSERT_FALSE(source_.empty());
    ASSERT_TRUE(doc().openImage(source_));
    ui::syncUndo();  // the editor's first frame
  }
  void TearDown() override { ui::closeDocument(); }

  static doc::Document& doc() { return doc::Document::instance(); }
  static ui::EditorState& state() { return ui::editorState(); }

  // A new document version, as an image sheet commits it.
  void commit(Rgb c) { ASSERT_TRUE(doc().commitImage(solid(24, 16, c), "edit")); }
  // An effect placed on the timeline.
  static void place(double at) { state().effects.push_back(Fade{Fade::Out, at, 500}); }

  testing_support::TempDir tmp_;
  std::string source_;
};

TEST_F(EditorUndo, OpeningIsTheStartingPointNotAStep) {
  EXPECT_FALSE(ui::canUndoStep());
  EXPECT_FALSE(ui::canRedoStep());
  EXPECT_EQ(state().syncedVersion, 0);
  EXPECT_FALSE(ui::undoStep());
  EXPECT_FALSE(ui::redoStep());
  ui::syncUndo();
  EXPECT_TRUE(state().undoSteps.empty());
}

TEST_F(EditorUndo, EffectStepsNeverMoveTheDocument) {
  commit(kRed);
  ui::syncUndo();
  place(1000);
  ui::syncUndo();
  place(2000);
  ui::syncUndo();
  ASSERT_EQ(state().undoSteps.size(), 3u);
  EXPECT_TRUE(state().undoSteps[0].docStep);
  EXPECT_FALSE(state().undoSteps[1].docStep);
  EXPECT_FALSE(state().undoSteps[2].docStep);

  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(doc().current, 1);
  EXPECT_EQ(state().effects.size(), 1u);
  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(doc().current, 1);
  EXPECT_TRUE(state().effects.empty());
  ASSERT_TRUE(ui::redoStep());
  ASSERT_TRUE(ui::redoStep());
  EXPECT_EQ(doc().current, 1);
  ASSERT_EQ(state().effects.size(), 2u);
  EXPECT_EQ(state().effects[1].atMs, 2000);
  EXPECT_FALSE(ui::canRedoStep());
  // Nothing changed since the redo: no step.
  ui::syncUndo();
  EXPECT_EQ(state().undoSteps.size(), 3u);
}

TEST_F(EditorUndo, AStepWithANewVersionMovesTheDocumentExactlyOnce) {
  commit(kRed);
  ui::syncUndo();
  commit(kBlue);
  ui::syncUndo();
  ASSERT_EQ(state().undoSteps.size(), 2u);

  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(doc().current, 1);
  EXPECT_TRUE(centreIs(doc().image, kRed));
  EXPECT_EQ(state().syncedVersion, 1);
  ui::syncUndo();  // the document's move is the editor's own: no step
  EXPECT_EQ(state().undoSteps.size(), 2u);

  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(doc().current, 0);
  EXPECT_FALSE(ui::canUndoStep());
  ASSERT_TRUE(ui::redoStep());
  EXPECT_EQ(doc().current, 1);
  ASSERT_TRUE(ui::redoStep());
  EXPECT_EQ(doc().current, 2);
  EXPECT_TRUE(centreIs(doc().image, kBlue));
}

TEST_F(EditorUndo, ClipsAndBoundsTravelWithTheirStep) {
  // The open flow sets the first clip before the editor's first frame.
  ui::closeDocument();
  ASSERT_TRUE(doc().openImage(source_));
  state().clips = {{"a.mp4", 0, 4000}};
  ui::syncUndo();
  state().clipBounds = {1000};
  ui::syncUndo();  // clips and bounds alone are no change
  EXPECT_TRUE(state().undoSteps.empty());
  state().clipBounds.clear();

  commit(kRed);  // stands for a composed work file
  state().clips = {{"a.mp4", 0, 4000}, {"b.mp4", 0, 3000}};
  state().clipBounds = {4000};
  state().effects = {Fade{Fade::Cross, 4000, 300}};
  ui::syncUndo();
  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(state().clips.size(), 1u);
  EXPECT_TRUE(state().clipBounds.empty());
  EXPECT_TRUE(state().effects.empty());
  ASSERT_TRUE(ui::redoStep());
  EXPECT_EQ(state().clips.size(), 2u);
  EXPECT_EQ(state().clipBounds, std::vector<double>{4000});
  ASSERT_EQ(state().effects.size(), 1u);
}

TEST_F(EditorUndo, AChangeAfterTwoUndosDropsBothRedoSteps) {
  place(1000);
  ui::syncUndo();
  place(2000);
  ui::syncUndo();
  place(3000);
  ui::syncUndo();
  ASSERT_TRUE(ui::undoStep());
  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(state().undoPos, 1u);
  EXPECT_TRUE(ui::canRedoStep());

  place(5000);
  ui::syncUndo();
  EXPECT_EQ(state().undoSteps.size(), 2u);
  EXPECT_EQ(state().undoPos, 2u);
  EXPECT_FALSE(ui::canRedoStep());
  EXPECT_FALSE(ui::redoStep());
  ASSERT_EQ(state().undoSteps[1].effectsAfter.size(), 2u);
  EXPECT_EQ(state().undoSteps[1].effectsAfter[1].atMs, 5000);
}

TEST_F(EditorUndo, NothingIsRecordedWhileADragRuns) {
  place(1000);
  state().gestureActive = true;
  ui::syncUndo();
  state().effects[0].atMs = 1500;
  commit(kRed);
  ui::syncUndo();
  EXPECT_TRUE(state().undoSteps.empty());
  state().gestureActive = false;
  ui::syncUndo();
  ASSERT_EQ(state().undoSteps.size(), 1u);  // the whole drag is one step
  EXPECT_TRUE(state().undoSteps[0].docStep);

  state().draggedEffect = 0;
  for (double at : {1600.0, 1700.0, 1800.0}) {
    state().effects[0].atMs = at;
    ui::syncUndo();
  }
  EXPECT_EQ(state().undoSteps.size(), 1u);
  state().draggedEffect = -1;
  ui::syncUndo();
  ASSERT_EQ(state().undoSteps.size(), 2u);
  EXPECT_EQ(state().undoSteps[1].effectsBefore[0].atMs, 1500);
  EXPECT_EQ(state().undoSteps[1].effectsAfter[0].atMs, 1800);
}

TEST_F(EditorUndo, NudgesWithinHalfAMillisecondAreNoChange) {
  place(1000);
  ui::syncUndo();
  ASSERT_EQ(state().undoSteps.size(), 1u);
  state().effects[0].atMs += 0.4;
  state().effects[0].lengthMs -= 0.5;
  ui::syncUndo();
  EXPECT_EQ(state().undoSteps.size(), 1u);
  state().effects[0].kind = Fade::In;
  ui::syncUndo();
  EXPECT_EQ(state().undoSteps.size(), 2u);
}

TEST_F(EditorUndo, TheDocumentGoingBackByItselfResynchronises) {
  commit(kRed);
  ui::syncUndo();
  commit(kBlue);
  ui::syncUndo();
  ASSERT_EQ(state().syncedVersion, 2);

  const std::string other = editor_fixtures::writeSolid(tmp_.file("other.png"), 10, 10, kBlue);
  ASSERT_TRUE(doc().openImage(other));
  place(700);
  ui::syncUndo();
  EXPECT_EQ(state().undoSteps.size(), 2u);
  EXPECT_EQ(state().syncedVersion, 0);
  ASSERT_EQ(state().syncedEffects.size(), 1u);
  place(900);
  ui::syncUndo();
  ASSERT_EQ(state().undoSteps.size(), 3u);
  EXPECT_FALSE(state().undoSteps[2].docStep);
  EXPECT_EQ(state().undoSteps[2].effectsBefore.size(), 1u);
}

TEST_F(EditorUndo, AVersionThatCannotLoadLeavesTheHistoryInStep) {
  commit(kRed);
  ui::syncUndo();
  place(400);
  ui::syncUndo();
  commit(kBlue);
  ui::syncUndo();
  doc::Document::waitForVersionFiles();
  ASSERT_TRUE(platform::fs::remove(doc().versions[1].path));

  // Undoing the blue version needs the red file: nothing moves.
  EXPECT_FALSE(ui::undoStep());
  EXPECT_EQ(state().undoPos, 3u);
  EXPECT_EQ(doc().current, 2);
  EXPECT_EQ(state().effects.size(), 1u);
  ASSERT_TRUE(editor_fixtures::writeSolid(doc().versions[1].path, 24, 16, kRed).size());
  ASSERT_TRUE(ui::undoStep());
  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(doc().current, 1);
  EXPECT_TRUE(state().effects.empty());
}

TEST_F(EditorUndo, UndoAndRedoDropAnArmedOrDraggedEffect) {
  place(1000);
  ui::syncUndo();
  state().armedKind = Fade::Cross;
  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(state().armedKind, -1);
  state().armedKind = Fade::In;
  state().draggedEffect = 0;
  ASSERT_TRUE(ui::redoStep());
  EXPECT_EQ(state().armedKind, -1);
  EXPECT_EQ(state().draggedEffect, -1);
}

// Closing ends the work: a document opened afterwards starts exactly as the
// first one did, while the flows' own fields (a drop waiting for the close
// question, the dialog's purpose, the cut counter) outlive it.
TEST_F(EditorUndo, CloseDocumentResetsTheWork) {
  ui::EditorState& s = state();
  commit(kRed);
  place(1000);
  ui::syncUndo();
  s.sheet = ui::Sheet::Adjust;
  s.clips = {{"a.mp4", 0, 1000}};
  s.clipBounds = {500};
  s.pendingEffects = s.effects;
  s.armedKind = 2;
  s.selectedClip = 1;
  s.markInMs = 10;
  s.playheadMs = 400;
  s.zoom = 3;
  s.rotateAngle = 12;
  s.cropRect = {1, 2, 3, 4};
  s.previewDirty = true;
  s.preview = solid(4, 4, kRed);
  s.pendingDrop = {"/tmp/next.png"};
  s.dialogPurpose = ui::DialogPurpose::OpenImage;
  s.cutCounter = 4;

  ui::closeDocument();
  EXPECT_EQ(doc().kind, media::MediaKind::Unknown);
  EXPECT_EQ(doc().current, -1);
  EXPECT_EQ(s.pendingDrop.size(), 1u);
  EXPECT_EQ(s.dialogPurpose, ui::DialogPurpose::OpenImage);
  EXPECT_EQ(s.cutCounter, 4);
  s.pendingDrop.clear();
  s.dialogPurpose = ui::DialogPurpose::None;

  ASSERT_TRUE(doc().openImage(source_));
  ui::syncUndo();
  const ui::EditorState fresh;
  EXPECT_EQ(s.sheet, fresh.sheet);
  EXPECT_TRUE(s.clips.empty() && s.clipBounds.empty() && s.effects.empty());
  EXPECT_TRUE(s.pendingEffects.empty() && s.undoSteps.empty() && s.preview.pixels.empty());
  EXPECT_EQ(std::tie(s.armedKind, s.draggedEffect, s.selectedClip, s.markInMs, s.markOutMs,
                     s.playheadMs, s.zoom, s.scrollMs, s.undoPos, s.rotateAngle, s.cropHandle,
                     s.previewDirty, s.cropRect.width),
            std::tie(fresh.armedKind, fresh.draggedEffect, fresh.selectedClip, fresh.markInMs,
                     fresh.markOutMs, fresh.playheadMs, fresh.zoom, fresh.scrollMs, fresh.undoPos,
                     fresh.rotateAngle, fresh.cropHandle, fresh.previewDirty, fresh.cropRect.width));
  EXPECT_EQ(s.syncedVersion, 0);
  EXPECT_FALSE(ui::canUndoStep());
  EXPECT_FALSE(ui::undoStep());
}

}  // namespace
