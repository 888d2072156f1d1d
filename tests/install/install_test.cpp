// `cmake --install` into a temporary prefix gives a tree that works on its own: the installed program
// finds its fonts and pictures there and opens a file named on its command line.
#include <gtest/gtest.h>

#include <string>

#include "editor/editor_fixtures.h"
#include "media/image_io.h"
#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

// Width and height of a PNG file; 0 × 0 when it is none.
std::pair<int, int> pngSize(const std::string& path) {
  media::ImageInfo info;
  if (!media::probeImage(path, &info, nullptr) || info.format != "PNG") return {0, 0};
  return {info.width, info.height};
}

}  // namespace

TEST(Install, PrefixHoldsEverythingAndItsProgramUsesItsOwnAssetsAndOpensTheImageItIsGiven) {
  TempDir prefix;
  const RunResult made = runProcess({KORVELLE_CMAKE, "--install", KORVELLE_BINARY_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(made.exitCode, 0) << made.out << made.err;
  const std::string share = prefix.path() + "/share";
  for (const char* rel :
       {"/bin/korvelle", "/share/Korvelle/assets/fonts/DejaVuSans.ttf", "/share/Korvelle/assets/fonts/KorvelleCJK.ttf",
        "/share/Korvelle/assets/fonts/KorvelleArab.ttf", "/share/Korvelle/assets/icon/icon_512.png",
        "/share/applications/software.pelmora.Korvelle.desktop",
        "/share/metainfo/software.pelmora.Korvelle.metainfo.xml",
        "/share/mime/packages/software.pelmora.Korvelle.xml", "/share/man/man1/korvelle.1.gz",
        "/share/doc/korvelle/copyright", "/share/doc/korvelle/changelog.gz"}) {
    EXPECT_FALSE(readFile(prefix.path() + rel).empty()) << rel;
  }
  // The mark at every size the desktop asks for, each drawn at that size.
  for (int size : {48, 64, 128, 256, 512}) {
    const std::string dim = std::to_string(size) + "x" + std::to_string(size);
    EXPECT_EQ(pngSize(share + "/icons/hicolor/" + dim + "/apps/software.pelmora.Korvelle.png"),
              std::make_pair(size, size))
        << dim;
  }
  // The copyright file names every font shipped.
  const std::string copyright = readFile(share + "/doc/korvelle/copyright");
  for (const char* font : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "KorvelleCJK.ttf", "KorvelleArab.ttf",
                                  "KorvelleBeng.ttf", "KorvelleDeva.ttf", "KorvelleThai.ttf"}) {
    EXPECT_NE(copyright.find(std::string("assets/fonts/") + font), std::string::npos) << font;
  }

  if (!haveTool("Xvfb") || !haveTool("xdotool")) GTEST_SKIP() << "Xvfb or xdotool missing";
  VirtualDisplay x;
  ASSERT_TRUE(x.ok());
  E2EProfile profile;
  const std::string image = editor_fixtures::writeSolid(profile.root() + "/Blue Sky.png", 320, 200, {40, 90, 200});
  ASSERT_FALSE(image.empty());
  // Variables that would point the lookup elsewhere are cleared.
  AppProcess app(x, profile, {"--size", "1000x700", image}, {{"SNAP", ""}, {"APPDIR", ""}},
                 prefix.path() + "/bin/korvelle");
  ASSERT_TRUE(app.waitForWidget("screen.editor")) << app.err() << app.log();
  EXPECT_TRUE(app.logHas("Beigaben: " + prefix.path() + "/bin/../share/Korvelle\n")) << app.log();
  EXPECT_EQ(app.err().find("[fonts]"), std::string::npos) << app.err();
  EXPECT_EQ(app.err().find("[open]"), std::string::npos) << app.err();
  // The desktop ties the window to its entry through StartupWMClass.
  ASSERT_TRUE(app.waitForWindow());
  RunResult wmClass = runProcess({"env", "DISPLAY=" + x.name(), "xprop", "-id", app.windowId(), "WM_CLASS"});
  const std::string entry = readFile(share + "/applications/software.pelmora.Korvelle.desktop");
  const size_t key = entry.find("\nStartupWMClass=");
  ASSERT_NE(key, std::string::npos);
  const std::string wanted = entry.substr(key + 16, entry.find('\n', key + 1) - key - 16);
  EXPECT_NE(wmClass.out.find("\"" + wanted + "\""), std::string::npos) << wanted << ": " << wmClass.out << wmClass.err;
  terminate(app);
}
