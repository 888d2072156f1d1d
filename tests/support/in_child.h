// in_child: runs a piece of a test in a forked child process, for state that
// is fixed once per process (cached directories, the crash handler) and for
// cases that end the process.
#pragma once

#include <signal.h>
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

// A forked child that stays for orders, for tests of what several processes
// share: start runs in it and the line it returns comes back as reply(); then
// each order byte goes to onOrder until onOrder returns false or the orders
// end, and the child leaves with _exit(0). Core dumps are off; killed when the
// object goes away unfinished.
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<std::string()>& start, const std::function<bool(char)>& onOrder = {}) {
    int up[2];
    if (pipe(up) != 0 || pipe(orders_) != 0) return;
    std::fflush(stdout);
    std::fflush(stderr);
    pid_ = fork();
    if (pid_ == 0) {
      close(up[0]);
      close(orders_[1]);
      rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      const std::string line = start() + "\n";
      if (write(up[1], line.data(), line.size()) < 0) _exit(1);
      for (char what = 0; read(orders_[0], &what, 1) == 1 && (!onOrder || onOrder(what));) {
      }
      _exit(0);
    }
    close(up[1]);
    close(orders_[0]);
    for (char c = 0; read(up[0], &c, 1) == 1 && c != '\n';) reply_ += c;
    close(up[0]);
  }
  ~ForkedChild() {
    if (pid_ > 0 && !finished_) kill(pid_, SIGKILL);
    finish();
  }
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  pid_t pid() const { return pid_; }
  // What start returned ("" when the child failed before).
  const std::string& reply() const { return reply_; }
  bool order(char what) { return write(orders_[1], &what, 1) == 1; }
  // Ends the orders and waits (blocks) for the child: its terminating
  // signal, 0 after an exit.
  int finish() {
    if (orders_[1] >= 0) close(orders_[1]);
    orders_[1] = -1;
    int status = 0;
    while (pid_ > 0 && !finished_ && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid_ > 0 && !finished_) signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    finished_ = true;
    return signal_;
  }

 private:
  pid_t pid_ = -1;
  int orders_[2] = {-1, -1};
  bool finished_ = false;
  int signal_ = 0;
  std::string reply_;
};

}  // namespace testing_support
