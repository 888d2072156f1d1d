// Editing a video in the real program and exporting it to WebM and MP4. Every file that comes out
// is read back with ffprobe and ffmpeg: streams, size, length against the timeline's, flashes and
// beeps still in step, fades reaching black and silence. The sources stay as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/e2e_harness.h"
#include "support/media_clips.h"

using namespace testing_support;
using media_clips::FrameLuma;
using media_clips::lumaNear;

namespace {

// Rendering a few seconds; generous, since other work may share the machine.
constexpr double kRenderTimeout = 180.0;
// One frame of the 25 fps clips, and a little for the rounding of time stamps.
constexpr double kFrame = 0.04;
constexpr double kSlack = 0.005;
// The quarter round the centre: the picture even when a portrait clip stands between black bars.
constexpr const char* kCentre = "crop=iw/4:ih/4";

// Grey clips with a flash and a beep at k + 0.48 s and a hum: 1280 × 800 (enough for 720p), 720 × 1280.
std::string landscapeClip() { return media_clips::syncClip(5, 25, 48000, 1280, 800, true); }
std::string portraitClip() { return media_clips::syncClip(2, 25, 48000, 720, 1280, true); }

// Drives the editor of one run through keys and clicks, checking each step in the log.
class Driver {
 public:
  explicit Driver(AppProcess& app) : app_(app) {}

  std::string log() const { return app_.log(); }

  // Presses key until the log holds one more line with text (a new version's player is not ready at once).
  bool keyLogged(const std::string& key, const std::string& text) {
    const size_t before = app_.logCount(text);
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (!app_.key(key)) return false;
      if (app_.waitForLog(text, before + 1, 3)) return true;
    }
    return false;
  }

  // The playhead to t seconds (whole seconds plus frames of 40 ms).
  bool seek(int seconds, int frames, const std::string& shown) {
    if (!keyLogged("Home", "Taste: Anfang")) return false;
    for (int i = 0; i < seconds; ++i) {
      if (!keyLogged("shift+Right", "Taste: vor auf 0:0" + std::to_string(i + 1) + ".00")) return false;
    }
    for (int i = 1; i < frames; ++i) {
      if (!app_.key("period")) return false;
    }
    return frames == 0 || keyLogged("period", "Taste: Bild vor auf " + shown);
  }

  // The length as the timeline shows it (to 10 ms): End, then a step forward, which logs the time.
  double timelineSeconds() {
    if (!keyLogged("End", "Taste: Ende")) return -1;
    if (!keyLogged("Right", "Taste: vor auf ")) return -1;
    const std::string text = log();
    const size_t at = text.rfind("Taste: vor auf ");
    int minutes = 0;
    double seconds = 0;
    if (std::sscanf(text.c_str() + at + 15, "%d:%lf", &minutes, &seconds) != 2) return -1;
    return minutes * 60 + seconds;
  }

  // Waits until the n-th rendering (working copy or export) has finished.
  bool rendered(int n) {
    const size_t done = static_cast<size_t>(n);
    waitUntil([&] { return app_.logCount("fertig: /") >= done || app_.logHas("FEHLER"); }, kRenderTimeout);
    return app_.logCount("fertig: /") >= done;
  }

  // Clicks a widget and waits for a frame after it, so that the next click lands in a frame of its own.
  bool click(const std::string& id) {
    if (!app_.waitForWidget(id, true, 10) || !app_.clickWidget(id)) return false;
    app_.waitForNextFrame(2);
    return true;
  }

  // Opens the sheet of a tool unless widget already shows it is open.
  bool openSheet(const std::string& tool, const std::string& widget) {
    if (app_.widget(widget)) return true;
    return click(tool) && app_.waitForWidget(widget, true, 10);
  }

  // Places an effect of the given kind ("fadeIn", "fadeOut", "cross") at the playhead.
  bool placeEffect(const std::string& kind, const std::string& logText) {
    if (!openSheet("tool.effects.title", "effects.place")) return false;
    const size_t before = app_.logCount(logText);
    const size_t armed = app_.logCount("Effekt in der Hand");
    if (!click("effects." + kind) || !app_.waitForLog("Effekt in der Hand", armed + 1, 10)) return false;
    return click("effects.place") && app_.waitForLog(logText, before + 1, 10);
  }

  // Exports to container ("webm", "mp4"), the n-th rendering, and closes the message that follows.
  bool exportAs(const std::string& container, int n) {
    if (!openSheet("tool.editor.export", "export.go")) return false;
    // A chip already chosen logs nothing when clicked again.
    const size_t chosen = app_.logCount("Export-Format: ");
    if (!click("export.format." + container)) return false;
    app_.waitForLog("Export-Format: ", chosen + 1, 3);
    if (!click("export.go") || !rendered(n)) return false;
    return click("dialog.0") && app_.waitForWidget("dialog.0", false, 10);
  }

 private:
  AppProcess& app_;
};

