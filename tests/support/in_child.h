// in_child: runs a piece of a test in a forked child process, for state fixed once per process
// (cached directories, the crash handler) and for cases that end the process.
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

// How a child ended; out is what its function returned.
using ChildResult = RunResult;

// Runs fn in a child (forkQuietly) that hands its text back through a file and leaves with _exit.
inline ChildResult inChild(const std::function<std::string()>& fn) {
  ChildResult result;
  const TempDir dir;
  const pid_t pid = forkQuietly();
  if (pid == 0) {
    writeFile(dir.file("out"), fn());
    _exit(0);
  }
  setExit(&result, reapStatus(pid));
  result.out = readFile(dir.file("out"));
  return result;
}

// Environment changes made in the child before it runs: a null value unsets.
using EnvChanges = std::vector<std::pair<std::string, const char*>>;

inline void applyEnv(const EnvChanges& env) {
  for (const auto& [name, value] : env) assignEnv(name, value);
}

// inChild with the environment changed first, in the child only.
inline ChildResult inChild(const EnvChanges& env, const std::function<std::string()>& fn) {
  return inChild([&] {
    applyEnv(env);
    return fn();
  });
}

// A child (forkQuietly) that runs start, whose line comes back as reply(), then hands each order byte to
// onOrder until it returns false or the orders end; killed when left unfinished.
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<std::string()>& start, const std::function<bool(char)>& onOrder = {}) {
    int up[2];
    if (pipe(up) != 0 || pipe(orders_) != 0) return;
    pid_ = forkQuietly();
    if (pid_ == 0) {
      close(up[0]);
      close(orders_[1]);
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
  // Ends the orders and waits (blocks) for the child: its terminating signal, 0 after an exit.
  int finish() {
    if (orders_[1] >= 0) close(orders_[1]);
    orders_[1] = -1;
    if (pid_ > 0 && !finished_) {
      const int status = reapStatus(pid_);
      signal_ = status != -1 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
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
