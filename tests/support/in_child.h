// in_child: runs a piece of a test in a forked child process, for state that
// is fixed once per process (cached directories, the crash handler) and for
// cases that end the process.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace testing_support {

struct ChildResult {
  int exitCode = -1;  // exit status, -1 when killed by a signal
  int signal = 0;     // terminating signal, 0 when it exited
  std::string out;    // what the function returned
};

// Forks, runs fn in the child and hands its returned text back through a
// file. The child leaves with _exit, so no destructor of the parent's objects
// runs twice; core dumps are switched off for children that crash on purpose.
inline ChildResult inChild(const std::function<std::string()>& fn) {
  ChildResult result;
  const TempDir dir;
  // Buffered output would otherwise be written by both processes.
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    writeFile(dir.file("out"), fn());
    _exit(0);
  }
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (pid < 0) return result;
  result.out = readFile(dir.file("out"));
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// Environment changes made in the child before it runs: a null value unsets.
using EnvChanges = std::vector<std::pair<std::string, const char*>>;

inline void applyEnv(const EnvChanges& env) {
  for (const auto& [name, value] : env) {
    if (value) {
      setenv(name.c_str(), value, 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

// inChild with the environment changed first, in the child only.
inline ChildResult inChild(const EnvChanges& env, const std::function<std::string()>& fn) {
  return inChild([&] {
    applyEnv(env);
    return fn();
  });
}

}  // namespace testing_support
