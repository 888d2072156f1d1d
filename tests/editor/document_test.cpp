// The document: opening, committing, undo and redo through the version list,
// and the working directory the versions live in.
#include "editor/document.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

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
using testing_support::TempDir;

constexpr Rgb kGrey{128, 128, 128};
constexpr Rgb kRed{220, 30, 30};
constexpr Rgb kBlue{30, 40, 210};
constexpr Rgb kGreen{20, 200, 60};

std::string stepName(int n) {
  char name[32];
  std::snprintf(name, sizeof name, "step_%03d.png", n);
  return name;
}

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    doc().close();
    source_ = writeSolid(tmp_.file("source.png"), 40, 30, kGrey);
    ASSERT_FALSE(source_.empty());
  }
  void TearDown() override { doc().close(); }

  static doc::Document& doc() { return doc::Document::instance(); }

  TempDir tmp_;
  std::string source_;
};

TEST_F(DocumentTest, OpenedImageIsOneVersionWithNothingToUndo) {
  doc::Document& d = doc();
  std::string err = "stale";
  ASSERT_TRUE(d.openImage(source_, &err)) << err;
  EXPECT_EQ(d.kind, media::MediaKind::Image);
  EXPECT_EQ(d.sourcePath, source_);
  ASSERT_EQ(d.versions.size(), 1u);
  EXPECT_EQ(d.versions[0].path, source_);
  EXPECT_EQ(d.versions[0].label, "");
  EXPECT_EQ(d.versions[0].width, 40);
  EXPECT_EQ(d.versions[0].height, 30);
  EXPECT_EQ(d.current, 0);
  EXPECT_EQ(d.currentPath(), source_);
  EXPECT_EQ(d.imageInfo.format, "PNG");
  EXPECT_TRUE(centreIs(d.image, kGrey));

  EXPECT_FALSE(d.undo());
  EXPECT_FALSE(d.redo());
  EXPECT_EQ(d.current, 0);

  d.close();
  EXPECT_EQ(d.kind, media::MediaKind::Unknown);
  EXPECT_TRUE(d.versions.empty());
  EXPECT_EQ(d.current, -1);
  EXPECT_TRUE(d.image.pixels.empty());
  EXPECT_EQ(d.imageInfo.orientation, 1);
  EXPECT_EQ(d.imageInfo.width, 0);
  EXPECT_EQ(d.currentPath(), "");
  EXPECT_EQ(d.title(), "");
  EXPECT_FALSE(d.undo());
  EXPECT_FALSE(d.redo());
}

TEST_F(DocumentTest, TitleIsTheSourceFileName) {
  doc::Document& d = doc();
  d.kind = media::MediaKind::Image;
  d.sourcePath = "/home/u/Pictures/a.jpg";
  EXPECT_EQ(d.title(), "a.jpg");
  d.sourcePath = "C:\\Users\\u\\b.png";
  EXPECT_EQ(d.title(), "b.png");
  d.sourcePath = "plain.webp";
  EXPECT_EQ(d.title(), "plain.webp");
  d.sourcePath = "/dir/";
  EXPECT_EQ(d.title(), "");
  d.kind = media::MediaKind::Unknown;
  d.sourcePath = "/home/u/Pictures/a.jpg";
  EXPECT_EQ(d.title(), "");
}

TEST_F(DocumentTest, CommitsUndoRedoAndTheRedoTail) {
  doc::Document& d = doc();
  ASSERT_TRUE(d.openImage(source_));
  const int base = d.stepCounter;

  ASSERT_TRUE(d.commitImage(solid(40, 30, kRed), "red"));
  ASSERT_TRUE(d.commitImage(solid(20, 10, kBlue), "blue"));
  ASSERT_EQ(d.versions.size(), 3u);
  EXPECT_EQ(d.current, 2);
  EXPECT_EQ(d.versions[1].path, doc::Document::workDir() + "/" + stepName(base + 1));
  EXPECT_EQ(d.versions[2].path, doc::Document::workDir() + "/" + stepName(base + 2));
  EXPECT_EQ(d.versions[2].label, "blue");
  EXPECT_EQ(d.versions[2].width, 20);
  EXPECT_EQ(d.versions[2].height, 10);
  EXPECT_EQ(d.imageInfo.width, 20);
  EXPECT_EQ(d.imageInfo.height, 10);
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

  // A commit after an undo replaces the redo tail; the dropped step's file
  // stays on disk until exit.
  const std::string dropped = d.versions[2].path;
  ASSERT_TRUE(d.commitImage(solid(40, 30, kGreen), "green"));
  ASSERT_EQ(d.versions.size(), 3u);
  EXPECT_EQ(d.current, 2);
  EXPECT_EQ(d.versions[1].label, "red");
  EXPECT_EQ(d.versions[2].label, "green");
  EXPECT_EQ(d.versions[2].path, doc::Document::workDir() + "/" + stepName(base + 3));
  EXPECT_TRUE(platform::fs::isFile(dropped));
  EXPECT_FALSE(d.redo());

  ASSERT_TRUE(d.undo());
  ASSERT_TRUE(d.undo());
  EXPECT_EQ(d.current, 0);
  EXPECT_TRUE(centreIs(d.image, kGrey));
  EXPECT_FALSE(d.undo());
}

