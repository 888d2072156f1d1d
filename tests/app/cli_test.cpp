// The informational options answer without opening a window.
#include <gtest/gtest.h>

#include "support/test_support.h"

using testing_support::korvelleExe;
using testing_support::runProcess;

TEST(Cli, VersionAndHelpPrintTheirTextsAndTheFirstOneWins) {
  auto version = runProcess({korvelleExe(), "--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "Pelmora Media Editor 1.0.0 (Build 1079)\n");

  auto help = runProcess({korvelleExe(), "--help", "--version"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Pelmora Media Editor 1.0.0\n  <datei>", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("  --size BxH    mit dieser Fenstergroesse starten\n"), std::string::npos);

}
