// The informational options answer without a window, before anything else
// starts (no log, no settings, no display needed).
#include <gtest/gtest.h>

#include "support/test_support.h"

using testing_support::korvelleExe;
using testing_support::runShell;

namespace {

// Runs the program with args and an empty HOME and no display.
testing_support::RunResult runBare(const std::string& home, const std::string& args) {
  return runShell("env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 HOME='" + home + "' XDG_DATA_HOME='" + home +
                  "/data' '" + korvelleExe() + "' " + args);
}

}  // namespace

TEST(Cli, VersionAndHelpPrintTheirTextsAndTheFirstOneWins) {
  testing_support::TempDir home;
  auto version = runBare(home.path(), "--version --help");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "Pelmora Media Editor 1.0.0 (Build 1079)\n");

  auto help = runBare(home.path(), "--help --version");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out,
            "Pelmora Media Editor 1.0.0\n"
            "  <datei>       Bild oder Video gleich oeffnen\n"
            "  --version     Version ausgeben\n"
            "  --encoders    zeigen, welche Encoder diese Maschine hergibt\n"
            "  --fullscreen  im Vollbild starten\n"
            "  --windowed    im Fenster starten\n"
            "  --size BxH    mit dieser Fenstergroesse starten\n");

  // Unknown options and files are ignored by the informational pass.
  auto mixed = runBare(home.path(), "--verbose photo.jpg --size 800x600 --version");
  EXPECT_EQ(mixed.exitCode, 0);
  EXPECT_EQ(mixed.out, version.out);
  EXPECT_TRUE(mixed.err.empty()) << mixed.err;

  // Nothing was started: no data folder, no log.
  EXPECT_TRUE(testing_support::readFile(home.file("data/Korvelle/Korvelle.log")).empty());
}

// The encoder listing itself: Encoders.CommandLineListsEveryEncoderInColumns.
TEST(Cli, WithoutADisplayTheInteractiveRunFailsWithStatusOne) {
  testing_support::TempDir home;
  auto r = runBare(home.path(), "");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("SDL_"), std::string::npos) << r.err;
}
