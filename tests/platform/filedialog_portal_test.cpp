// File dialogs through the desktop portal, against a private dbus-daemon and a
// scripted portal (portal_stub.py) that records what it was asked; xdg-open links.
// test-labels: threads
#include "platform/filedialog_portal.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <utility>

#include "platform/log.h"
#include "platform/uri.h"
#include "support/temp_xdg.h"
#include "support/test_support.h"

using testing_support::readFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::writeFile;

namespace {

// The log's data directory is fixed once per process: one for the whole program.
auto* const g_xdg = testing_support::useTempXdg(diag::init, diag::shutdown);
std::string logText() { return readFile(g_xdg->dataDir() + "/Korvelle.log"); }

// Dialog state (handle serial, "a portal was used") lives per process: fresh-state
// checks only in the first test with dialogs when the whole program runs at once.
int g_testsWithDialogs = 0;

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Generous, as the machine may be loaded.
bool waitUntil(const std::function<bool()>& cond, int seconds = 90) {
  return testing_support::waitUntil(cond, seconds);
}

// Polls the dialog until it is no longer open (either form of the poll).
template <typename Out>
int waitForOutcome(Out* paths, int seconds = 90) {
  int code = platform::kDialogOpen;
  waitUntil([&] { return (code = platform::pollDialog(paths)) != platform::kDialogOpen; }, seconds);
  return code;
}

// A background process, terminated and reaped with the object.
struct Child {
  bool start(const std::vector<std::string>& argv, const std::string& output) {
    return (pid = testing_support::spawnProcess(argv, {}, output, output)) > 0;
  }
  // Its exit code once it ended on its own within `seconds`, else -1.
  int wait(int seconds) {
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds)) return -1;
    pid = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Child() {
    if (pid > 0 && kill(pid, SIGTERM) == 0) testing_support::waitProcess(pid);
  }
  pid_t pid = 0;
};

// One FileChooser call as the stub portal recorded it.
struct Call {
  std::map<std::string, std::string> fields;   // "call" (the method), "sender", "parent", "title"
  std::map<std::string, std::string> options;  // key -> "type value"
};

// Private bus and scripted portal per test.
class PortalTest : public ::testing::Test {
 protected:
  ~PortalTest() override { ++g_testsWithDialogs; }

  // A session bus of our own, without service activation: the real portal never starts on it.
  void startBus() {
    const std::string socket = dir_.file("bus");
    writeFile(dir_.file("bus.conf"),
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:path=" + socket + "</listen>"
              "<auth>EXTERNAL</auth><policy context=\"default\">"
              "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
              "<allow own=\"*\"/></policy></busconfig>\n");
    // The daemon prints its address once it listens.
    ASSERT_TRUE(bus_.start({"/usr/bin/dbus-daemon", "--config-file=" + dir_.file("bus.conf"), "--nofork",
                            "--nopidfile", "--print-address=1"},
                           dir_.file("bus.log")))
        << "dbus-daemon missing (scripts/deps.sh test)";
    busEnv_ = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str());
    ASSERT_TRUE(waitUntil([&] { return contains(readFile(dir_.file("bus.log")), "unix:"); }))
        << "the private bus did not come up";
  }

  // Starts the stub portal with one scripted answer per call (JSON objects).
  void startPortal(const std::string& answersJson) {
    writeFile(dir_.file("answers.json"), answersJson);
    ASSERT_TRUE(portal_.start({"/usr/bin/python3", std::string(KORVELLE_SOURCE_DIR) + "/tests/platform/portal_stub.py",
                               dir_.file("ready"), dir_.file("record"), dir_.file("answers.json")},
                              dir_.file("portal.log")));
    ASSERT_TRUE(waitUntil([&] { return exists(dir_.file("ready")); }))
        << "stub portal did not start (needs python3-gi, gir1.2-glib-2.0)";
  }

  std::string record() const { return readFile(dir_.file("record")); }

  std::vector<Call> calls() const {
    std::vector<Call> out;
    std::istringstream in(record());
    for (std::string line; std::getline(in, line);) {
      const size_t space = line.find(' ');
      const std::string word = line.substr(0, space);
      const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
      if (word == "call") out.emplace_back();
      if (out.empty() || word == "end" || word == "close") continue;
      if (word == "opt") {
        const size_t keyEnd = rest.find(' ');
        out.back().options[rest.substr(0, keyEnd)] = rest.substr(keyEnd + 1);
      } else {
        out.back().fields[word] = rest;
      }
    }
    return out;
  }

  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::unique_ptr<ScopedEnv> busEnv_;
  Child bus_;
  Child portal_;
};

