// The informational options answer before anything else starts (no log, no settings, no display
// needed); an interactive run without a display fails.
#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace testing_support;

namespace {

// Runs the program with args and an empty HOME and no display.
RunResult runBare(const std::string& home, const std::string& args) {
  return runShell("env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 HOME='" + home + "' XDG_DATA_HOME='" + home +
                  "/data' '" + korvelleExe() + "' " + args);
}

}  // namespace

TEST(Cli, VersionAndHelpPrintTheirTextsAndTheFirstOneWins) {
  TempDir home;
  const RunResult version = runBare(home.path(), "--version --help");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "Pelmora Media Editor 1.0.0 (Build 1079)\n");
  const RunResult help = runBare(home.path(), "--help --version");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out,
            "Pelmora Media Editor 1.0.0\n"
            "  <datei>       Bild oder Video gleich oeffnen\n"
            "  --version     Version ausgeben\n"
            "  --encoders    zeigen, welche Encoder diese Maschine hergibt\n"
            "  --fullscreen  im Vollbild starten\n"
            "  --windowed    im Fenster starten\n"
            "  --size BxH    mit dieser Fenstergroesse starten\n");
  EXPECT_TRUE(help.err.empty()) << help.err;
  EXPECT_TRUE(readFile(home.file("data/Korvelle/Korvelle.log")).empty()) << "nothing was started";
}

TEST(Cli, WithoutADisplayTheInteractiveRunFailsWithStatusOne) {
  TempDir home;
  const RunResult r = runBare(home.path(), "");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("SDL_"), std::string::npos) << r.err;
}
