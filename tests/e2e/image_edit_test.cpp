// Editing a picture in the real program as a user does: a turned phone photo is saved unedited as an
// exact copy, then rotated, cropped, adjusted, resized and fitted; steps are undone and redone; the
// result is saved as JPEG and PNG, upright, signed and of the size shown. The source stays untouched.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

// A 480 × 640 picture, red above blue, stored turned left (640 × 480) with EXIF orientation 6.
std::string turnedPhoto(const TempDir& dir) {
  const std::string out = dir.file("turned.jpg");
  const RunResult made = runShell("convert -size 480x320 xc:red -size 480x320 xc:blue -append -rotate -90 -quality 92 '" +
                                  out + "' && exiftool -q -overwrite_original -n -Orientation=6 '" + out + "'");
  return made.exitCode == 0 ? out : "";
}

struct Size {
  int w = 0, h = 0;
};

Size pictureSize(const std::string& path) {
  Size s;
  const RunResult r = runProcess({"identify", "-format", "%w %h", path});
  if (std::sscanf(r.out.c_str(), "%d %d", &s.w, &s.h) != 2) return {};
  return s;
}

// The mean colour of the upper and of the lower half, as "r,g,b r,g,b".
std::vector<int> halfMeans(const std::string& path) {
  const RunResult r = runProcess({"convert", path, "-resize", "1x2!", "-depth", "8", "-format",
                                  "%[fx:int(255*p{0,0}.r)] %[fx:int(255*p{0,0}.b)] %[fx:int(255*p{0,1}.r)] "
                                  "%[fx:int(255*p{0,1}.b)]",
                                  "info:"});
  std::vector<int> v(4, -1);
  if (std::sscanf(r.out.c_str(), "%d %d %d %d", &v[0], &v[1], &v[2], &v[3]) != 4) return {};
  return v;
}

std::string exifTag(const std::string& path, const std::string& tag) {
  std::string out = runProcess({"exiftool", "-s3", "-n", "-" + tag, path}).out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// The size logged by the last "Neuer Stand" line.
Size lastVersionSize(const std::string& log) {
  const size_t at = log.rfind("Neuer Stand ");
  Size s;
  if (at == std::string::npos) return s;
  const size_t comma = log.find(", ", log.find(": ", at));
  if (comma == std::string::npos || std::sscanf(log.c_str() + comma + 2, "%d x %d", &s.w, &s.h) != 2) return {};
  return s;
}

// Drives one running program through the edits.
class Session {
 public:
  explicit Session(AppProcess& app) : app_(app) {}

  std::string log() const { return app_.log(); }

  // Clicks at a fraction of a widget's width, on its middle line.
  bool clickAcross(const std::string& id, double fraction) {
    const auto r = app_.widget(id);
    return r && app_.clickAt(r->x + r->w * fraction, r->y + r->h / 2);
  }

  // Lets the program draw a frame or two between pointer events.
  static void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(120)); }

  // Clicks a widget and waits for the log line the click writes.
  bool choose(const std::string& id, const std::string& logged) {
    const size_t before = app_.logCount(logged);
    return app_.waitForWidget(id) && app_.clickWidget(id) && app_.waitForLog(logged, before + 1, 10);
  }

  bool openTool(const std::string& tool, const std::string& sheet) {
    return app_.clickWidget("tool.editor." + tool) && app_.waitForWidget(sheet);
  }

  // Clicks apply and waits for the new version; its size (0 × 0 on failure).
  Size apply() {
    const size_t before = app_.logCount("Neuer Stand ");
    const bool applied = app_.waitForWidget("sheet.apply") && app_.clickWidget("sheet.apply") &&
                         app_.waitForLog("Neuer Stand ", before + 1);
    return applied ? lastVersionSize(log()) : Size{};
  }

  bool key(const std::string& name, const std::string& logged, size_t times) {
    return app_.key(name) && app_.waitForLog(logged, times);
  }

  // Saves in the format of chip `formatChip`; waits for the file and closes the report.
  bool save(const std::string& formatChip, const std::string& expectTarget) {
    if (!app_.widget("sheet.export") && !openTool("save", "sheet.export")) return false;
    // A click on the chip already chosen writes nothing to the log: no wait for it.
    if (!app_.waitForWidget(formatChip) || !app_.clickWidget(formatChip)) return false;
    pause();
    if (!app_.clickWidget("export.go")) return false;
    return app_.waitForLog("geschrieben: " + expectTarget) && app_.waitForWidget("dialog.0") &&
           app_.clickWidget("dialog.0") && app_.waitForWidget("dialog.0", false);
  }

 private:
  AppProcess& app_;
};

