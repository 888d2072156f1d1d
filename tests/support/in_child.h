// in_child: runs a piece of a test in a forked child process, for state that
// is fixed once per process (cached directories, the crash handler) and for
// cases that end the process.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ChildResult {
  int exitCode = -1;  // exit status, -1 when killed by a signal
  int signal = 0;     // terminating signal, 0 when it exited
  std::string out;    // what the function returned
};

// Forks, runs fn in the child and hands its returned text back through a
// pipe. The child leaves with _exit, so no destructor of the parent's objects
// runs twice; core dumps are switched off for children that crash on purpose.
inline ChildResult inChild(const std::function<std::string()>& fn) {
  ChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  // Buffered output would otherwise be written by both processes.
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    close(fds[0]);
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    const std::string out = fn();
    const char* p = out.data();
    size_t left = out.size();
    while (left > 0) {
      const ssize_t n = write(fds[1], p, left);
      if (n <= 0) break;
      p += n;
      left -= static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n > 0) {
      result.out.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
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
