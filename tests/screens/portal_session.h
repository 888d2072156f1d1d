// portal_session: a private session bus (dbus-daemon) with the scripted
// portal of tests/platform/portal_stub.py on it, for flows that go through a
// real file-dialog round trip. The bus and the stub end with the object.
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

// A private session bus with the scripted portal answering from answersJson
// (one JSON object per call, see portal_stub.py).
class PortalSession {
 public:
  // False (with the reason in *why) when the bus or the stub did not come up.
  bool start(const std::string& answersJson, std::string* why) {
    using testing_support::writeFile;
    const std::string socket = dir_.file("bus");
    writeFile(dir_.file("bus.conf"),
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:path=" + socket + "</listen>"
              "<auth>EXTERNAL</auth><policy context=\"default\">"
              "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
              "<allow own=\"*\"/></policy></busconfig>\n");
    if (!bus_.start({"/usr/bin/dbus-daemon", "--config-file=" + dir_.file("bus.conf"), "--nofork", "--nopidfile"},
                    dir_.file("bus.log")) ||
        !testing_support::waitUntil([&] { return access(socket.c_str(), F_OK) == 0; })) {
      *why = "dbus-daemon did not start (scripts/deps.sh test)";
      return false;
    }
    address_ = "unix:path=" + socket;
    env_ = std::make_unique<testing_support::ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
    writeFile(dir_.file("answers.json"), answersJson);
    if (!portal_.start({"/usr/bin/python3", std::string(KORVELLE_SOURCE_DIR) + "/tests/platform/portal_stub.py",
                        dir_.file("ready"), dir_.file("record"), dir_.file("answers.json")},
                       dir_.file("portal.log")) ||
        !testing_support::waitUntil([&] { return access(dir_.file("ready").c_str(), F_OK) == 0; })) {
      *why = "stub portal did not start (needs python3-gi): " + testing_support::readFile(dir_.file("portal.log"));
      return false;
    }
    return true;
  }
  // What the stub recorded ("call OpenFile", "title …", …).
  std::string record() const { return testing_support::readFile(dir_.file("record")); }
  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& address() const { return address_; }

 private:
  testing_support::TempDir dir_;
  std::string address_;
  Background bus_;
  Background portal_;
  std::unique_ptr<testing_support::ScopedEnv> env_;
};

}  // namespace flow_fixtures
