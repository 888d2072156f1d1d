// Bringing files into the real program: drops (XDND, and F9 with KORVELLE_DROP) of good and bad files,
// a bad file on the command line, the start screen's button. The files are never changed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "editor/editor_fixtures.h"
#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

// Every regular file among files with its bytes, to prove nothing was written.
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
  std::string image = editor_fixtures::writeSolid(dir.file("My Photo \xC3\xA4.png"), 64, 48, {200, 100, 50});
  std::string video = editor_fixtures::testClip(320, 180, 1);
  std::string awkward = editor_fixtures::writeSolid(dir.file("-dash \"q\" 'x' \xff.png"), 32, 32, {1, 2, 3});
  std::string folder = dir.file("folder");
  std::vector<std::string> bad;

  Inputs() {
    mkdir(folder.c_str(), 0755);
    for (const auto& [name, bytes] : {std::pair{"empty.jpg", ""}, {"-empty video.mp4", ""}, {"text.mp4", "words\n"}}) {
      writeFile(dir.file(name), bytes);
      bad.push_back(dir.file(name));
    }
    mkfifo(dir.file("pipe.jpg").c_str(), 0644);
    symlink(dir.file("nowhere.jpg").c_str(), dir.file("dangling.jpg").c_str());
    symlink(dir.file("nowhere.jpg").c_str(), dir.file("gone \xff.jpg").c_str());
    // Root reads any file whatever its mode; this sysctl is write-only even for root.
    bad.insert(bad.end(), {dir.file("pipe.jpg"), dir.file("dangling.jpg"), dir.file("gone \xff.jpg"),
                           "/proc/sys/vm/drop_caches"});
  }
  std::vector<std::string> all() const {
    std::vector<std::string> out = {image, video, awkward};
    out.insert(out.end(), bad.begin(), bad.end());
    return out;
  }
};

// Every scenario ends with the inputs as they were.
class OpenFlows : public E2ETest {
 protected:
  void TearDown() override { EXPECT_EQ(snapshot(in.all()), before); }

  Inputs in;
  const std::map<std::string, std::string> before = snapshot(in.all());
};

}  // namespace

// A file manager's URI (escapes, CR LF) opens its plain path. Then, of a folder, every bad kind and an
// awkward name, the folder is left out, each bad one is refused and counted, and the good one opens.
TEST_F(OpenFlows, DropsOpenTheGoodFileAndCountTheBadOnes) {
  std::string list = in.folder;
  for (const std::string& path : in.bad) list += ":" + path;
  list += ":" + in.awkward;
  AppProcess app(x, profile, {"--size", "1000x700"}, {{"KORVELLE_DROP", list}});
  ASSERT_TRUE(started(app));
  const std::string uri = "file://" + in.dir.path() + "/My%20Photo%20%C3%A4.png\r\n";
  ASSERT_TRUE(app.dropUris(uri, 200, 200));
  EXPECT_TRUE(app.waitForLog("hereingezogen geoeffnet: " + in.image + " ok")) << app.log();
  EXPECT_TRUE(app.waitForWidget("screen.editor"));

  ASSERT_TRUE(app.key("F9"));
  EXPECT_TRUE(app.waitForLog("hereingezogen geoeffnet: " + in.awkward + " ok")) << app.log();
  EXPECT_TRUE(app.logHas("hereingezogen uebersprungen (Ordner): " + in.folder));
  for (const std::string& path : in.bad) {
    EXPECT_TRUE(app.logHas("hereingezogen geoeffnet: " + path + " FEHLER")) << path;
  }
  EXPECT_TRUE(app.logHas("Meldung: " + std::to_string(in.bad.size()) + " file(s) skipped")) << app.log();
  // The message closes and the window goes on answering.
  ASSERT_TRUE(app.waitForWidget("dialog.0"));
  ASSERT_TRUE(app.clickWidget("dialog.0"));
  EXPECT_TRUE(app.waitForWidget("dialog.0", false));
  EXPECT_TRUE(app.widget("screen.editor").has_value());
  terminate(app);
}

// A pipe named on the command line (a leading dash marks an ignored option) keeps the start screen and
// says why on the error output; its button then opens the video the dialog answers with.
TEST_F(OpenFlows, BadCommandLineFileKeepsTheStartScreenWhoseButtonOpensAVideo) {
  ASSERT_FALSE(in.video.empty());
  const std::string pipe = in.dir.file("pipe.jpg");
  AppProcess app(x, profile, {"--size", "1000x700", "-photo.png", pipe}, {{"KORVELLE_OPEN_TO", in.video}});
  ASSERT_TRUE(started(app, "start.video"));
  EXPECT_NE(app.err().find("[open] " + pipe + ": "), std::string::npos) << app.err();
  EXPECT_NE(app.err().find("“pipe.jpg” cannot be read"), std::string::npos) << app.err();
  EXPECT_EQ(app.err().find("-photo.png"), std::string::npos) << app.err();

  ASSERT_TRUE(app.clickWidget("start.video"));
  EXPECT_TRUE(app.waitForWidget("screen.editor")) << app.err();
  EXPECT_TRUE(app.logHas("KORVELLE_OPEN_TO: " + in.video));
  EXPECT_TRUE(app.logHas("geoeffnet: " + in.video + " ok"));
  terminate(app);
}
