// Bringing files into the real program under a virtual X server: the start
// screen's button with a forced dialog answer, drops (F9 with KORVELLE_DROP)
// of good and bad files, and a bad file named on the command line. The files
// themselves are never changed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "editor/editor_fixtures.h"
#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

// Every regular file below dir with its bytes, to prove nothing was written.
std::map<std::string, std::string> snapshot(const std::vector<std::string>& files) {
  std::map<std::string, std::string> out;
  for (const std::string& f : files) {
    struct stat st {};
    if (lstat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode)) out[f] = readFile(f);
  }
  return out;
}

// The inputs of one scenario: good media, a folder and every bad kind.
struct Inputs {
  TempDir dir;
  std::string image, video, folder, awkward;
  // path → a part of the message its drop must show
  std::vector<std::pair<std::string, std::string>> bad;

  Inputs() {
    image = editor_fixtures::writeSolid(dir.file("a photo.png"), 64, 48, {200, 100, 50});
    video = editor_fixtures::testClip(320, 180, 1);
    folder = dir.file("folder");
    mkdir(folder.c_str(), 0755);
    awkward = editor_fixtures::writeSolid(dir.file("-dash \"q\" 'x' \xff.png"), 32, 32, {1, 2, 3});
    for (const auto& [name, bytes, message] : {std::tuple{"empty.jpg", "", "JPG cannot be opened"},
                                               {"-empty video.mp4", "", "MP4 cannot be opened"},
                                               {"text.mp4", "just some words\n", "MP4 cannot be opened"}}) {
      writeFile(dir.file(name), bytes);
      bad.push_back({dir.file(name), message});
    }
    std::string jpeg = readFile(editor_fixtures::writeSolid(dir.file("whole.jpg"), 640, 480, {9, 9, 9},
                                                            media::OutFormat::Jpeg));
    writeFile(dir.file("cut.jpg"), jpeg.substr(0, jpeg.size() / 3));
    mkfifo(dir.file("pipe.jpg").c_str(), 0644);
    bad.push_back({dir.file("pipe.jpg"), "“pipe.jpg” cannot be read"});
    symlink(dir.file("nowhere.jpg").c_str(), dir.file("dangling.jpg").c_str());
    bad.push_back({dir.file("dangling.jpg"), "“dangling.jpg” cannot be read"});
    // Root reads any file whatever its mode; this sysctl is write-only even for root.
    bad.push_back({"/proc/sys/vm/drop_caches", "“drop_caches” cannot be read"});
    std::string weird = dir.file("gone \xff.jpg");
    symlink(dir.file("nowhere.jpg").c_str(), weird.c_str());
    bad.push_back({weird, "“gone \xEF\xBF\xBD.jpg” cannot be read"});
  }
  std::vector<std::string> all() const {
    std::vector<std::string> out = {image, video, awkward, dir.file("cut.jpg"), dir.file("whole.jpg")};
    for (const auto& b : bad) out.push_back(b.first);
    return out;
  }
};

// Starts a run that drops paths on F9 and returns once the drop was handled.
bool dropWithF9(AppProcess& app) {
  if (!app.waitForWidget("screen.start") || !app.waitForWindow()) return false;
  return app.key("F9") && app.waitForLog("als hereingezogen behandelt");
}

// Every scenario ends with the inputs as they were.
class OpenFlows : public E2ETest {
 protected:
  void TearDown() override { EXPECT_EQ(snapshot(in.all()), before); }

  Inputs in;
  const std::map<std::string, std::string> before = snapshot(in.all());
};

}  // namespace

TEST_F(OpenFlows, ChooseVideoWithOpenToOpensTheEditor) {
  ASSERT_FALSE(in.video.empty());
  AppProcess app(x, profile, {"--size", "1000x700"}, {{"KORVELLE_OPEN_TO", in.video}});
  ASSERT_TRUE(app.waitForWidget("start.video")) << app.err();
  ASSERT_TRUE(app.waitForWindow());
  ASSERT_TRUE(app.clickWidget("start.video"));
  EXPECT_TRUE(app.waitForWidget("screen.editor")) << app.err();
  EXPECT_TRUE(app.logHas("KORVELLE_OPEN_TO: " + in.video));
  EXPECT_TRUE(app.logHas("geoeffnet: " + in.video + " ok"));
  terminate(app);
}