TEST_F(PortalTest, NoBusNoPortalOrTestSwitchEndWithoutFilesAndNoPortalUse) {
  const bool fresh = g_testsWithDialogs == 0;
  std::vector<std::string> paths{"untouched"};
  {
    ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + file("no-bus-here")).c_str());
    platform::startOpenDialog("Bild waehlen", {}, "", false);
    EXPECT_EQ(waitForOutcome(&paths), platform::kDialogNoFiles);
    EXPECT_TRUE(contains(logText(), "kein Sitzungsbus: ")) << logText();
  }

  // A bus where nobody owns the portal's name.
  ASSERT_NO_FATAL_FAILURE(startBus());
  platform::startSaveDialog("Speichern", {}, "", "a.jpg");
  EXPECT_EQ(waitForOutcome(&paths), platform::kDialogNoFiles);
  EXPECT_TRUE(contains(logText(), "Portal antwortet nicht: ")) << logText();

  // The test switch, set to anything (even empty), keeps a working portal unasked.
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"code": 0, "uris": ["file:///tmp/x.jpg"]}])"));
  for (const char* value : {"1", ""}) {
    ScopedEnv noPortal("KORVELLE_NO_PORTAL", value);
    platform::startOpenDialog("Bild waehlen", {}, "", false);
    EXPECT_EQ(waitForOutcome(&paths), platform::kDialogNoFiles);
  }
  EXPECT_TRUE(contains(logText(), "KORVELLE_NO_PORTAL gesetzt — kein Dialog"));
  EXPECT_TRUE(calls().empty());

  EXPECT_EQ(paths, std::vector<std::string>{"untouched"});
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogIdle);
  if (fresh) {
    EXPECT_FALSE(platform::fileDialogUsesPortal());
  }
}

TEST_F(PortalTest, OpenAndSaveSendTheirOptionsAndReturnDecodedLocalPaths) {
  const bool fresh = g_testsWithDialogs == 0;
  ASSERT_NO_FATAL_FAILURE(startBus());
  const std::string picked = dir() + "/Mein Bild äöß.jpg";
  const std::string second = dir() + "/zweites.png";
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"code": 0, "uris": ["file://)" + dir() +
                                      R"(/Mein%20Bild%20%C3%A4%C3%B6%C3%9F.jpg", "https://example.com/a.jpg",
                                        "sftp://host/b.jpg", "file://elsewhere/c.jpg", "file://)" +
                                      second + R"("]},
                                      {"code": 1},
                                      {"early": true, "code": 0, "uris": ["file://)" + dir() +
                                      R"(/fr%C3%BCh.webp"]}])"));

  std::vector<std::string> paths;
  {
    ScopedEnv parent("KORVELLE_PARENT_WINDOW", "x11:4a00007");
    platform::startOpenDialog("Bild öffnen", {{"Bilder", {"*.jpg", "*.png"}}, {"Leer", {}}, {"Videos", {"*.mp4"}}},
                              "/home/u/Fotos ä", true);
    ASSERT_EQ(waitForOutcome(&paths), platform::kDialogChosen);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{picked, second}));
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogIdle);

  ScopedEnv parent("KORVELLE_PARENT_WINDOW", nullptr);
  // A proposed name need not be UTF-8; the bus needs valid text.
  platform::startSaveDialog("Speichern unter", {}, "", "strand_v2\xff.jpg");
  paths = {"untouched"};
  EXPECT_EQ(waitForOutcome(&paths), platform::kDialogNoFiles);
  EXPECT_EQ(paths, std::vector<std::string>{"untouched"});
  // Only empty filters: no filter menu at all. The answer overtakes the reply.
  platform::startOpenDialog("Video", {{"Leer", {}}}, "/tmp", false);
  EXPECT_EQ(waitForOutcome(&paths), platform::kDialogChosen);
  EXPECT_EQ(paths, std::vector<std::string>{dir() + "/früh.webp"});

  const std::vector<Call> got = calls();
  ASSERT_EQ(got.size(), 3u) << record();
  const std::string token = got[0].options.at("handle_token");
  ASSERT_EQ(token.rfind("s 'korvelle", 0), 0u) << token;
  const int serial = std::atoi(token.c_str() + 11);
  if (fresh) {
    EXPECT_EQ(serial, 1);
  }
  using Fields = std::map<std::string, std::string>;
  EXPECT_EQ(got[0].fields, (Fields{{"call", "OpenFile"}, {"parent", "x11:4a00007"}, {"title", "Bild öffnen"},
                                   {"sender", got[0].fields.at("sender")}}));
  EXPECT_EQ(got[0].options, (Fields{{"handle_token", token},
                                    {"modal", "b true"},
                                    {"multiple", "b true"},
                                    {"filters", "a(sa(us)) [('Bilder', [(uint32 0, '*.jpg'), (0, '*.png')]), "
                                                "('Videos', [(0, '*.mp4')])]"},
                                    {"current_folder", "ay 2f686f6d652f752f466f746f7320c3a400"}}));
  EXPECT_EQ(got[1].fields, (Fields{{"call", "SaveFile"}, {"parent", ""}, {"title", "Speichern unter"},
                                   {"sender", got[1].fields.at("sender")}}));
  EXPECT_EQ(got[1].options, (Fields{{"handle_token", "s 'korvelle" + std::to_string(serial + 1) + "'"},
                                    {"modal", "b true"},
                                    {"current_name", "s 'strand_v2\uFFFD.jpg'"}}));
  EXPECT_EQ(got[2].options, (Fields{{"handle_token", "s 'korvelle" + std::to_string(serial + 2) + "'"},
                                    {"modal", "b true"},
                                    {"current_folder", "ay 2f746d7000"}}));

  const std::string log = logText();
  EXPECT_TRUE(contains(log, "gewaehlt: " + picked + " · " + second + "\n"));
  EXPECT_TRUE(contains(log, "abgebrochen\n"));
  EXPECT_TRUE(platform::fileDialogUsesPortal());
}

