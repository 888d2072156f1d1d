// The document (opening, committing, undo and redo through the version list,
// the working directory) and the editor's undo history that follows it.
#include "editor/document.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "editor/editor.h"
#include "editor/editor_fixtures.h"
#include "editor/errors.h"
#include "media/errors.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "support/test_support.h"

namespace {

[[maybe_unused]] auto* const g_cache = editor_fixtures::useTempCache();

using editor_fixtures::centreIs;
using editor_fixtures::Rgb;
using editor_fixtures::solid;
using editor_fixtures::writeSolid;
using media::Fade;
namespace fs = platform::fs;

constexpr Rgb kGrey{128, 128, 128};
constexpr Rgb kRed{220, 30, 30};
constexpr Rgb kBlue{30, 40, 210};
constexpr Rgb kGreen{20, 200, 60};

std::string stepPath(int n) {
  char name[32];
  std::snprintf(name, sizeof name, "/step_%03d.png", n);
  return doc::Document::workDir() + name;
}

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::closeDocument();
    source_ = writeSolid(tmp_.file("source.png"), 40, 30, kGrey);
    ASSERT_FALSE(source_.empty());
  }
  void TearDown() override { ui::closeDocument(); }

  static doc::Document& doc() { return doc::Document::instance(); }
  static ui::EditorState& state() { return ui::editorState(); }
  void open() { ASSERT_TRUE(doc().openImage(source_)); }
  static void commit(Rgb c, const char* label = "edit") { ASSERT_TRUE(doc().commitImage(solid(40, 30, c), label)); }
  // An effect placed on the timeline.
  static void place(double at) { state().effects.push_back(Fade{Fade::Out, at, 500}); }
  // The same, each followed by the editor's next frame.
  static void commitStep(Rgb c) { commit(c), ui::syncUndo(); }
  static void placeStep(double at) { place(at), ui::syncUndo(); }

  testing_support::TempDir tmp_;
  std::string source_;
};

// --- The document --------------------------------------------------------------------------

TEST_F(DocumentTest, TitleIsTheSourceFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"/home/u/Pictures/a.jpg", "a.jpg"}, {"C:\\Users\\u\\b.png", "b.png"}, {"plain.webp", "plain.webp"}, {"/dir/", ""}};
  doc::Document& d = doc();
  d.kind = media::MediaKind::Image;
  for (const auto& [path, title] : cases) {
    d.sourcePath = path;
    EXPECT_EQ(d.title(), title) << path;
  }
  d.kind = media::MediaKind::Unknown;  // nothing open
  d.sourcePath = "/home/u/Pictures/a.jpg";
  EXPECT_EQ(d.title(), "");
}

// The source is version 0; a commit after an undo replaces the redo tail.
TEST_F(DocumentTest, VersionsUndoRedoAndTheRedoTail) {
  doc::Document& d = doc();
  std::string err = "stale";
  ASSERT_TRUE(d.openImage(source_, &err)) << err;
  EXPECT_EQ(std::tie(d.kind, d.sourcePath, d.imageInfo.format),
            std::make_tuple(media::MediaKind::Image, source_, "PNG"));
  ASSERT_EQ(d.versions.size(), 1u);
  EXPECT_EQ(std::tie(d.versions[0].path, d.versions[0].label, d.versions[0].width, d.versions[0].height),
            std::make_tuple(source_, std::string(), 40, 30));
  EXPECT_EQ(d.currentPath(), source_);
  EXPECT_TRUE(centreIs(d.image, kGrey));
  EXPECT_FALSE(d.undo() || d.redo());

  const int base = d.stepCounter;
  commit(kRed, "red");
  ASSERT_TRUE(d.commitImage(solid(20, 10, kBlue), "blue"));
  ASSERT_EQ(d.versions.size(), 3u);
  EXPECT_EQ(d.current, 2);
  EXPECT_EQ(std::tie(d.versions[2].path, d.versions[2].label, d.versions[2].width, d.versions[2].height),
            std::make_tuple(stepPath(base + 2), std::string("blue"), 20, 10));
  EXPECT_EQ(std::tie(d.imageInfo.width, d.imageInfo.height), std::make_tuple(20, 10));
  EXPECT_TRUE(centreIs(d.image, kBlue));
  // Work files carry no signature; only saved files do.
  doc::Document::waitForVersionFiles();
  EXPECT_EQ(testing_support::readFile(d.versions[2].path).find("Pelmora"), std::string::npos);

  ASSERT_TRUE(d.undo());
  EXPECT_EQ(d.current, 1);
  EXPECT_TRUE(centreIs(d.image, kRed));
  EXPECT_EQ(d.imageInfo.width, 40);
  ASSERT_TRUE(d.redo());
  EXPECT_TRUE(centreIs(d.image, kBlue));
  EXPECT_FALSE(d.redo());
  ASSERT_TRUE(d.undo());

  // The dropped step's file stays on disk until exit.
  const std::string dropped = d.versions[2].path;
  commit(kGreen, "green");
  ASSERT_EQ(d.versions.size(), 3u);
  EXPECT_EQ(d.current, 2);
  EXPECT_EQ(std::tie(d.versions[1].label, d.versions[2].label, d.versions[2].path),
            std::make_tuple("red", "green", stepPath(base + 3)));
  EXPECT_TRUE(fs::isFile(dropped));
  EXPECT_FALSE(d.redo());

  d.close();
  EXPECT_EQ(d.kind, media::MediaKind::Unknown);
  EXPECT_TRUE(d.versions.empty() && d.image.pixels.empty());
  EXPECT_EQ(d.current, -1);
  EXPECT_EQ(d.currentPath(), "");
  EXPECT_FALSE(d.undo() || d.redo());
}