// The whole round, then the result saved as JPEG and PNG and checked: size shown, signature, no turn.
std::vector<std::string> editAndSave(Session& s, AppProcess& app, const TempDir& dir) {
  // Rotate by about 12.5° (a click on the slider) and apply.
  EXPECT_TRUE(s.openTool("transform", "slider.angle"));
  EXPECT_TRUE(s.clickAcross("slider.angle", (180 + 12.5) / 360));
  const Size rotated = s.apply();
  EXPECT_GT(rotated.w, 0) << s.log();
  const size_t angleAt = s.log().rfind("Drehen anwenden: ");
  EXPECT_NEAR(angleAt == std::string::npos ? 0 : std::stod(s.log().substr(angleAt + 17, 8)), 12.5, 2.0);

  // Crop: the first corner dragged inwards.
  EXPECT_TRUE(s.openTool("crop", "crop.handle.1"));
  const auto handle = app.widget("crop.handle.1");
  EXPECT_TRUE(handle &&
              app.dragWidget("crop.handle.1", handle->x + handle->w / 2 + 40, handle->y + handle->h / 2 + 30));
  EXPECT_TRUE(app.waitForLog("Zuschnitt gezogen")) << s.log();
  const Size cropped = s.apply();
  EXPECT_GT(cropped.w, 0);
  EXPECT_LT(cropped.w, rotated.w);
  EXPECT_LT(cropped.h, rotated.h);

  // Adjust: brightness and contrast up.
  EXPECT_TRUE(s.openTool("adjust", "slider.brightness"));
  EXPECT_TRUE(s.clickAcross("slider.brightness", 0.7));
  EXPECT_TRUE(s.clickAcross("slider.contrast", 0.6));
  const Size adjusted = s.apply();
  EXPECT_EQ(std::pair(adjusted.w, adjusted.h), std::pair(cropped.w, cropped.h));
  EXPECT_TRUE(s.key("Escape", "Taste: Escape", 1));

  // Resize: 1080 on the long edge where the picture is larger, else half.
  EXPECT_TRUE(s.openTool("size", "resize.halfChip"));
  const bool large = app.widget("resize.chip.1080").has_value();
  EXPECT_TRUE(app.clickWidget(large ? "resize.chip.1080" : "resize.halfChip"));
  const Size resized = s.apply();
  const int longEdge = std::max(resized.w, resized.h);
  EXPECT_EQ(longEdge, large ? 1080 : std::max(cropped.w, cropped.h) / 2);
  EXPECT_NEAR(static_cast<double>(resized.w) / resized.h, static_cast<double>(cropped.w) / cropped.h, 0.01);

  // Instagram portrait with a blurred border.
  EXPECT_TRUE(s.openTool("format", "format.preset"));
  EXPECT_TRUE(app.clickWidget("format.preset"));
  EXPECT_TRUE(s.choose("format.preset.1", "(4:5)")) << s.log();
  EXPECT_TRUE(s.choose("format.fit.contain", "Anpassung: "));
  EXPECT_TRUE(s.choose("format.pad.blur", "Rand: "));
  const Size fitted = s.apply();
  EXPECT_EQ(std::pair(fitted.w, fitted.h), std::pair(1080, 1350));

  // Undo the fit and the resize, redo the resize; each step lands (the busy overlay takes no keys) first.
  EXPECT_TRUE(s.key("ctrl+z", "Rueckgaengig: Stand", 1));
  EXPECT_TRUE(s.key("ctrl+z", "Rueckgaengig: Stand", 2));
  EXPECT_TRUE(s.key("ctrl+y", "Wiederholt: Stand", 1));
  // The picture on the stage has the resized proportions again.
  EXPECT_TRUE(waitUntil([&] {
    Session::pause();
    const auto pic = app.widget("editor.picture");
    return pic && std::abs(pic->w / pic->h - static_cast<double>(resized.w) / resized.h) < 0.02;
  }));
  EXPECT_GT(resized.w, 0);
  EXPECT_LT(resized.w, resized.h) << "upright: portrait";

  const std::vector<std::string> outs = {dir.file("out.jpg"), dir.file("out.png")};
  EXPECT_TRUE(s.save("export.imgfmt.1", outs[0])) << s.log();
  EXPECT_TRUE(s.save("export.imgfmt.2", outs[1])) << s.log();
  for (const std::string& out : outs) {
    const Size saved = pictureSize(out);
    EXPECT_EQ(std::pair(saved.w, saved.h), std::pair(resized.w, resized.h)) << out;
    EXPECT_NE(exifTag(out, "Software").find("Pelmora Media Editor"), std::string::npos) << out;
    // Orientation absent or 1: the pixels stand as they are shown.
    const std::string o = exifTag(out, "Orientation");
    EXPECT_TRUE(o.empty() || o == "1") << out << ": orientation " << o;
  }
  return outs;
}

}  // namespace

class ImageEditE2E : public E2ETest {
 protected:
  ImageEditE2E() : E2ETest({"convert", "identify", "exiftool"}) {}
};

TEST_F(ImageEditE2E, ATurnedPhotoIsCopiedExactlyThenEditedUndoneRedoneAndSavedUpright) {
  TempDir dir;
  const std::string photo = turnedPhoto(dir);
  ASSERT_FALSE(photo.empty());
  const std::string before = readFile(photo);
  AppProcess app(x, profile, {"--size", "1280x800", photo}, {{"KORVELLE_SAVE_TO", dir.file("out")}});
  ASSERT_TRUE(started(app, "editor.picture"));
  // The stored 640 × 480 turned by its EXIF orientation.
  const ui::Rect pic = app.widget("editor.picture").value_or(ui::Rect{});
  EXPECT_NEAR(pic.w / pic.h, 480.0 / 640.0, 0.02);
  Session s(app);
  ASSERT_TRUE(s.save("export.imgfmt.0", dir.file("out.jpg"))) << s.log();
  EXPECT_TRUE(readFile(dir.file("out.jpg")) == before);

  for (const std::string& out : editAndSave(s, app, dir)) {
    const std::vector<int> m = halfMeans(out);
    ASSERT_EQ(m.size(), 4u) << out;
    EXPECT_GT(m[0], m[1] + 60) << out;
    EXPECT_GT(m[3], m[2] + 60) << out;
  }
  EXPECT_TRUE(readFile(photo) == before) << "the source changed";
  terminate(app);
}