// A second start while one is open is ignored; a forced answer wins the next
// poll whether or not a dialog is open, and the dialog's own answer follows.
TEST_F(PortalTest, SecondStartIsIgnoredAndForcedAnswersWinTheNextPoll) {
  std::string path;
  std::vector<std::string> paths;
  // An empty forced answer is "no files", not the previous dialog's files.
  platform::setForcedDialogResult(std::vector<std::string>{});
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogNoFiles);
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogIdle);

  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"trigger": ")" + file("go") + R"(", "code": 0, "uris": ["file:///echt.jpg"]},
                                         {"code": 0, "uris": ["file:///zweiter.jpg"]}])"));
  // Set before the dialog starts: the very next poll takes it, worker or not.
  platform::setForcedDialogResult(std::vector<std::string>{"/f/1.jpg", "/f/2.jpg"});
  platform::startOpenDialog("Erster", {}, "", true);
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogChosen);
  EXPECT_EQ(paths, (std::vector<std::string>{"/f/1.jpg", "/f/2.jpg"}));
  ASSERT_TRUE(waitUntil([&] { return calls().size() == 1; })) << record();
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogOpen);
  platform::startSaveDialog("Zweiter", {}, "", "b.jpg");
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogOpen);

  // Set while the dialog is open: wins too; no new dialog starts until the dialog's own answer came.
  platform::setForcedDialogResult("/f/3.jpg");
  EXPECT_EQ(platform::pollDialog(&path), platform::kDialogChosen);
  EXPECT_EQ(path, "/f/3.jpg");
  platform::startOpenDialog("Noch eins", {}, "", false);
  ASSERT_TRUE(writeFile(file("go"), "go"));
  int code = platform::kDialogIdle;
  ASSERT_TRUE(waitUntil([&] {
    code = platform::pollDialog(&path);
    return code != platform::kDialogIdle && code != platform::kDialogOpen;
  }));
  EXPECT_EQ(code, platform::kDialogChosen);
  EXPECT_EQ(path, "/echt.jpg");
  EXPECT_EQ(platform::pollDialog(&path), platform::kDialogIdle);
  ASSERT_EQ(calls().size(), 1u) << record();
  EXPECT_EQ(calls()[0].fields["title"], "Erster");
  EXPECT_TRUE(contains(logText(), "voriger Dialog noch offen — kein neuer"));
}

// A portal older than 0.9 answers on a request path of its own choosing; one
// that never answers is given up and its dialog closed.
TEST_F(PortalTest, OwnRequestPathsAreFollowedAndUnansweredDialogsGivenUp) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  const std::string legacy = "/org/freedesktop/portal/desktop/request/alt/r1";
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"path": ")" + legacy + R"(", "trigger": ")" + file("go") +
                                      R"(", "code": 0, "uris": ["file:///tmp/x.jpg"]}, {"never": true}])"));
  std::vector<std::string> paths;
  platform::startOpenDialog("Bild", {}, "", false);
  // The log line comes once the program listens on the returned path.
  const std::string line =
      "Antwortpfad des Portals: " + legacy + " (berechnet war /org/freedesktop/portal/desktop/request/";
  ASSERT_TRUE(waitUntil([&] { return contains(logText(), line); })) << logText();
  ASSERT_TRUE(writeFile(file("go"), "go"));
  EXPECT_EQ(waitForOutcome(&paths), platform::kDialogChosen);
  EXPECT_EQ(paths, std::vector<std::string>{"/tmp/x.jpg"});

  struct RestoreTimeout {
    ~RestoreTimeout() { platform::setDialogTimeoutForTesting(180000); }
  } restore;
  platform::setDialogTimeoutForTesting(1500);
  paths = {"untouched"};
  platform::startOpenDialog("Bild", {}, "", false);
  EXPECT_EQ(waitForOutcome(&paths), platform::kDialogNoFiles);
  EXPECT_EQ(paths, std::vector<std::string>{"untouched"});
  // The stub records a Close only when it reaches the request it exported.
  EXPECT_EQ(calls().size(), 2u);
  EXPECT_TRUE(contains(record(), "\nclose /org/freedesktop/portal/desktop/request/")) << record();
}

