// test_support: helpers shared by the unit, screen and end-to-end tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// A fresh directory below the system temp folder, removed with its contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets an environment variable; nullptr unsets it.
void assignEnv(const std::string& name, const char* value);

// Sets an environment variable (nullptr: unsets it) for the scope, restoring the old value after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool hadOld_ = false;
};

// Result of a finished child process.
struct RunResult {
  int exitCode = -1;     // exit status, or -1 when killed by a signal
  int signal = 0;        // terminating signal, 0 when it exited
  std::string out;       // standard output
  std::string err;       // standard error
};

// fork with output flushed first (else both processes write it); the child makes no core dumps.
pid_t forkQuietly();
// The raw wait status of pid once it has ended (blocks), or -1 when it cannot be reaped.
int reapStatus(pid_t pid);
// Sets r's exitCode and signal from a raw wait status (-1 leaves them).
void setExit(RunResult* r, int status);

// Runs argv as spawnProcess does and waits (blocks) for it; exit code 127 when it cannot be started.
RunResult runProcess(const std::vector<std::string>& argv);

// Environment of a started program: this one's minus names starting with a `drop` prefix, plus `set`.
struct ProcessEnv {
  std::vector<std::pair<std::string, std::string>> set;
  std::vector<std::string> drop;
};

// Starts argv (PATH searched), input from /dev/null, output to files ("": /dev/null; one name: one file),
// keepFd left open; no core dumps, killed when the test program ends. The pid, or -1.
pid_t spawnProcess(const std::vector<std::string>& argv, const ProcessEnv& env,
                   const std::string& outPath = "", const std::string& errPath = "", int keepFd = -1);
// Waits (blocks) for a started program: its exit status, 128 + signal when killed.
int waitProcess(pid_t pid);

// Runs a shell command line (sh -c) and waits for it; output captured.
RunResult runShell(const std::string& command);

// Polls cond every pollSeconds until it holds (true) or timeoutSeconds pass (false).
bool waitUntil(const std::function<bool()>& cond, double timeoutSeconds = 30, double pollSeconds = 0.02);

// True when a program of that name is on PATH.
bool haveTool(const std::string& name);

// How many times part occurs in text, without overlaps.
size_t countOf(const std::string& text, const std::string& part);

// Whole file as bytes; empty when unreadable.
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);

// A real sample media file from tests/fixtures (origins in its SOURCES.md).
std::string fixture(const std::string& name);

// Path of the built program.
std::string korvelleExe();

}  // namespace testing_support