// Step files live in a directory of this process's own (platform::OwnedDir, which keeps other processes' apart) that
// cleaning takes away and the next commit brings back; their numbers go on across documents and failed commits.
TEST_F(DocumentTest, StepFilesAreNumberedOnInAPrivateDirectory) {
  doc::Document& d = doc();
  const std::string dir = doc::Document::workDir();
  const std::string parent = paths::cacheDir() + "/work";
  ASSERT_EQ(dir.rfind(parent + "/" + std::to_string(getpid()) + "-", 0), 0u) << dir;
  open();
  const int base = d.stepCounter;
  std::string err;
  EXPECT_FALSE(d.commitImage(media::Image{}, "empty", &err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(d.stepCounter, base + 1);
  EXPECT_EQ(d.versions.size(), 1u);
  EXPECT_TRUE(centreIs(d.image, kGrey));

  ASSERT_TRUE(d.openImage(writeSolid(tmp_.file("other.png"), 16, 16, kBlue)));
  commit(kGreen);
  EXPECT_EQ(d.currentPath(), stepPath(base + 2));
  ASSERT_TRUE(testing_support::writeFile(dir + "/schnitt_001.mp4", "partial"));
  doc::Document::cleanWorkDir();
  EXPECT_FALSE(fs::isDir(dir));
  EXPECT_TRUE(fs::isDir(parent));
  EXPECT_TRUE(fs::isFile(tmp_.file("other.png")));  // the source is never touched

  d.stepCounter = 999;
  commit(kRed);
  EXPECT_EQ(d.currentPath(), dir + "/step_1000.png");
  doc::Document::waitForVersionFiles();
  EXPECT_TRUE(fs::isFile(d.currentPath()));
  EXPECT_TRUE(fs::isFile(dir + "/lock"));
}

TEST_F(DocumentTest, FailingOpenLeavesTheOpenDocumentIntact) {
  doc::Document& d = doc();
  open();
  commit(kRed);
  const std::string text = tmp_.file("notes.txt");
  ASSERT_TRUE(testing_support::writeFile(text, "not a picture at all, just some words\n"));
  std::string err;
  EXPECT_FALSE(d.openImage(text, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_FALSE(d.openImage(tmp_.file("missing.png"), &err));
  EXPECT_FALSE(d.openVideo(text, &err));
  EXPECT_EQ(std::tie(d.kind, d.sourcePath, d.current), std::make_tuple(media::MediaKind::Image, source_, 1));
  EXPECT_TRUE(centreIs(d.image, kRed));
}

TEST_F(DocumentTest, StepsKeepTheSourcesDescriptionThroughUndo) {
  doc::Document& d = doc();
  ASSERT_TRUE(d.openImage(testing_support::fixture("orient_6.jpg")));
  const media::ImageInfo source = d.imageInfo;
  ASSERT_EQ(source.format, "JPEG");
  ASSERT_EQ(source.orientation, 6);
  ASSERT_TRUE(d.commitImage(solid(30, 20, kRed), "a"));
  ASSERT_TRUE(d.commitImage(solid(10, 10, kBlue), "b"));
  ASSERT_TRUE(d.undo());
  // Back on a step: the PNG it is stored in does not become the document's
  // format (which decides the automatic output format), nor lose the camera.
  EXPECT_EQ(std::tie(d.imageInfo.format, d.imageInfo.orientation, d.imageInfo.make, d.imageInfo.width,
                     d.imageInfo.height),
            std::make_tuple(std::string("JPEG"), 6, source.make, 30, 20));
  ASSERT_TRUE(d.undo());
  EXPECT_EQ(std::tie(d.imageInfo.format, d.imageInfo.width, d.imageInfo.height),
            std::tie(source.format, source.width, source.height));
}

TEST_F(DocumentTest, VideoVersions) {
  const std::string first = editor_fixtures::testClip(64, 48, 1.0);
  const std::string second = editor_fixtures::testClip(96, 64, 0.5);
  ASSERT_FALSE(first.empty() || second.empty());
  doc::Document& d = doc();
  ASSERT_TRUE(d.openVideo(first));
  ASSERT_EQ(d.versions.size(), 1u);
  EXPECT_EQ(std::tie(d.kind, d.current, d.versions[0].width, d.videoInfo.height),
            std::make_tuple(media::MediaKind::Video, 0, 64, 48));
  const double firstDuration = d.videoInfo.durationMs;
  EXPECT_GT(firstDuration, 500);

  // Image commits are refused and take no step number.
  const int counter = d.stepCounter;
  std::string err;
  EXPECT_FALSE(d.commitImage(solid(8, 8, kRed), "x", &err));
  EXPECT_EQ(err, doc::err::kWrongKind);
  EXPECT_EQ(d.stepCounter, counter);
  EXPECT_FALSE(d.commitVideo(tmp_.file("schnitt_404.mp4"), "missing", &err));
  EXPECT_EQ(d.versions.size(), 1u);

  ASSERT_TRUE(d.commitVideo(second, "cut", &err)) << err;
  ASSERT_EQ(d.versions.size(), 2u);
  EXPECT_EQ(std::tie(d.current, d.versions[1].label, d.versions[1].width, d.videoInfo.width),
            std::make_tuple(1, "cut", 96, 96));
  EXPECT_LT(d.videoInfo.durationMs, firstDuration);
  ASSERT_TRUE(d.undo());
  EXPECT_EQ(d.currentPath(), first);
  EXPECT_EQ(d.videoInfo.width, 64);
  EXPECT_DOUBLE_EQ(d.videoInfo.durationMs, firstDuration);

  // A commit after an undo drops the tail; redo onto a video that can no
  // longer be read still moves (the player reports it), keeping the properties.
  const std::string gone = tmp_.file("gone.mp4");
  ASSERT_TRUE(testing_support::writeFile(gone, testing_support::readFile(second)));
  ASSERT_TRUE(d.commitVideo(gone, "gone"));
  ASSERT_EQ(d.versions.size(), 2u);
  ASSERT_TRUE(d.undo());
  ASSERT_TRUE(fs::remove(gone));
  ASSERT_TRUE(d.redo());
  EXPECT_EQ(d.current, 1);
  EXPECT_EQ(d.videoInfo.width, 64);
}

// A version file that vanished: document and editor history stay where they are
// (stepping the history alone would set every later document move one off).
TEST_F(DocumentTest, AVersionThatCannotLoadMovesNeitherDocumentNorHistory) {
  doc::Document& d = doc();
  open();
  ui::syncUndo();
  commitStep(kRed);
  placeStep(400);
  commitStep(kBlue);
  doc::Document::waitForVersionFiles();
  const std::string red = d.versions[1].path;
  ASSERT_TRUE(fs::remove(red));

  EXPECT_FALSE(ui::undoStep());
  EXPECT_EQ(std::tie(state().undoPos, d.current), std::make_tuple(3u, 2));
  EXPECT_EQ(state().effects.size(), 1u);

  ASSERT_FALSE(writeSolid(red, 40, 30, kRed).empty());
  ASSERT_TRUE(ui::undoStep());
  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(d.current, 1);
  EXPECT_TRUE(state().effects.empty());
  // The same for redo onto a vanished version.
  ASSERT_TRUE(fs::remove(d.versions[2].path));
  ASSERT_TRUE(ui::redoStep());  // the effect step needs no file
  EXPECT_FALSE(ui::redoStep());
  EXPECT_EQ(std::tie(state().undoPos, d.current), std::make_tuple(2u, 1));
  EXPECT_TRUE(centreIs(d.image, kRed));
}

// The version next to the current one comes from memory (its file is
// rewritten, and not read); pixels handed in (as a worker read them) too.
TEST_F(DocumentTest, NeighbouringVersionsNeedNoFileRead) {
  doc::Document& d = doc();
  open();
  commit(kRed);
  commit(kBlue);
  doc::Document::waitForVersionFiles();
  for (const doc::Version& v : d.versions) ASSERT_FALSE(writeSolid(v.path, 40, 30, kGreen).empty());
  EXPECT_TRUE(d.holds(1) && !d.holds(0) && d.movesAtOnce(1));
  ASSERT_TRUE(d.undo());
  EXPECT_TRUE(centreIs(d.image, kRed));
  EXPECT_FALSE(d.hold(1, solid(40, 30, kGrey), {}));  // the current version
  ASSERT_TRUE(d.hold(0, solid(40, 30, kGrey), {}));
  EXPECT_FALSE(d.holds(2));
  ASSERT_TRUE(d.undo());
  EXPECT_TRUE(centreIs(d.image, kGrey));
  d.dropHeld();
  EXPECT_FALSE(d.holds(1) || d.movesAtOnce(2));
}

// --- The editor's history ------------------------------------------------------------------

class EditorUndo : public DocumentTest {
 protected:
  void SetUp() override {
    DocumentTest::SetUp();
    open();
    ui::syncUndo();  // the editor's first frame
  }
};

TEST_F(EditorUndo, StepsFollowEffectsAndVersionsAndMoveTheDocumentOnlyForTheirOwn) {
  // Opening is the starting point, not a step.
  EXPECT_FALSE(ui::canUndoStep() || ui::canRedoStep() || ui::undoStep() || ui::redoStep());
  EXPECT_EQ(state().syncedVersion, 0);

  commitStep(kRed);
  placeStep(1000);
  commitStep(kBlue);
  ASSERT_EQ(state().undoSteps.size(), 3u);
  EXPECT_EQ(std::tie(state().undoSteps[0].docStep, state().undoSteps[1].docStep, state().undoSteps[2].docStep),
            std::make_tuple(true, false, true));

  ASSERT_TRUE(ui::undoStep());
  EXPECT_TRUE(centreIs(doc().image, kRed));
  EXPECT_EQ(state().syncedVersion, 1);
  ui::syncUndo();  // the document's move is the editor's own: no step
  EXPECT_EQ(state().undoSteps.size(), 3u);
  ASSERT_TRUE(ui::undoStep());  // an effect step leaves the document
  EXPECT_EQ(doc().current, 1);
  EXPECT_TRUE(state().effects.empty());
  ASSERT_TRUE(ui::undoStep());
  EXPECT_EQ(doc().current, 0);
  EXPECT_FALSE(ui::canUndoStep());

  // Undo and redo drop an armed or dragged effect.
  state().armedKind = Fade::In;
  state().draggedEffect = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ui::redoStep()) << i;
  EXPECT_EQ(std::tie(state().armedKind, state().draggedEffect, doc().current), std::make_tuple(-1, -1, 2));
  ASSERT_EQ(state().effects.size(), 1u);
  EXPECT_FALSE(ui::canRedoStep());

  // A change after two undos drops both redo steps.
  ASSERT_TRUE(ui::undoStep());
  ASSERT_TRUE(ui::undoStep());
  placeStep(5000);
  EXPECT_EQ(state().undoSteps.size(), 2u);
  EXPECT_EQ(state().undoPos, 2u);
  EXPECT_FALSE(ui::canRedoStep() || ui::redoStep());
  ASSERT_EQ(state().undoSteps[1].effectsAfter.size(), 1u);
  EXPECT_EQ(state().undoSteps[1].effectsAfter[0].atMs, 5000);
}

TEST_F(EditorUndo, ClipsAndBoundsTravelWithTheirStep) {
  // The open flow sets the first clip before the editor's first frame.
  ui::closeDocument();
  open();
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
  EXPECT_TRUE(state().clipBounds.empty() && state().effects.empty());
  ASSERT_TRUE(ui::redoStep());
  EXPECT_EQ(std::make_tuple(state().clips.size(), state().clipBounds, state().effects.size()),
            std::make_tuple(size_t{2}, std::vector<double>{4000}, size_t{1}));
}

// Effect drags are one step each too (the timeline's cases show that).
TEST_F(EditorUndo, GesturesAreOneStepAndNudgesWithinHalfAMillisecondNone) {
  place(1000);
  state().gestureActive = true;
  ui::syncUndo();
  state().effects[0].atMs = 1500;
  commitStep(kRed);
  EXPECT_TRUE(state().undoSteps.empty());
  state().gestureActive = false;
  ui::syncUndo();
  ASSERT_EQ(state().undoSteps.size(), 1u);
  EXPECT_TRUE(state().undoSteps[0].docStep);
  EXPECT_EQ(state().undoSteps[0].effectsAfter[0].atMs, 1500);

  state().effects[0].atMs += 0.4;
  state().effects[0].lengthMs -= 0.5;
  ui::syncUndo();
  EXPECT_EQ(state().undoSteps.size(), 1u);
  state().effects[0].kind = Fade::In;
  ui::syncUndo();
  EXPECT_EQ(state().undoSteps.size(), 2u);
}

TEST_F(EditorUndo, TheDocumentGoingBackByItselfResynchronises) {
  commitStep(kRed);
  commitStep(kBlue);
  ASSERT_EQ(state().syncedVersion, 2);

  ASSERT_TRUE(doc().openImage(writeSolid(tmp_.file("other.png"), 10, 10, kBlue)));
  placeStep(700);
  EXPECT_EQ(std::make_tuple(state().syncedVersion, state().undoSteps.size()), std::make_tuple(0, size_t{2}));
  placeStep(900);
  ASSERT_EQ(state().undoSteps.size(), 3u);
  EXPECT_FALSE(state().undoSteps[2].docStep);
  EXPECT_EQ(state().undoSteps[2].effectsBefore.size(), 1u);
}

// Closing ends the work: a document opened afterwards starts exactly as the first one did, while the flows' own fields
// (a drop waiting for the close question, the dialog's purpose, the cut counter) outlive it.
TEST_F(EditorUndo, CloseDocumentResetsTheWork) {
  ui::EditorState& s = state();
  commit(kRed);
  placeStep(1000);
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
  EXPECT_EQ(std::tie(s.pendingDrop, s.dialogPurpose, s.cutCounter),
            std::make_tuple(std::vector<std::string>{"/tmp/next.png"}, ui::DialogPurpose::OpenImage, 4));
  s.pendingDrop.clear();
  s.dialogPurpose = ui::DialogPurpose::None;

  open();
  ui::syncUndo();
  const ui::EditorState fresh;
  EXPECT_EQ(s.sheet, fresh.sheet);
  EXPECT_TRUE(s.clips.empty() && s.clipBounds.empty() && s.effects.empty());
  EXPECT_TRUE(s.pendingEffects.empty() && s.undoSteps.empty() && s.preview.pixels.empty());
  EXPECT_EQ(std::tie(s.armedKind, s.draggedEffect, s.selectedClip, s.markInMs, s.markOutMs, s.playheadMs, s.zoom,
                     s.scrollMs, s.undoPos, s.rotateAngle, s.cropHandle, s.previewDirty, s.cropRect.width),
            std::tie(fresh.armedKind, fresh.draggedEffect, fresh.selectedClip, fresh.markInMs, fresh.markOutMs,
                     fresh.playheadMs, fresh.zoom, fresh.scrollMs, fresh.undoPos, fresh.rotateAngle, fresh.cropHandle,
                     fresh.previewDirty, fresh.cropRect.width));
  EXPECT_EQ(s.syncedVersion, 0);
  EXPECT_FALSE(ui::canUndoStep() || ui::undoStep());
}

}  // namespace
