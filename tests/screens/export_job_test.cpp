// The export job: versions with the timeline carried over, the user's export, cancelling, refusals.
// test-labels: threads
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/i18n.h"
#include "media/video.h"
#include "platform/fs.h"
#include "screens/flows.h"
#include "screens/screen_fixtures.h"

using namespace screen_fixtures;
using media::Fade;
using media::Segment;

namespace {

class ExportJob : public HarnessTest {
 protected:
  void SetUp() override {
    HarnessTest::SetUp();
    std::string err;
    ASSERT_TRUE(document().openVideo(toneClip(160, 120, 3), &err)) << err;
  }
  TempDir out_;  // the export targets
};

// The picture track's sample entry: "avc3" marks a smart cut, a full render writes "avc1" or VP9.
std::string videoTag(const std::string& path) {
  return testing_support::runShell("ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string "
                                   "-of csv=p=0 '" + path + "'").out;
}

}  // namespace

TEST(SplitAtCrossFades, EachCrossFadeLandsOnASeam) {
  const std::vector<Fade> effects{{Fade::Cross, 3000, 500}, {Fade::In, 1000, 500}, {Fade::Cross, 1500, 0},
                                  {Fade::Cross, 7000, 400}};
  // One piece of the work file: cut at 3000 only (a fade in or a 0 ms cross fade cut nothing).
  auto got = ui::splitAtCrossFades({{"", 0, 5000}}, effects);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_DOUBLE_EQ(got[0].outMs, 3000);
  EXPECT_DOUBLE_EQ(got[1].inMs, 3000);
  EXPECT_DOUBLE_EQ(got[1].outMs, 5000);

  // Pieces of other files: the anchor is on the timeline they make.
  got = ui::splitAtCrossFades({{"a", 1000, 3000}, {"b", 500, 6000}}, effects);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1].path, "b");
  EXPECT_DOUBLE_EQ(got[1].inMs, 500);
  EXPECT_DOUBLE_EQ(got[1].outMs, 1500);  // timeline 3000 is 1000 ms into b
  EXPECT_DOUBLE_EQ(got[2].outMs, 5500);  // timeline 7000
  EXPECT_DOUBLE_EQ(got[3].outMs, 6000);

  // An anchor on a seam or within 1 ms of it cuts nothing.
  got = ui::splitAtCrossFades({{"", 0, 3000}, {"", 3000, 5000}}, {{Fade::Cross, 3000.5, 500}});
  EXPECT_EQ(got.size(), 2u);
}

TEST_F(ExportJob, RemovedRangeBecomesTheNextVersionWithTheTimelineCarriedOver) {
  ui::EditorState& st = state();
  st.clipBounds = {2500};
  st.effects = {{Fade::In, 500, 500}, {Fade::Out, 1500, 400}, {Fade::Out, 3000, 300}};
  st.markInMs = 1000;
  st.markOutMs = 2000;
  st.sheet = ui::Sheet::Cut;
  sheetFrame(h_);
  ASSERT_TRUE(clickSheet(h_, "cut.remove"));
  ASSERT_TRUE(ui::exportRunning());
  EXPECT_TRUE(ui::busy().active);
  EXPECT_EQ(ui::busy().label, i18n::tr("busy.cutting"));
  // A second edit is refused while the first renders.
  EXPECT_FALSE(ui::applyVideoToWork({{"", 0, 1000}}, 0, 0, "x", "y"));
  h_.frame([](ui::Ctx& c) { ui::pumpExport(c); });
  ASSERT_TRUE(runJobToEnd(h_));
  EXPECT_FALSE(ui::busy().active);
  EXPECT_FALSE(ui::dialogOpen());

  doc::Document& d = document();
  ASSERT_EQ(d.current, 1);
  EXPECT_EQ(d.versions[1].label, i18n::tr("editor.cut"));
  EXPECT_NE(d.currentPath().find("/schnitt_001"), std::string::npos);
  EXPECT_NEAR(d.videoInfo.durationMs, 2000, 120);
  EXPECT_EQ(videoTag(d.currentPath()), "avc3\n") << "copied, not rendered";
  // The seam of the cut at 1000 and the old boundary 2500 → 1500.
  EXPECT_EQ(st.clipBounds, (std::vector<double>{1000, 1500}));
  // The effect anchored in the removed range is gone, the others moved.
  ASSERT_EQ(st.effects.size(), 2u);
  EXPECT_DOUBLE_EQ(st.effects[0].atMs, 500);
  EXPECT_DOUBLE_EQ(st.effects[1].atMs, 2000);
  EXPECT_FALSE(st.pendingApply);
  EXPECT_EQ(st.markInMs, -1);
}

TEST_F(ExportJob, CancelLeavesNoFileAndNoVersion) {
  const std::string target = out_.file("cancelled.webm");
  settings::mutableData().videoEncoder = "libvpx-vp9";
  ui::startVideoExport(target, {}, 0, 0);
  ASSERT_TRUE(ui::exportRunning());
  ui::busy().cancelRequested = true;  // the overlay's cancel button
  ASSERT_TRUE(runJobToEnd(h_));
  EXPECT_FALSE(ui::busy().active);
  EXPECT_FALSE(ui::dialogOpen()) << "cancelling is silent";
  EXPECT_EQ(document().current, 0);
  EXPECT_TRUE(platform::fs::listDir(out_.path()).empty());
}