// Run as children: one ends the process with its dialog open, the other starts
// one after the stop. Both dialogs are closed, neither waits the 180 s limit.
TEST_F(PortalTest, StoppingEndsAnOpenDialogAndEveryLaterOne) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"never": true}, {"never": true}])"));
  ScopedEnv recordEnv("KORVELLE_TEST_PORTAL_RECORD", file("record").c_str());
  for (const char* name : {"ReturnsWithTheDialogOpen", "StartsAfterTheStop"}) {
    Child child;
    ASSERT_TRUE(child.start({"/proc/self/exe", "--gtest_also_run_disabled_tests",
                             std::string("--gtest_filter=PortalAtExit.DISABLED_") + name},
                            file("child.log")));
    // Well below the 180 s an unstopped dialog would keep the process.
    EXPECT_EQ(child.wait(120), 0) << name << readFile(file("child.log"));
    EXPECT_TRUE(contains(readFile(file("child.log")), "[  PASSED  ] 1 test.")) << name;
  }
  const std::string said = record();
  size_t closed = 0;
  for (size_t at = said.find("\nclose /"); at != std::string::npos; at = said.find("\nclose /", at + 1)) ++closed;
  EXPECT_EQ(closed, 2u) << said;
}

TEST(PortalAtExit, DISABLED_ReturnsWithTheDialogOpen) {
  const char* record = std::getenv("KORVELLE_TEST_PORTAL_RECORD");
  ASSERT_NE(record, nullptr);
  platform::startOpenDialog("Offen bis zum Ende", {}, "", false);
  ASSERT_TRUE(waitUntil([&] { return contains(readFile(record), "\nend\n"); }));
  std::vector<std::string> paths;
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogOpen);
}

TEST(PortalAtExit, DISABLED_StartsAfterTheStop) {
  platform::stopFileDialog();
  platform::startOpenDialog("Nach dem Ende", {}, "", false);
  std::vector<std::string> paths{"untouched"};
  EXPECT_EQ(waitForOutcome(&paths, 60), platform::kDialogNoFiles);
  EXPECT_EQ(paths, std::vector<std::string>{"untouched"});
}

TEST(LocalPathFromUri, DecodesLocalFilesAndRejectsTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      // Dropped files cover plain, localhost, other hosts and bad escapes.
      {"file://LOCALHOST/home/a.jpg", "/home/a.jpg"},
      {"file://" + std::string(g_get_host_name()) + "/home/a.jpg", "/home/a.jpg"},  // this machine by name
      {"file://localhost.example.org/home/a.jpg", ""},
      {"file:///a%2Fb", ""},  // escaped separator
      {std::string("file:///a\0b", 11), ""},
      {"https://example.com/x.jpg", ""},
      {"file:x.jpg", ""},
      {"", ""},
  };
  for (const auto& [uri, path] : cases) EXPECT_EQ(platform::localPathFromUri(uri), path) << uri;
}

TEST(OpenUri, TestSwitchOnlyLogsOtherwiseTheHandlerRunsDetached) {
  TempDir dir;
  // A stand-in handler that notes its argument and then stays until released.
  const std::string script = dir.file("xdg-open");
  ASSERT_TRUE(writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + dir.file("got") + "'\ni=0\n"
                                "while [ ! -e '" + dir.file("release") + "' ] && [ $i -lt 1200 ]; do\n"
                                "  sleep 0.1; i=$((i+1))\ndone\ntouch '" + dir.file("done") + "'\n"));
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  const char* oldPath = std::getenv("PATH");
  ScopedEnv path("PATH", (dir.path() + ":" + (oldPath ? oldPath : "/usr/bin:/bin")).c_str());

  platform::openUri("");
  // The switch set to "1" is seen at the about screens; anything else opens.
  ScopedEnv noOpen("KORVELLE_NO_OPEN", "0");
  platform::openUri("mailto:team@example.org");
  // Returned while the handler still waits for its release.
  EXPECT_FALSE(exists(dir.file("done")));
  ASSERT_TRUE(waitUntil([&] { return exists(dir.file("got")); }));
  EXPECT_TRUE(contains(logText(), "oeffnen: mailto:team@example.org\n"));
  ASSERT_TRUE(writeFile(dir.file("release"), ""));
  ASSERT_TRUE(waitUntil([&] { return exists(dir.file("done")); }));
  // Only the one link reached the handler.
  EXPECT_EQ(readFile(dir.file("got")), "mailto:team@example.org\n");
}

}  // namespace
