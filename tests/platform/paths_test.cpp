// paths: the data, cache and asset directories, fixed once per process: every case runs in a child.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "support/in_child.h"
#include "platform/fs.h"
#include "support/test_support.h"

using testing_support::inChild;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = platform::fs;

namespace {

// Sets (value non-null) or unsets a variable; for use inside a child.
void setEnv(const char* name, const char* value) { testing_support::applyEnv({{name, value}}); }

// The data (or cache) directory a fresh process reports with the given XDG variable, HOME and working directory.
std::string dirInChild(bool data, const char* xdg, const char* home, const std::string& cwd) {
  return inChild([&] {
           setEnv(data ? "XDG_DATA_HOME" : "XDG_CACHE_HOME", xdg);
           setEnv("HOME", home);
           if (chdir(cwd.c_str()) != 0) return std::string("chdir failed");
           const std::string& dir = data ? paths::dataDir() : paths::cacheDir();
           // Created, and fixed for the run even when the environment changes.
           setEnv(data ? "XDG_DATA_HOME" : "XDG_CACHE_HOME", "/elsewhere");
           if ((data ? paths::dataDir() : paths::cacheDir()) != dir) return std::string("not cached");
           return fs::isDir(dir) ? dir : "not created: " + dir;
         })
      .out;
}

// Makes dir look like an installation: dir/assets/fonts/DejaVuSans.ttf.
void plantAssets(const std::string& dir) {
  ASSERT_TRUE(fs::ensureDir(dir + "/assets/fonts"));
  ASSERT_TRUE(writeFile(dir + "/assets/fonts/DejaVuSans.ttf", "font"));
}

struct AssetEnv {
  const char* snap = nullptr;
  const char* appdir = nullptr;
  const char* own = nullptr;
};

std::string assetDirInChild(const AssetEnv& env) {
  return inChild({{"SNAP", env.snap}, {"APPDIR", env.appdir}, {"KORVELLE_ASSET_DIR", env.own}}, [&] {
           const std::string& dir = paths::assetDir();
           if (paths::asset("fonts/x.ttf") != dir + "/fonts/x.ttf") return std::string("asset()");
           return dir;
         })
      .out;
}

}  // namespace

TEST(Paths, DataAndCacheDirsFollowXdgThenHomeThenWorkingDirectory) {
  for (const auto& [data, below] : {std::pair{true, "/.local/share/Korvelle"}, std::pair{false, "/.cache/Korvelle"}}) {
    SCOPED_TRACE(below);
    TempDir tmp;
    const std::string xdg = tmp.file("xdg");
    const std::string home = tmp.file("home");
    EXPECT_EQ(dirInChild(data, xdg.c_str(), home.c_str(), tmp.path()), xdg + "/Korvelle");
    EXPECT_EQ(dirInChild(data, nullptr, home.c_str(), tmp.path()), home + below);
    // An empty variable counts as unset.
    EXPECT_EQ(dirInChild(data, "", home.c_str(), tmp.path()), home + below);
    EXPECT_EQ(dirInChild(data, "", "", tmp.path()), std::string(".") + below);
    EXPECT_EQ(dirInChild(data, nullptr, nullptr, tmp.path()), std::string(".") + below);
    EXPECT_TRUE(fs::isDir(tmp.path() + below));
  }
}

TEST(Paths, AssetDirTakesTheFirstCandidateThatHoldsTheFonts) {
  TempDir tmp;
  const std::string own = tmp.file("own");
  const std::string appdir = tmp.file("appimage");
  const std::string snap = tmp.file("snap");
  const std::string emptySnap = tmp.file("emptysnap");
  const std::string noFont = tmp.file("nofont");
  plantAssets(own);
  plantAssets(appdir + "/usr/share/Korvelle");
  plantAssets(snap + "/usr/share/Korvelle");
  ASSERT_TRUE(fs::ensureDir(emptySnap + "/usr/share/Korvelle/assets/fonts"));
  ASSERT_TRUE(fs::ensureDir(noFont + "/assets/fonts"));

  // Whatever this machine's own layout yields with no hints at all.
  const std::string natural = assetDirInChild({});
  ASSERT_FALSE(natural.empty());

  EXPECT_EQ(assetDirInChild({nullptr, nullptr, own.c_str()}), own);
  // A hint without the marker font is passed over.
  EXPECT_EQ(assetDirInChild({nullptr, nullptr, noFont.c_str()}), natural);
  EXPECT_EQ(assetDirInChild({nullptr, nullptr, ""}), natural);
  // A Snap without the assets loses to a later candidate that has them.
  EXPECT_EQ(assetDirInChild({emptySnap.c_str(), nullptr, own.c_str()}), own);
  // Order: SNAP, APPDIR, KORVELLE_ASSET_DIR.
  EXPECT_EQ(assetDirInChild({snap.c_str(), appdir.c_str(), own.c_str()}),
            snap + "/usr/share/Korvelle");
  EXPECT_EQ(assetDirInChild({emptySnap.c_str(), appdir.c_str(), own.c_str()}),
            appdir + "/usr/share/Korvelle");
}
