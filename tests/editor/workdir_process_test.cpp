// Several processes of the program at once: each keeps its versions in its own
// working directory (sweeping the directories of ended processes is
// platform::OwnedDir's, tested there).
//
// The processes are this test program started again on one disabled test
// case (WorkDirChild.DISABLED_Run), which plays the role named in the
// environment; they meet through small files in a shared folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

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

constexpr const char* kRoleVar = "KORVELLE_TEST_ROLE";
constexpr const char* kMeetVar = "KORVELLE_TEST_MEET";
constexpr const char* kNameVar = "KORVELLE_TEST_NAME";
constexpr const char* kPeerVar = "KORVELLE_TEST_PEER";

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Waits until the file exists; false after a generous wait (the machine may
// be busy with other builds).
bool waitForFile(const std::string& path) {
  return testing_support::waitUntil([&] { return platform::fs::isFile(path); }, 120);
}

Rgb colourOf(const std::string& name) { return name == "a" ? Rgb{220, 30, 30} : Rgb{30, 40, 210}; }

// --- The child's roles ----------------------------------------------------------------

// Commits one picture of its own colour as its first step, waits until the
// peer has done the same, then checks that undo and redo still show its own
// pictures. "a" cleans up and leaves first; "b" checks again after that.
std::string roleVersions(const std::string& meet, const std::string& name, const std::string& peer) {
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
    if (!centreIs(d.image, colourOf(name))) return "redo showed another process's picture";
    return "";
  };
  std::string problem = check();
  if (!problem.empty()) return problem;
  if (name == "a") {
    doc::Document::cleanWorkDir();
    writeFile(meet + "/a.done", "");
  } else {
    if (!waitForFile(meet + "/a.done")) return "a never finished";
    problem = check();
    if (!problem.empty()) return "after a left: " + problem;
    doc::Document::cleanWorkDir();
  }
  return "OK";
}

TEST(WorkDirChild, DISABLED_Run) {
  const std::string role = env(kRoleVar);
  const std::string meet = env(kMeetVar);
  const std::string name = env(kNameVar);
  ASSERT_FALSE(role.empty() || meet.empty() || name.empty());
  std::string result = "unknown role";
  if (role == "versions") result = roleVersions(meet, name, env(kPeerVar));
  writeFile(meet + "/" + name + ".result", result);
  EXPECT_EQ(result, "OK");
}

// --- The parent's side --------------------------------------------------------------------

std::string selfExe() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Starts this program in a role; its exit status comes from waitProcess.
pid_t spawnRole(const std::string& cache, const std::string& meet, const std::string& role,
                const std::string& name, const std::string& peer = "") {
  return testing_support::spawnProcess(
      {selfExe(), "--gtest_filter=WorkDirChild.DISABLED_Run", "--gtest_also_run_disabled_tests"},
      {{{"XDG_CACHE_HOME", cache}, {kRoleVar, role}, {kMeetVar, meet}, {kNameVar, name}, {kPeerVar, peer}},
       {"XDG_CACHE_HOME=", "KORVELLE_TEST_"}},
      "", meet + "/" + name + ".err");
}

class WorkDirProcesses : public ::testing::Test {
 protected:
  std::string workParent() const { return cache_.path() + "/" + product::kShortName + "/work"; }
  // The directories below the shared work folder.
  std::vector<std::string> workDirs() const { return platform::fs::listDir(workParent()); }

  testing_support::TempDir cache_;
  testing_support::TempDir meet_;
};

TEST_F(WorkDirProcesses, TwoProcessesKeepSeparateVersions) {
  const pid_t a = spawnRole(cache_.path(), meet_.path(), "versions", "a", "b");
  const pid_t b = spawnRole(cache_.path(), meet_.path(), "versions", "b", "a");
  EXPECT_EQ(testing_support::waitProcess(a), 0);
  EXPECT_EQ(testing_support::waitProcess(b), 0);
  EXPECT_EQ(readFile(meet_.file("a.result")), "OK");
  EXPECT_EQ(readFile(meet_.file("b.result")), "OK");

  const std::string dirA = readFile(meet_.file("a.dir"));
  const std::string dirB = readFile(meet_.file("b.dir"));
  EXPECT_FALSE(dirA.empty());
  EXPECT_NE(dirA, dirB);
  EXPECT_EQ(dirA.rfind(workParent() + "/", 0), 0u) << dirA;
  // Each cleaned away its own directory and nothing else is left.
  EXPECT_TRUE(platform::fs::isDir(workParent()));
  EXPECT_TRUE(workDirs().empty()) << workDirs().size();
}

}  // namespace