// Step files are never reused while the program runs: the number keeps
// counting across documents and failed saves, and grows past three digits.
TEST_F(DocumentTest, StepNumbersOnlyGrow) {
  doc::Document& d = doc();
  ASSERT_TRUE(d.openImage(source_));
  const int base = d.stepCounter;
  std::string err;
  EXPECT_FALSE(d.commitImage(media::Image{}, "empty", &err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(d.stepCounter, base + 1);
  EXPECT_EQ(d.versions.size(), 1u);
  EXPECT_TRUE(centreIs(d.image, kGrey));

  ASSERT_TRUE(d.openImage(writeSolid(tmp_.file("other.png"), 16, 16, kBlue)));
  EXPECT_EQ(d.stepCounter, base + 1);
  ASSERT_TRUE(d.commitImage(solid(8, 8, kGreen), "b"));
  EXPECT_EQ(d.currentPath(), doc::Document::workDir() + "/" + stepName(base + 2));
  d.close();
  EXPECT_EQ(d.stepCounter, base + 2);

  ASSERT_TRUE(d.openImage(source_));
  d.stepCounter = 999;
  ASSERT_TRUE(d.commitImage(solid(8, 8, kRed), "a"));
  EXPECT_EQ(d.currentPath(), doc::Document::workDir() + "/step_1000.png");
}

TEST_F(DocumentTest, FailingOpenLeavesTheOpenDocumentIntact) {
  doc::Document& d = doc();
  ASSERT_TRUE(d.openImage(source_));
  ASSERT_TRUE(d.commitImage(solid(40, 30, kRed), "red"));
  const std::string current = d.currentPath();

  const std::string text = tmp_.file("notes.txt");
  ASSERT_TRUE(testing_support::writeFile(text, "not a picture at all, just some words\n"));
  std::string err;
  EXPECT_FALSE(d.openImage(text, &err));
  EXPECT_EQ(err, media::err::kUnsupportedFormat);
  EXPECT_FALSE(d.openImage(tmp_.file("missing.png"), &err));
  EXPECT_FALSE(d.openVideo(text, &err));
  EXPECT_FALSE(err.empty());

  EXPECT_EQ(d.kind, media::MediaKind::Image);
  EXPECT_EQ(d.sourcePath, source_);
  EXPECT_EQ(d.versions.size(), 2u);
  EXPECT_EQ(d.current, 1);
  EXPECT_EQ(d.currentPath(), current);
  EXPECT_TRUE(centreIs(d.image, kRed));
}

TEST_F(DocumentTest, UndoToAVanishedStepKeepsTheCurrentVersion) {
  doc::Document& d = doc();
  ASSERT_TRUE(d.openImage(source_));
  ASSERT_TRUE(d.commitImage(solid(40, 30, kRed), "red"));
  ASSERT_TRUE(d.commitImage(solid(40, 30, kBlue), "blue"));
  doc::Document::waitForVersionFiles();
  ASSERT_TRUE(platform::fs::remove(d.versions[1].path));

  EXPECT_FALSE(d.undo());
  EXPECT_EQ(d.current, 2);
  EXPECT_TRUE(centreIs(d.image, kBlue));

  // The same for redo onto a vanished version.
  const std::string blue = d.versions[2].path;
  ASSERT_TRUE(writeSolid(d.versions[1].path, 40, 30, kRed).size());
  ASSERT_TRUE(d.undo());
  ASSERT_TRUE(platform::fs::remove(blue));
  EXPECT_FALSE(d.redo());
  EXPECT_EQ(d.current, 1);
  EXPECT_TRUE(centreIs(d.image, kRed));
}

TEST_F(DocumentTest, StepsKeepTheSourcesDescriptionThroughUndo) {
  doc::Document& d = doc();
  const std::string jpeg = testing_support::fixture("orient_6.jpg");
  ASSERT_TRUE(d.openImage(jpeg));
  const media::ImageInfo source = d.imageInfo;
  ASSERT_EQ(source.format, "JPEG");
  ASSERT_EQ(source.orientation, 6);

  ASSERT_TRUE(d.commitImage(solid(30, 20, kRed), "a"));
  ASSERT_TRUE(d.commitImage(solid(10, 10, kBlue), "b"));
  ASSERT_TRUE(d.undo());
  // Back on a step: the PNG it is stored in does not become the document's
  // format (which decides the automatic output format), nor lose the camera.
  EXPECT_EQ(d.imageInfo.format, "JPEG");
  EXPECT_EQ(d.imageInfo.orientation, 6);
  EXPECT_EQ(d.imageInfo.make, source.make);
  EXPECT_EQ(d.imageInfo.width, 30);
  EXPECT_EQ(d.imageInfo.height, 20);
  ASSERT_TRUE(d.undo());
  EXPECT_EQ(d.imageInfo.format, "JPEG");
  EXPECT_EQ(d.imageInfo.width, source.width);
  EXPECT_EQ(d.imageInfo.height, source.height);
}

TEST_F(DocumentTest, VideoVersions) {
  const std::string first = editor_fixtures::testClip(64, 48, 1.0);
  const std::string second = editor_fixtures::testClip(96, 64, 0.5);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  doc::Document& d = doc();
  ASSERT_TRUE(d.openVideo(first));
  EXPECT_EQ(d.kind, media::MediaKind::Video);
  EXPECT_EQ(d.title(), first.substr(first.find_last_of('/') + 1));
  ASSERT_EQ(d.versions.size(), 1u);
  EXPECT_EQ(d.versions[0].width, 64);
  EXPECT_EQ(d.videoInfo.height, 48);
  const double firstDuration = d.videoInfo.durationMs;
  EXPECT_GT(firstDuration, 500);

  // Image commits are refused and write nothing.
  const int counter = d.stepCounter;
  const auto filesBefore = platform::fs::listDir(doc::Document::workDir());
  std::string err;
  EXPECT_FALSE(d.commitImage(solid(8, 8, kRed), "x", &err));
  EXPECT_EQ(err, doc::err::kWrongKind);
  EXPECT_EQ(d.stepCounter, counter);
  EXPECT_EQ(platform::fs::listDir(doc::Document::workDir()), filesBefore);

  EXPECT_FALSE(d.commitVideo(tmp_.file("schnitt_404.mp4"), "missing", &err));
  EXPECT_EQ(d.versions.size(), 1u);

  ASSERT_TRUE(d.commitVideo(second, "cut", &err)) << err;
  ASSERT_EQ(d.versions.size(), 2u);
  EXPECT_EQ(d.current, 1);
  EXPECT_EQ(d.versions[1].label, "cut");
  EXPECT_EQ(d.versions[1].width, 96);
  EXPECT_EQ(d.videoInfo.width, 96);
  EXPECT_LT(d.videoInfo.durationMs, firstDuration);

  ASSERT_TRUE(d.undo());
  EXPECT_EQ(d.currentPath(), first);
  EXPECT_EQ(d.videoInfo.width, 64);
  EXPECT_DOUBLE_EQ(d.videoInfo.durationMs, firstDuration);
  ASSERT_TRUE(d.redo());
  EXPECT_EQ(d.videoInfo.width, 96);

  // After an undo the next commit drops the tail here too.
  ASSERT_TRUE(d.undo());
  ASSERT_TRUE(d.commitVideo(first, "again"));
  ASSERT_EQ(d.versions.size(), 2u);
  EXPECT_EQ(d.versions[1].label, "again");
  EXPECT_FALSE(d.redo());

  // Undo onto a version that can no longer be read still moves (the
  // player reports the file), keeping the properties it had.
  const std::string gone = tmp_.file("gone.mp4");
  ASSERT_TRUE(testing_support::writeFile(gone, testing_support::readFile(second)));
  ASSERT_TRUE(d.commitVideo(gone, "gone"));
  ASSERT_TRUE(d.undo());
  ASSERT_TRUE(platform::fs::remove(gone));
  ASSERT_TRUE(d.redo());
  EXPECT_EQ(d.current, 2);
  EXPECT_EQ(d.videoInfo.width, 64);
}

TEST_F(DocumentTest, WorkingDirectoryIsPrivateAndCleanedAway) {
  doc::Document& d = doc();
  const std::string dir = doc::Document::workDir();
  const std::string parent = paths::cacheDir() + "/work";
  ASSERT_EQ(dir.rfind(parent + "/", 0), 0u) << dir;
  const std::string name = dir.substr(parent.size() + 1);
  EXPECT_EQ(name.rfind(std::to_string(getpid()) + "-", 0), 0u) << name;
  EXPECT_TRUE(platform::fs::isDir(dir));
  EXPECT_TRUE(platform::fs::isFile(dir + "/lock"));

  ASSERT_TRUE(d.openImage(source_));
  ASSERT_TRUE(d.commitImage(solid(8, 8, kRed), "a"));
  ASSERT_TRUE(d.commitImage(solid(8, 8, kBlue), "b"));
  ASSERT_TRUE(testing_support::writeFile(dir + "/schnitt_001.mp4", "partial"));

  doc::Document::cleanWorkDir();
  EXPECT_FALSE(platform::fs::isDir(dir));
  EXPECT_TRUE(platform::fs::isDir(parent));
  EXPECT_TRUE(platform::fs::isFile(source_));  // the source is never touched

  // A later commit brings the same directory back.
  ASSERT_TRUE(d.commitImage(solid(8, 8, kGreen), "c"));
  EXPECT_EQ(doc::Document::workDir(), dir);
  doc::Document::waitForVersionFiles();
  EXPECT_TRUE(platform::fs::isFile(d.currentPath()));
  EXPECT_TRUE(platform::fs::isFile(dir + "/lock"));
}

}  // namespace