TEST_F(ExportJob, PlainMp4ExportIsCopiedNotRendered) {
  ui::startVideoExport(out_.file("plain.mp4"), {}, 0, 0);
  ASSERT_TRUE(runJobToEnd(h_));
  ASSERT_EQ(document().current, 1);
  EXPECT_EQ(videoTag(out_.file("plain.mp4")), "avc3\n");
  EXPECT_NEAR(document().videoInfo.durationMs, 3000, 120);
}

TEST_F(ExportJob, SkippedFilesAreReportedAfterTheAppendRenders) {
  state().appendSkipped = 2;
  ASSERT_TRUE(ui::applyVideoToWork({{"", 0, 1000}, {"", 0, 500}}, 0, 0, "append", "busy"));
  ASSERT_TRUE(runJobToEnd(h_));
  EXPECT_EQ(document().current, 1);
  EXPECT_TRUE(ui::dialogOpen());
  EXPECT_EQ(state().appendSkipped, 0);
  EXPECT_EQ(state().clipBounds, std::vector<double>{1000});
}

TEST_F(ExportJob, RefusedWhileADialogRunsAndForNothing) {
  const int cuts = state().cutCounter;  // earlier cases in the same process have numbered theirs
  state().dialogPurpose = ui::DialogPurpose::OpenVideo;
  EXPECT_FALSE(ui::applyVideoToWork({{"", 0, 1000}}, 0, 0, "x", "y"));
  EXPECT_FALSE(ui::dialogOpen());
  state().dialogPurpose = ui::DialogPurpose::None;
  EXPECT_FALSE(ui::applyVideoToWork({}, 0, 0, "x", "y"));
  EXPECT_TRUE(ui::dialogOpen()) << "nothing left";
  EXPECT_FALSE(ui::exportRunning());
  EXPECT_EQ(state().cutCounter, cuts);
}

TEST_F(ExportJob, FailureShowsTheErrorDialogAndNoVersion) {
  // A target whose extension does not fit the encoder.
  settings::mutableData().videoEncoder = "libvpx-vp9";
  ui::startVideoExport(out_.file("wrong.mp4"), {}, 0, 0);
  ASSERT_TRUE(runJobToEnd(h_));
  EXPECT_TRUE(ui::dialogOpen());
  EXPECT_EQ(document().current, 0);

  // Stopping at program end joins a running job.
  closeDialog(&h_);
  ui::startVideoExport(out_.file("stopped.webm"), {}, 0, 0);
  ui::stopExportJob();
  EXPECT_FALSE(ui::exportRunning());
  EXPECT_TRUE(platform::fs::listDir(out_.path()).empty());
}

// A reorder's order becomes the clip list; one refused while another renders leaves that list alone.
TEST_F(ExportJob, ReorderedClipsBecomeTheClipList) {
  ui::EditorState& st = state();
  const std::string a = document().currentPath();
  const std::string b = toneClip(160, 120, 2);
  st.clips = {{a, 0, 3000}, {b, 0, 2000}};
  st.clipBounds = {3000};
  ui::reorderClips({{b, 0, 2000}, {a, 0, 3000}});
  ASSERT_TRUE(ui::exportRunning());
  const std::vector<Segment> pending = st.pendingClips;
  ui::reorderClips({{a, 0, 3000}, {b, 0, 2000}});  // refused: the first still renders
  ASSERT_EQ(st.pendingClips.size(), pending.size());
  EXPECT_EQ(st.pendingClips.front().path, b);
  ASSERT_TRUE(runJobToEnd(h_));
  ASSERT_EQ(document().current, 1);
  ASSERT_EQ(st.clips.size(), 2u);
  EXPECT_EQ(st.clips[0].path, b);
  EXPECT_EQ(st.clips[1].path, a);
  EXPECT_DOUBLE_EQ(st.clips[1].outMs, 3000);
  EXPECT_NEAR(document().videoInfo.durationMs, 5000, 120);
}

// A user export becomes a version; its clips are pieces of the exported file, which holds the effects.
TEST_F(ExportJob, UserExportBecomesAVersionWhoseClipsArePiecesOfTheExportedFile) {
  const std::string target = out_.file("mine.webm");
  ui::EditorState& st = state();
  const std::string src = document().currentPath();
  st.clips = {{src, 0, 1500}, {src, 1500, 3000}};
  st.clipBounds = {1500};
  st.effects = {{Fade::Cross, 1500, 300}, {Fade::Out, 3000, 500}};
  settings::mutableData().videoEncoder = "libvpx-vp9";
  ui::startVideoExport(target, st.clips, 0, 0);
  ASSERT_TRUE(runJobToEnd(h_));
  ASSERT_TRUE(platform::fs::isFile(target));
  ASSERT_EQ(document().current, 1);
  EXPECT_EQ(document().currentPath(), target);
  EXPECT_EQ(document().versions[1].label, i18n::tr("editor.export"));
  EXPECT_TRUE(ui::dialogOpen()) << "saved";
  // The cross fade overlapped the two halves by 300 ms.
  const double length = document().videoInfo.durationMs;
  EXPECT_NEAR(length, 2700, 120);
  EXPECT_TRUE(st.effects.empty()) << "the effects are in the pictures now";
  EXPECT_EQ(st.clipBounds, std::vector<double>{1200});
  ASSERT_EQ(st.clips.size(), 2u);
  EXPECT_EQ(st.clips[0].path, target);
  EXPECT_DOUBLE_EQ(st.clips[0].inMs, 0);
  EXPECT_DOUBLE_EQ(st.clips[0].outMs, 1200);
  EXPECT_EQ(st.clips[1].path, target);
  EXPECT_DOUBLE_EQ(st.clips[1].inMs, 1200);
  EXPECT_DOUBLE_EQ(st.clips[1].outMs, length);
}