// Expects as many times in got as in want, each within one frame of its counterpart.
void expectTimes(const std::vector<double>& got, const std::vector<double>& want, const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what << ": " << ::testing::PrintToString(got);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_NEAR(got[i], want[i], kFrame + kSlack) << what << " #" << i;
  }
}

// The beep onsets before the last 0.1 s (silencedetect also reports a file ending in silence).
std::vector<double> beepOnsets(const std::string& path, double seconds) {
  std::vector<double> out;
  for (double t : media_clips::soundOnsets(path)) {
    if (t < seconds - 0.1) out.push_back(t);
  }
  return out;
}

// Checks one exported file of the main scenario.
void checkExport(const std::string& path, const std::string& videoCodec, const std::string& audioCodec,
                 double timelineSeconds, const std::vector<double>& flashes) {
  SCOPED_TRACE(path);
  const media_clips::ProbeResult p = media_clips::probe(path);
  EXPECT_EQ(p.videoCodec, videoCodec);
  EXPECT_EQ(p.audioCodec, audioCodec);
  EXPECT_EQ(std::pair(p.width, p.height), std::pair(1152, 720));  // 1280 × 800 at 720 lines
  // The timeline shows the time cut to 10 ms.
  const double seconds = media_clips::videoSeconds(path);
  EXPECT_NEAR(seconds, timelineSeconds + 0.005, kFrame);
  EXPECT_NEAR(media_clips::audioSeconds(path), seconds, kFrame + 0.03);  // plus one audio frame at most
  // Picture and sound in step, and where the edits put them.
  expectTimes(media_clips::flashTimes(path, kCentre), flashes, "flashes");
  expectTimes(beepOnsets(path, seconds), flashes, "beeps");
  // The fade-in (0.02 s to its anchor at 0.52 s) starts from black and silence, the fade-out reaches
  // them at the end; in between the ground and the hum are back.
  const std::vector<FrameLuma> frames = media_clips::frameLuma(path, kCentre);
  ASSERT_FALSE(frames.empty());
  EXPECT_LT(lumaNear(frames, 0.04), 24) << "start of the fade-in";
  EXPECT_GT(lumaNear(frames, 0.56), 50) << "after the fade-in";
  EXPECT_LT(frames.back().luma, 24) << "last frame";
  EXPECT_GT(lumaNear(frames, 1.0), 50) << "the ground at 1 s";
  // Within one frame of the fade-in's start (the sound may lag the pictures by less than that).
  EXPECT_LT(std::min(media_clips::meanVolumeDb(path, 0.02, 0.05), media_clips::meanVolumeDb(path, 0.04, 0.07)), -50);
  EXPECT_LT(media_clips::meanVolumeDb(path, seconds - 0.04, seconds), -50);
  EXPECT_GT(media_clips::meanVolumeDb(path, 0.7, 1.3), -45);
}

// Skipped, besides the X tools, without the ffmpeg tools that read the results.
class VideoEditE2E : public E2ETest {
 protected:
  VideoEditE2E() : E2ETest({"ffmpeg", "ffprobe"}) {}
};

}  // namespace

