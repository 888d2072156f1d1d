// Several processes of the program at once: each keeps its versions in its own
// working directory (sweeping the directories of ended processes is
// platform::OwnedDir's, tested there).
//
// The processes are this test program started again on one disabled test
// case (WorkDirChild.DISABLED_Run), named in the environment; they meet
// through small files in a shared folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "editor/document.h"
#include "editor/editor_fixtures.h"
#include "platform/fs.h"
#include "platform/product.h"
#include "support/test_support.h"

namespace {

using editor_fixtures::centreIs;
using editor_fixtures::Rgb;
using testing_support::readFile;
using testing_support::writeFile;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// A generous wait: the machine may be busy with other builds.
bool waitForFile(const std::string& path) {
  return testing_support::waitUntil([&] { return platform::fs::isFile(path); }, 120);
}

Rgb colourOf(const std::string& name) { return name == "a" ? Rgb{220, 30, 30} : Rgb{30, 40, 210}; }

// The child: commits one picture of its own colour as its first step, waits
// until the peer has done the same, then checks that undo and redo still show
// its own pictures. "a" cleans up and leaves first; "b" checks again after that.
std::string runChild(const std::string& meet, const std::string& name, const std::string& peer) {
  doc::Document& d = doc::Document::instance();
  const Rgb grey{128, 128, 128};
  const std::string source = editor_fixtures::writeSolid(meet + "/" + name + "-source.png", 20, 20, grey);
  if (source.empty() || !d.openImage(source)) return "open failed";
  if (!d.commitImage(editor_fixtures::solid(20, 20, colourOf(name)), "mine")) return "commit failed";
  if (d.currentPath() != doc::Document::workDir() + "/step_001.png") return "unexpected name " + d.currentPath();
  writeFile(meet + "/" + name + ".dir", doc::Document::workDir());
  if (!waitForFile(meet + "/" + peer + ".dir")) return "peer never committed";

  const auto check = [&]() -> std::string {
    if (!d.undo() || !centreIs(d.image, grey)) return "undo did not show the source";
    if (!d.redo()) return "redo failed";
    return centreIs(d.image, colourOf(name)) ? "" : "redo showed another process's picture";
  };
  if (std::string problem = check(); !problem.empty()) return problem;
  if (name == "b") {
    if (!waitForFile(meet + "/a.done")) return "a never finished";
    if (std::string problem = check(); !problem.empty()) return "after a left: " + problem;
  }
  doc::Document::cleanWorkDir();
  if (name == "a") writeFile(meet + "/a.done", "");
  return "OK";
}

TEST(WorkDirChild, DISABLED_Run) {
  const std::string meet = env("KORVELLE_TEST_MEET");
  const std::string name = env("KORVELLE_TEST_NAME");
  ASSERT_FALSE(meet.empty() || name.empty());
  const std::string result = runChild(meet, name, env("KORVELLE_TEST_PEER"));
  writeFile(meet + "/" + name + ".result", result);
  EXPECT_EQ(result, "OK");
}

TEST(WorkDirProcesses, TwoProcessesKeepSeparateVersions) {
  testing_support::TempDir cache;
  testing_support::TempDir meet;
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  const auto spawn = [&](const std::string& name, const std::string& peer) {
    return testing_support::spawnProcess(
        {std::string(exe, static_cast<size_t>(n)), "--gtest_filter=WorkDirChild.DISABLED_Run",
         "--gtest_also_run_disabled_tests"},
        {{{"XDG_CACHE_HOME", cache.path()},
          {"KORVELLE_TEST_MEET", meet.path()},
          {"KORVELLE_TEST_NAME", name},
          {"KORVELLE_TEST_PEER", peer}},
         {"XDG_CACHE_HOME=", "KORVELLE_TEST_"}},
        "", meet.file(name + ".err"));
  };
  const pid_t a = spawn("a", "b");
  const pid_t b = spawn("b", "a");
  EXPECT_EQ(testing_support::waitProcess(a), 0);
  EXPECT_EQ(testing_support::waitProcess(b), 0);
  EXPECT_EQ(readFile(meet.file("a.result")), "OK");
  EXPECT_EQ(readFile(meet.file("b.result")), "OK");

  const std::string workParent = cache.path() + "/" + product::kShortName + "/work";
  const std::string dirA = readFile(meet.file("a.dir"));
  EXPECT_FALSE(dirA.empty());
  EXPECT_NE(dirA, readFile(meet.file("b.dir")));
  EXPECT_EQ(dirA.rfind(workParent + "/", 0), 0u) << dirA;
  // Each cleaned away its own directory and nothing else is left.
  EXPECT_TRUE(platform::fs::isDir(workParent));
  EXPECT_TRUE(platform::fs::listDir(workParent).empty());
}

}  // namespace
