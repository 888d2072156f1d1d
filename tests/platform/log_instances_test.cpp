// Two runs at once: each keeps a complete log of its own; a crash report names the log of the run that crashed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "platform/crash.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "support/in_child.h"
#include "support/test_support.h"

using testing_support::countOf;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = platform::fs;

namespace {

// One run started as main starts it, in a child; replies with its log's path.
// Orders: 'w' logs a line naming the process, 'e' ends the run, 'c' crashes it.
class Instance : public testing_support::ForkedChild {
 public:
  Instance(const std::string& data, const std::string& runtime)
      : ForkedChild([&] { return start(data, runtime); }, obey) {}
  std::string logPath() const { return reply(); }
  std::string tag() const { return "Lauf " + std::to_string(pid()); }

 private:
  static std::string start(const std::string& data, const std::string& runtime) {
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    diag::init();
    platform::installCrashHandler();
    platform::takeLastCrashReport();
    return diag::path();
  }
  static bool obey(char what) {
    if (what == 'w') diag::write("test", "Lauf " + std::to_string(getpid()));
    if (what == 'c') abort();
    if (what == 'e') diag::shutdown();
    return what != 'e';
  }
};

}  // namespace

TEST(LogInstances, TwoRunsAtOnceEachKeepACompleteLog) {
  TempDir data;
  TempDir runtime;
  const std::string dir = data.path() + "/Korvelle";
  const std::string shared = dir + "/Korvelle.log";
  pid_t secondPid = 0;
  {
    Instance first(data.path(), runtime.path());
    ASSERT_EQ(first.logPath(), shared);
    Instance second(data.path(), runtime.path());
    const std::string own = second.logPath();
    secondPid = second.pid();
    EXPECT_EQ(own, dir + "/Korvelle-" + std::to_string(secondPid) + ".log");
    first.order('w');
    second.order('w');
    // The first to start ends last, as when the first window stays open.
    second.order('e');
    EXPECT_EQ(second.finish(), 0);
    first.order('w');
    first.order('e');
    EXPECT_EQ(first.finish(), 0);

    // Each log whole: one header, its own lines only, one closing line.
    for (const auto& [path, mine, other, lines] :
         {std::tuple{shared, first.tag(), second.tag(), 2u}, std::tuple{own, second.tag(), first.tag(), 1u}}) {
      const std::string text = readFile(path);
      EXPECT_EQ(countOf(text, "=== Pelmora"), 1u) << text;
      EXPECT_EQ(countOf(text, "---- Ende ----"), 1u) << text;
      EXPECT_EQ(countOf(text, mine), lines) << text;
      EXPECT_EQ(countOf(text, other), 0u) << text;
    }
  }

  // Own logs of ended runs go after a week; other names stay.
  const time_t eightDaysAgo = std::time(nullptr) - 8 * 24 * 3600;
  const timespec times[2] = {{eightDaysAgo, 0}, {eightDaysAgo, 0}};
  for (const std::string name : {"Korvelle-11.log", "Korvelle-12.log", "Korvelle-notes.log"}) {
    ASSERT_TRUE(writeFile(dir + "/" + name, "x"));
    if (name != "Korvelle-12.log") {
      ASSERT_EQ(utimensat(AT_FDCWD, (dir + "/" + name).c_str(), times, 0), 0);
    }
  }

  // The next single run keeps the first run's log as ".1" and leaves the second run's recent own log alone.
  Instance next(data.path(), runtime.path());
  EXPECT_EQ(next.logPath(), shared);
  next.order('e');
  EXPECT_EQ(next.finish(), 0);
  EXPECT_EQ(countOf(readFile(shared + ".1"), "---- Ende ----"), 1u);
  std::vector<std::string> want{"Korvelle-12.log", "Korvelle-" + std::to_string(secondPid) + ".log",
                                "Korvelle-notes.log", "Korvelle.log", "Korvelle.log.1"};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(fs::listDir(dir), want);
}

TEST(LogInstances, ACrashReportNamesTheLogOfTheRunThatCrashed) {
  TempDir data;
  TempDir runtime;
  const std::string dir = data.path() + "/Korvelle";
  const std::string report = runtime.path() + "/Korvelle_crash.txt";

  // The second window crashes while the first stays open.
  Instance first(data.path(), runtime.path());
  ASSERT_EQ(first.logPath(), dir + "/Korvelle.log");
  {
    Instance second(data.path(), runtime.path());
    const std::string own = second.logPath();
    ASSERT_NE(own, dir + "/Korvelle.log");
    second.order('w');
    second.order('c');
    EXPECT_EQ(second.finish(), SIGABRT);
    EXPECT_NE(readFile(report).find("\nProtokoll: " + own + "\n"), std::string::npos) << readFile(report);
    EXPECT_EQ(countOf(readFile(own), second.tag()), 1u);
  }
  fs::remove(report);

  // The first window crashes; the next run moves its log to ".1", and the report it announces names that.
  first.order('w');
  first.order('c');
  EXPECT_EQ(first.finish(), SIGABRT);
  EXPECT_NE(readFile(report).find("\nProtokoll: " + dir + "/Korvelle.log\n"), std::string::npos);
  Instance next(data.path(), runtime.path());
  ASSERT_EQ(next.logPath(), dir + "/Korvelle.log");
  next.order('e');
  EXPECT_EQ(next.finish(), 0);
  std::string moved;
  for (const std::string& name : fs::listDir(dir)) {
    if (name.rfind("Korvelle_crash_", 0) == 0) moved = dir + "/" + name;
  }
  ASSERT_FALSE(moved.empty());
  EXPECT_NE(readFile(moved).find("\nProtokoll: " + dir + "/Korvelle.log.1\n"), std::string::npos)
      << readFile(moved);
  EXPECT_EQ(countOf(readFile(dir + "/Korvelle.log.1"), first.tag()), 1u);
}
