// Several processes of the program at once: each keeps its versions in its own
// working directory, and the directory of a process that died is removed by
// the next one to start while that of a running one is kept.
//
// The processes are this test program started again on one disabled test
// case (WorkDirChild.DISABLED_Run), which plays the role named in the
// environment; they meet through small files in a shared folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
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

extern char** environ;

namespace {

using editor_fixtures::centreIs;
using editor_fixtures::Rgb;
using testing_support::readFile;
using testing_support::writeFile;

constexpr const char* kRoleVar = "KORVELLE_TEST_ROLE";
constexpr const char* kMeetVar = "KORVELLE_TEST_MEET";
constexpr const char* kNameVar = "KORVELLE_TEST_NAME";
constexpr const char* kPeerVar = "KORVELLE_TEST_PEER";
// Generous: the machine may be busy with other builds.
constexpr auto kWaitLimit = std::chrono::seconds(120);

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Waits until the file exists; false after kWaitLimit.
bool waitForFile(const std::string& path) {
  const auto until = std::chrono::steady_clock::now() + kWaitLimit;
  while (!platform::fs::isFile(path)) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
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

// Claims a working directory, commits a step, reports the directory and
// dies without cleaning up, as a crash would.
std::string roleCrash(const std::string& meet, const std::string& name) {
  doc::Document& d = doc::Document::instance();
  const std::string source = editor_fixtures::writeSolid(meet + "/" + name + "-source.png", 8, 8, {1, 2, 3});
  if (source.empty() || !d.openImage(source) || !d.commitImage(editor_fixtures::solid(8, 8, {9, 9, 9}), "x")) {
    return "setup failed";
  }
  doc::Document::waitForVersionFiles();  // the step is on disk before the "crash"
  writeFile(meet + "/" + name + ".dir", doc::Document::workDir());
  ::kill(getpid(), SIGKILL);
  return "still alive";
}

// Starts (claiming a directory, which sweeps), reports the directory, and
// holds it until told to go.
std::string roleHold(const std::string& meet, const std::string& name) {
  writeFile(meet + "/" + name + ".dir", doc::Document::instance().workDir());
  if (!waitForFile(meet + "/" + name + ".go")) return "never told to go";
  doc::Document::cleanWorkDir();
  return "OK";
}

TEST(WorkDirChild, DISABLED_Run) {
  const std::string role = env(kRoleVar);
  const std::string meet = env(kMeetVar);
  const std::string name = env(kNameVar);
  ASSERT_FALSE(role.empty() || meet.empty() || name.empty());
  std::string result = "unknown role";
  if (role == "versions") result = roleVersions(meet, name, env(kPeerVar));
  if (role == "crash") result = roleCrash(meet, name);
  if (role == "hold") result = roleHold(meet, name);
  writeFile(meet + "/" + name + ".result", result);
  EXPECT_EQ(result, "OK");
}

// --- The parent's side --------------------------------------------------------------------

std::string selfExe() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Starts this program in a role; the environment is built before the fork.
pid_t spawnRole(const std::string& cache, const std::string& meet, const std::string& role,
                const std::string& name, const std::string& peer = "") {
  std::vector<std::string> vars;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("XDG_CACHE_HOME=", 0) == 0 || v.rfind("KORVELLE_TEST_", 0) == 0) continue;
    vars.push_back(v);
  }
  vars.push_back("XDG_CACHE_HOME=" + cache);
  vars.push_back(std::string(kRoleVar) + "=" + role);
  vars.push_back(std::string(kMeetVar) + "=" + meet);
  vars.push_back(std::string(kNameVar) + "=" + name);
  vars.push_back(std::string(kPeerVar) + "=" + peer);
  std::vector<char*> envp;
  for (std::string& v : vars) envp.push_back(v.data());
  envp.push_back(nullptr);

  std::string exe = selfExe();
  std::string filter = "--gtest_filter=WorkDirChild.DISABLED_Run";
  std::string disabled = "--gtest_also_run_disabled_tests";
  std::vector<char*> argv = {exe.data(), filter.data(), disabled.data(), nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) ::dup2(devnull, STDOUT_FILENO);
    ::execve(exe.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// Waits for the child; its exit status, or 128 + signal.
int reap(pid_t pid) {
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
  EXPECT_EQ(reap(a), 0);
  EXPECT_EQ(reap(b), 0);
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

TEST_F(WorkDirProcesses, DeadProcessesDirectoriesGoLiveOnesStay) {
  // A process that dies leaves its directory with its versions behind.
  EXPECT_EQ(reap(spawnRole(cache_.path(), meet_.path(), "crash", "dead")), 128 + SIGKILL);
  const std::string dead = readFile(meet_.file("dead.dir"));
  ASSERT_FALSE(dead.empty());
  ASSERT_TRUE(platform::fs::isFile(dead + "/step_001.png"));

  // The next process to start removes it.
  const pid_t first = spawnRole(cache_.path(), meet_.path(), "hold", "first");
  ASSERT_TRUE(waitForFile(meet_.file("first.dir")));
  const std::string firstDir = readFile(meet_.file("first.dir"));
  EXPECT_FALSE(platform::fs::isDir(dead));
  EXPECT_TRUE(platform::fs::isDir(firstDir));

  // One more start leaves the running process's directory alone.
  const pid_t second = spawnRole(cache_.path(), meet_.path(), "hold", "second");
  ASSERT_TRUE(waitForFile(meet_.file("second.dir")));
  const std::string secondDir = readFile(meet_.file("second.dir"));
  EXPECT_NE(firstDir, secondDir);
  EXPECT_TRUE(platform::fs::isDir(firstDir));
  EXPECT_TRUE(platform::fs::isFile(firstDir + "/lock"));
  EXPECT_EQ(workDirs().size(), 2u);

  writeFile(meet_.file("first.go"), "");
  writeFile(meet_.file("second.go"), "");
  EXPECT_EQ(reap(first), 0);
  EXPECT_EQ(reap(second), 0);
  EXPECT_EQ(readFile(meet_.file("first.result")), "OK");
  EXPECT_EQ(readFile(meet_.file("second.result")), "OK");
  EXPECT_TRUE(workDirs().empty());
}

}  // namespace