// Keep, remove, append (fitted to the work), reorder, three effects, 720p, undo and redo, export.
TEST_F(VideoEditE2E, EditsUndoRedoAndExportsToBothFormats) {
  const std::string landscape = landscapeClip();
  const std::string portrait = portraitClip();
  ASSERT_FALSE(landscape.empty());
  ASSERT_FALSE(portrait.empty());
  const std::string landscapeBytes = readFile(landscape);
  const std::string portraitBytes = readFile(portrait);
  TempDir out;
  AppProcess app(x, profile, {"--size", "1280x720", landscape},
                 {{"KORVELLE_APPEND_TO", portrait}, {"KORVELLE_SAVE_TO", out.file("final")}});
  ASSERT_TRUE(started(app, "screen.editor"));
  Driver d(app);
  int renders = 0;

  // Keep 1 s to the end: 4 s with flashes at 0.48, 1.48, 2.48, 3.48.
  ASSERT_TRUE(d.seek(1, 0, ""));
  ASSERT_TRUE(d.keyLogged("i", "IN = 0:01.00"));
  ASSERT_TRUE(d.keyLogged("End", "Taste: Ende"));
  ASSERT_TRUE(d.keyLogged("o", "OUT = "));
  ASSERT_TRUE(d.openSheet("tool.editor.cut", "cut.remove"));
  ASSERT_TRUE(d.click("sheet.apply"));
  ASSERT_TRUE(d.rendered(++renders)) << d.log();
  EXPECT_NEAR(d.timelineSeconds(), 4.0, kFrame);

  // Remove 1.00–1.60 (the flash at 1.48 with it): 3.4 s, flashes at 0.48, 1.88, 2.88.
  ASSERT_TRUE(d.seek(1, 0, ""));
  ASSERT_TRUE(d.keyLogged("i", "IN = 0:01.00"));
  ASSERT_TRUE(d.seek(1, 15, "0:01.60"));
  ASSERT_TRUE(d.keyLogged("o", "OUT = 0:01.60"));
  ASSERT_TRUE(d.openSheet("tool.editor.cut", "cut.remove"));
  ASSERT_TRUE(d.click("cut.remove"));
  ASSERT_TRUE(d.rendered(++renders)) << d.log();
  EXPECT_NEAR(d.timelineSeconds(), 3.4, kFrame);

  // Append the portrait clip; the format question is answered with the work's size.
  ASSERT_TRUE(d.click("tool.editor.append"));
  ASSERT_TRUE(app.waitForLog("Formate unterschiedlich", 1, 10)) << d.log();
  ASSERT_TRUE(d.click("dialog.0"));
  EXPECT_TRUE(app.waitForLog("an das aktuelle anpassen", 1, 10));
  ASSERT_TRUE(d.rendered(++renders)) << d.log();
  EXPECT_NEAR(d.timelineSeconds(), 5.4, kFrame);
  // The removed range left a seam: 1.00–2.00 and 2.60–5.00 of the landscape source, then the portrait.
  ASSERT_TRUE(app.waitForWidget("clip.2")) << "three clips on the timeline";

  // The portrait clip first: dragged onto the start of the first.
  const auto first = app.widget("clip.0");
  ASSERT_TRUE(first);
  ASSERT_TRUE(app.dragWidget("clip.2", first->x + 4, first->y + first->h / 2));
  ASSERT_TRUE(app.waitForLog("Clip 3 → Platz 1", 1, 10)) << d.log();
  ASSERT_TRUE(d.rendered(++renders)) << d.log();
  EXPECT_NEAR(d.timelineSeconds(), 5.4, kFrame);

  // A fade-in ending at 0.52 s, a cross fade at the seam (2 s), a fade-out at the end.
  ASSERT_TRUE(d.seek(0, 13, "0:00.52"));
  ASSERT_TRUE(d.placeEffect("fadeIn", "Einblenden bei 0:00.52")) << d.log();
  ASSERT_TRUE(d.seek(2, 0, ""));
  ASSERT_TRUE(d.placeEffect("cross", "Ueberblenden bei 0:02.00")) << d.log();
  ASSERT_TRUE(d.keyLogged("End", "Taste: Ende"));
  ASSERT_TRUE(d.placeEffect("fadeOut", "Ausblenden bei ")) << d.log();
  ASSERT_TRUE(app.waitForWidget("effect.2"));

  // 720 lines: 1152 × 720. Working copies carry the effects over, unrendered.
  ASSERT_TRUE(d.openSheet("tool.editor.size", "resize.chip.720"));
  ASSERT_TRUE(d.click("resize.chip.720"));
  ASSERT_TRUE(app.waitForLog("Groesse: 720p", 1, 10));
  ASSERT_TRUE(d.click("sheet.apply"));
  ASSERT_TRUE(d.rendered(++renders)) << d.log();
  ASSERT_TRUE(app.waitForWidget("effect.2"));

  // Undo back past the append: the effects go, then the third clip; redo brings all back.
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(d.keyLogged("ctrl+z", "Taste: Strg+Z"));  // size, 3 effects
  EXPECT_TRUE(app.waitForWidget("effect.0", false)) << d.log();
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(d.keyLogged("ctrl+z", "Taste: Strg+Z"));  // order, append
  EXPECT_TRUE(app.waitForWidget("clip.2", false)) << d.log();
  EXPECT_TRUE(app.widget("clip.1")) << "the seam of the removed range stays";
  EXPECT_NEAR(d.timelineSeconds(), 3.4, kFrame);
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(d.keyLogged("ctrl+y", "Taste: Strg+Y"));
  EXPECT_TRUE(app.waitForWidget("effect.2")) << d.log();
  EXPECT_TRUE(app.waitForWidget("clip.2"));
  EXPECT_NEAR(d.timelineSeconds(), 5.4, kFrame);

  // The cross fade overlaps the clips by 0.5 s: 4.9 s, flashes of the portrait clip at 0.48, 1.48, then
  // the work's at 1.98 (in the cross fade), 3.38, 4.38.
  const std::vector<double> flashes{0.48, 1.48, 1.98, 3.38, 4.38};
  ASSERT_TRUE(d.exportAs("webm", ++renders)) << d.log();
  const double webmTimeline = d.timelineSeconds();
  EXPECT_NEAR(webmTimeline, 4.9, kFrame);
  ASSERT_TRUE(d.exportAs("mp4", ++renders)) << d.log();
  const double mp4Timeline = d.timelineSeconds();
  checkExport(out.file("final.webm"), "vp9", "opus", webmTimeline, flashes);
  checkExport(out.file("final.mp4"), "h264", "aac", mp4Timeline, flashes);
  if (HasFailure()) std::fprintf(stderr, "%s", d.log().c_str());

  terminate(app);
  EXPECT_TRUE(readFile(landscape) == landscapeBytes) << "the landscape source changed";
  EXPECT_TRUE(readFile(portrait) == portraitBytes) << "the portrait source changed";
}
