// The Debian package made by CPack: its control data, and an installation
// with dpkg into a throw-away root whose program answers --version.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/product.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// Builds the package into dir; its path, or "" (with the output) on failure.
std::string makePackage(const TempDir& dir, std::string* output) {
  RunResult r = runProcess({KORVELLE_CPACK, "--config", std::string(KORVELLE_BINARY_DIR) + "/CPackConfig.cmake",
                            "-B", dir.path()});
  *output = r.out + r.err;
  if (r.exitCode != 0) return "";
  for (const std::string& name : platform::fs::listDir(dir.path())) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".deb") == 0) return dir.file(name);
  }
  return "";
}

std::string field(const std::string& deb, const std::string& name) {
  std::string v = runProcess({"dpkg-deb", "--field", deb, name}).out;
  while (!v.empty() && v.back() == '\n') v.pop_back();
  return v;
}

}  // namespace

TEST(Package, DebianPackageCarriesItsLibrariesAndRunsFromAThrowAwayRoot) {
  ASSERT_TRUE(haveTool("dpkg-shlibdeps")) << "scripts/deps.sh test installs dpkg-dev";
  TempDir out;
  std::string output;
  const std::string deb = makePackage(out, &output);
  ASSERT_FALSE(deb.empty()) << output;
  EXPECT_EQ(field(deb, "Package"), "korvelle");
  EXPECT_EQ(field(deb, "Version"), product::kVersion);
  // Dependencies are computed from what the executable links.
  const std::string depends = field(deb, "Depends");
  for (const char* lib : {"libc6", "libsdl2-2.0-0", "libavcodec", "libavformat", "libcairo2",
                                 "libpango-1.0-0", "libraw", "libheif1", "libfontconfig1"}) {
    EXPECT_NE(depends.find(lib), std::string::npos) << lib << " missing in: " << depends;
  }

  // A throw-away root with an empty dpkg database; the libraries come from this system.
  TempDir root;
  ASSERT_TRUE(platform::fs::ensureDir(root.file("var/lib/dpkg/updates")));
  ASSERT_TRUE(platform::fs::ensureDir(root.file("var/lib/dpkg/info")));
  ASSERT_TRUE(writeFile(root.file("var/lib/dpkg/status"), ""));
  std::vector<std::string> install = {"dpkg", "--root=" + root.path(), "--force-depends"};
  if (geteuid() != 0) install.push_back("--force-not-root");
  install.insert(install.end(), {"--install", deb});
  RunResult inst = runProcess(install);
  ASSERT_EQ(inst.exitCode, 0) << inst.out << inst.err;
  EXPECT_NE(runProcess({"dpkg", "--root=" + root.path(), "--listfiles", "korvelle"})
                .out.find("/usr/share/icons/hicolor/256x256/apps/software.pelmora.Korvelle.png"),
            std::string::npos);

  RunResult version = runProcess({root.file("usr/bin/korvelle"), "--version"});
  EXPECT_EQ(version.exitCode, 0) << version.err;
  EXPECT_EQ(version.out, std::string(product::kName) + " " + product::kVersion + " (Build " +
                             std::to_string(product::kBuild) + ")\n");

  // Every dependency is satisfiable here, as apt would resolve it.
  if (haveTool("apt-get")) {
    RunResult sim = runProcess({"apt-get", "install", "--simulate", "--no-install-recommends", deb});
    EXPECT_EQ(sim.exitCode, 0) << sim.out << sim.err;
    EXPECT_NE(sim.out.find("Inst korvelle"), std::string::npos) << sim.out;
  }
}
