// test_support: helpers shared by the unit, screen and end-to-end tests.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A fresh directory below the system temp folder, removed with its contents
// when the object goes away.
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

// Sets an environment variable for the scope, restoring the old value after.
// nullptr unsets it.
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

// Runs argv[0] with the given arguments and waits (blocks) for it.
RunResult runProcess(const std::vector<std::string>& argv);

// Runs a shell command line (sh -c) and waits for it; output captured.
RunResult runShell(const std::string& command);

// True when a program of that name is on PATH.
bool haveTool(const std::string& name);

// Whole file as bytes; empty when unreadable.
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);

// A real sample media file from tests/fixtures (origins in its SOURCES.md).
std::string fixture(const std::string& name);

// Path of the built program.
std::string korvelleExe();

}  // namespace testing_support
