// portal_session: background processes (a session bus, a portal) that end with their objects.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "support/e2e_harness.h"
#include "support/test_support.h"

namespace flow_fixtures {

// A background process, terminated and reaped with the object.
class Background {
 public:
  Background() = default;
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  ~Background() { stop(); }

  // Output and errors go to the file output; the child dies with the test program.
  bool start(const std::vector<std::string>& argv, const std::string& output) {
    pid_ = testing_support::spawnProcess(argv, {}, output, output);
    return pid_ > 0;
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    testing_support::waitProcess(pid_);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
};

}  // namespace flow_fixtures