TEST_F(OpenFlows, DroppedImageVideoAndAwkwardNameOpenAFolderIsSkipped) {
  for (const std::string& good : {in.image, in.video, in.awkward}) {
    E2EProfile own;
    AppProcess app(x, own, {"--size", "1000x700"}, {{"KORVELLE_DROP", good}});
    ASSERT_TRUE(dropWithF9(app)) << good << app.err();
    EXPECT_TRUE(app.waitForWidget("screen.editor")) << good;
    EXPECT_TRUE(app.logHas("hereingezogen geoeffnet: " + good + " ok")) << good;
    terminate(app);
  }
  AppProcess app(x, profile, {"--size", "1000x700"}, {{"KORVELLE_DROP", in.folder}});
  ASSERT_TRUE(dropWithF9(app)) << app.err();
  EXPECT_TRUE(app.waitForWidget("dialog.0"));
  EXPECT_TRUE(app.logHas("Meldung: 1 file(s) skipped"));
  EXPECT_TRUE(app.widget("screen.start").has_value());
  terminate(app);
}

TEST_F(OpenFlows, EveryBadDropShowsItsMessageAndTheStartScreenStays) {
  for (const auto& [path, message] : in.bad) {
    E2EProfile own;
    AppProcess app(x, own, {"--size", "1000x700"}, {{"KORVELLE_DROP", path}});
    ASSERT_TRUE(dropWithF9(app)) << path << app.err();
    EXPECT_TRUE(app.waitForWidget("dialog.0")) << path;
    EXPECT_TRUE(app.logHas("Meldung: ")) << path;
    EXPECT_TRUE(app.logHas(message)) << path << "\n" << app.log();
    EXPECT_TRUE(app.widget("screen.start").has_value()) << path;
    // The message closes and the window goes on answering.
    ASSERT_TRUE(app.clickWidget("dialog.0"));
    EXPECT_TRUE(app.waitForWidget("dialog.0", false)) << path;
    terminate(app);
  }
  // A cut JPEG either opens what it holds or says it cannot: never a hang.
  AppProcess app(x, profile, {"--size", "1000x700"}, {{"KORVELLE_DROP", in.dir.file("cut.jpg")}});
  ASSERT_TRUE(dropWithF9(app)) << app.err();
  EXPECT_TRUE(waitUntil([&] { return app.widget("screen.editor") || app.widget("dialog.0"); }));
  terminate(app);
}

TEST_F(OpenFlows, BadFileOnTheCommandLineKeepsTheStartScreenAndSaysWhy) {
  std::vector<std::pair<std::string, std::string>> cases = in.bad;
  cases.push_back({in.folder, "“folder” cannot be read"});
  for (const auto& [path, message] : cases) {
    E2EProfile own;
    AppProcess app(x, own, {"--size", "1000x700", path});
    ASSERT_TRUE(app.waitForWidget("screen.start")) << path << app.err();
    EXPECT_FALSE(app.widget("screen.editor").has_value());
    EXPECT_NE(app.err().find("[open] " + path + ": "), std::string::npos) << path << "\n" << app.err();
    EXPECT_NE(app.err().find(message), std::string::npos) << path << "\n" << app.err();
    terminate(app);
  }
}

TEST_F(OpenFlows, AwkwardNameOnTheCommandLineOpensABareDashIsNoFile) {
  {
    E2EProfile own;
    AppProcess app(x, own, {"--size", "1000x700", in.awkward});
    EXPECT_TRUE(app.waitForWidget("screen.editor")) << app.err();
    EXPECT_EQ(app.err().find("[open]"), std::string::npos) << app.err();
    terminate(app);
  }
  // An argument that starts with a dash is taken for an option and ignored.
  AppProcess app(x, profile, {"--size", "1000x700", "-photo.png"});
  EXPECT_TRUE(app.waitForWidget("screen.start")) << app.err();
  EXPECT_EQ(app.err().find("[open]"), std::string::npos) << app.err();
  terminate(app);
}
