// Crash reports: written by the fatal-signal handler of a dying child, moved into the data directory by the next run.
#include "platform/crash.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <regex>

#include "build_info.h"
#include "support/in_child.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "support/test_support.h"

using testing_support::ChildResult;
using testing_support::inChild;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = platform::fs;

namespace {

// Where the child's report and data go; empty runtime means "unset".
struct Dirs {
  std::string runtime;
  std::string data;
};

void useDirs(const Dirs& dirs) {
  testing_support::applyEnv({{"XDG_RUNTIME_DIR", dirs.runtime.empty() ? nullptr : dirs.runtime.c_str()},
                             {"XDG_DATA_HOME", dirs.data.c_str()}});
}

enum class Crash { Segv, Abort, Raise, Overflow };

// Recurses until the stack runs out; the volatile buffer and the work after
// the call keep the compiler from turning it into a loop.
int (*volatile g_recurse)(int);
int recurse(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  return g_recurse(depth + 1) + frame[0];
}

// A child that installs the handler, records an action and dies.
ChildResult crashChild(const Dirs& dirs, const char* action, Crash how, int sig = 0) {
  return inChild([&]() -> std::string {
    useDirs(dirs);
    platform::installCrashHandler();
    if (action) diag::action(action);  // the log is off; the context is still kept
    switch (how) {
      case Crash::Segv: *static_cast<volatile int*>(nullptr) = 1; break;
      case Crash::Abort: std::abort();
      case Crash::Raise: raise(sig); break;
      case Crash::Overflow:
        g_recurse = recurse;
        return std::to_string(g_recurse(0));
    }
    return "survived";
  });
}

// A later run: installs the handler, takes the report, logs while it does.
std::string takeInChild(const Dirs& dirs) {
  return inChild([&] {
           useDirs(dirs);
           diag::init();
           platform::installCrashHandler();
           std::string path = platform::takeLastCrashReport();
           diag::shutdown();
           return path;
         })
      .out;
}

std::string header() {
  return std::string("Pelmora Media Editor 1.0.0 (Build 1079)\nportiert aus ") +
         build::kSourceRevision + "\n-----------------------------------------\n";
}

const std::string kFooter =
    "\nDiese Datei wird NICHT verschickt. Wenn du magst, schick sie an\n"
    "support@pelmora.software — daraus laesst sich der Fehler finden.\n";

const std::regex kMovedName(R"(.*/Korvelle/Korvelle_crash_\d{8}-\d{6}\.txt)");

}  // namespace

// Every kind of crash leaves its report and still dies by its signal; the last action is cut to 120 bytes.
TEST(Crash, EveryCrashLeavesItsReportAndStillDiesBySignal) {
  const std::string longAction = "Bild geoeffnet: " + std::string(200, 'a') + "ENDE";
  const std::string segv = "SIGSEGV (Zugriff auf fremden Speicher)";
  struct Case {
    Crash how;
    int sig;
    const char* action;  // nullptr: no context line
    std::string line;
  } cases[] = {
      {Crash::Segv, SIGSEGV, longAction.c_str(), segv},
      {Crash::Overflow, SIGSEGV, "tief", segv},  // reported from the handler's own stack
      {Crash::Abort, SIGABRT, nullptr, "SIGABRT (abgebrochen)"},
      {Crash::Raise, SIGILL, "x", "SIGILL (unerlaubter Befehl)"},
      {Crash::Raise, SIGTRAP, "x", "SIGTRAP (fataler GLib-Fehler — fehlt eine Ressource?)"},
      {Crash::Raise, SIGBUS, "x", "SIGBUS (Busfehler)"},
      {Crash::Raise, SIGFPE, "x", "SIGFPE (Rechenfehler)"},
  };
  for (const Case& c : cases) {
    TempDir run;
    TempDir data;
    const ChildResult child = crashChild({run.path(), data.path()}, c.action, c.how, c.sig);
    EXPECT_EQ(child.signal, c.sig) << c.line;
    EXPECT_EQ(child.out, "");
    const std::string context = c.action ? "Zuletzt: " + std::string(c.action).substr(0, 120) + "\n" : "";
    EXPECT_EQ(readFile(run.file("Korvelle_crash.txt")), header() + "Signal: " + c.line + "\n" + context + kFooter);
  }
}

TEST(Crash, WithoutARuntimeDirTheReportGoesToTheDataDir) {
  TempDir data;
  EXPECT_EQ(crashChild({"", data.path()}, nullptr, Crash::Raise, SIGSEGV).signal, SIGSEGV);
  EXPECT_EQ(readFile(data.file("Korvelle/Korvelle_crash.txt")),
            header() + "Signal: SIGSEGV (Zugriff auf fremden Speicher)\n" + kFooter);
}

TEST(Crash, NextRunMovesTheReportIntoTheDataDirOnce) {
  TempDir run;
  TempDir data;
  const Dirs dirs{run.path(), data.path()};
  crashChild(dirs, "Zuschneiden", Crash::Abort);
  const std::string report = readFile(run.file("Korvelle_crash.txt"));
  ASSERT_FALSE(report.empty());
  // Without the handler installed there is no report path to look at.
  EXPECT_EQ(inChild([&] {
              useDirs(dirs);
              return platform::takeLastCrashReport();
            }).out,
            "");

  const std::string moved = takeInChild(dirs);
  EXPECT_EQ(moved.rfind(data.path() + "/Korvelle/", 0), 0u) << moved;
  EXPECT_TRUE(std::regex_match(moved, kMovedName)) << moved;
  EXPECT_EQ(readFile(moved), report);
  const std::string log = readFile(data.file("Korvelle/Korvelle.log"));
  EXPECT_NE(log.find("] crash  Bericht vom letzten Lauf: " + moved + "\n"), std::string::npos)
      << log;

  EXPECT_EQ(takeInChild(dirs), "");  // taken once only
}

TEST(Crash, AReportThatCannotBeMovedIsDropped) {
  TempDir run;
  TempDir tmp;
  // The data directory lies below a plain file, so it can never be created.
  ASSERT_TRUE(writeFile(tmp.file("blocker"), "x"));
  const Dirs dirs{run.path(), tmp.file("blocker")};
  crashChild(dirs, nullptr, Crash::Abort);
  ASSERT_TRUE(fs::isFile(run.file("Korvelle_crash.txt")));
  EXPECT_EQ(takeInChild(dirs), "");
  EXPECT_FALSE(fs::isFile(run.file("Korvelle_crash.txt")));
}
