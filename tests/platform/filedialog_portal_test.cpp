// File dialogs through the desktop portal, against a real private session bus
// (dbus-daemon) and a scripted portal (portal_stub.py) that records what it
// was asked; and links opened with xdg-open.
// test-labels: threads
#include "platform/filedialog_portal.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <thread>
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

// The log's data directory is fixed once per process, so the whole test
// program shares one, set before anything asks for it.
auto* const g_xdg = testing_support::useTempXdg(diag::init, diag::shutdown);
std::string logText() { return readFile(g_xdg->dataDir() + "/Korvelle.log"); }

// Dialog state (the handle serial, "a portal was used") lives for the whole
// process. ctest runs every test in a process of its own; when the whole
// program runs at once, checks of the fresh state are limited to the first
// test that starts dialogs.
int g_testsWithDialogs = 0;

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Polls cond until it holds; generous, as the machine may be loaded.
bool waitUntil(const std::function<bool()>& cond, int seconds = 90) {
  return testing_support::waitUntil(cond, seconds);
}

// Polls the dialog until it is no longer open (either form of the poll).
template <typename Out>
int waitForOutcome(Out* paths) {
  int code = platform::kDialogOpen;
  waitUntil([&] {
    code = platform::pollDialog(paths);
    return code != platform::kDialogOpen;
  });
  return code;
}

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// A background process, terminated and reaped with the object.
class Child {
 public:
  // Output goes to the file `output`, to keep the test's own output
  // readable. The process is told to end with the test program, so a test
  // program that dies (a sanitizer stop, a crash) leaves no bus behind.
  bool start(const std::vector<std::string>& argv, const std::string& output) {
    pid_ = testing_support::spawnProcess(argv, {}, output, output);
    return pid_ > 0;
  }
  // Waits up to `seconds` for the process to end on its own; its exit code,
  // or -1 when it was killed by a signal or is still running.
  int wait(int seconds) {
    int status = 0;
    if (!waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, seconds)) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Child() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }

 private:
  pid_t pid_ = 0;
};

// One FileChooser call as the stub portal recorded it.
struct Call {
  std::string method, sender, parent, title;
  std::map<std::string, std::string> options;  // key -> "type value"
};

// Private bus and scripted portal per test.
class PortalTest : public ::testing::Test {
 protected:
  ~PortalTest() override { ++g_testsWithDialogs; }

  // Starts a session bus of our own (no service activation, so the real
  // portal never starts on it) and points the program at it.
  void startBus() {
    const std::string socket = dir_.file("bus");
    writeFile(dir_.file("bus.conf"),
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:path=" + socket + "</listen>"
              "<auth>EXTERNAL</auth><policy context=\"default\">"
              "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
              "<allow own=\"*\"/></policy></busconfig>\n");
    ASSERT_TRUE(bus_.start({"/usr/bin/dbus-daemon", "--config-file=" + dir_.file("bus.conf"),
                            "--nofork", "--nopidfile"},
                           dir_.file("bus.log")))
        << "dbus-daemon missing (scripts/deps.sh test)";
    address_ = "unix:path=" + socket;
    busEnv_ = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address_.c_str());
    ASSERT_TRUE(waitUntil([&] {
      const auto flags = static_cast<GDBusConnectionFlags>(
          G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
      GDBusConnection* c =
          g_dbus_connection_new_for_address_sync(address_.c_str(), flags, nullptr, nullptr, nullptr);
      if (c == nullptr) return false;
      g_dbus_connection_close_sync(c, nullptr, nullptr);
      g_object_unref(c);
      return true;
    })) << "the private bus did not come up";
  }

  // Starts the stub portal with one scripted answer per call (JSON objects).
  void startPortal(const std::string& answersJson) {
    writeFile(dir_.file("answers.json"), answersJson);
    ASSERT_TRUE(portal_.start({"/usr/bin/python3",
                               std::string(KORVELLE_SOURCE_DIR) + "/tests/platform/portal_stub.py",
                               dir_.file("ready"), dir_.file("record"),
                               dir_.file("answers.json")},
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
      if (word == "call") {
        out.emplace_back();
        out.back().method = rest;
      } else if (out.empty() || word == "end" || word == "close") {
        continue;
      } else if (word == "sender") {
        out.back().sender = rest;
      } else if (word == "parent") {
        out.back().parent = rest;
      } else if (word == "title") {
        out.back().title = rest;
      } else if (word == "opt") {
        const size_t keyEnd = rest.find(' ');
        out.back().options[rest.substr(0, keyEnd)] = rest.substr(keyEnd + 1);
      }
    }
    return out;
  }

  std::string file(const std::string& name) const { return dir_.file(name); }
  const std::string& dir() const { return dir_.path(); }

 private:
  TempDir dir_;
  std::string address_;
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
  const std::string early = dir() + "/früh.webp";
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"code": 0, "uris": ["file://)" + dir() +
              "/Mein%20Bild%20%C3%A4%C3%B6%C3%9F.jpg" + R"(",
                  "https://example.com/a.jpg", "sftp://host/b.jpg", "file://elsewhere/c.jpg",
                  "file://)" + second + R"("]},
                 {"code": 1},
                 {"early": true, "code": 0, "uris": ["file://)" + dir() + "/fr%C3%BCh.webp" +
              R"("]}])"));

  std::vector<std::string> paths;
  {
    ScopedEnv parent("KORVELLE_PARENT_WINDOW", "x11:4a00007");
    platform::startOpenDialog(
        "Bild öffnen",
        {{"Bilder", {"*.jpg", "*.png"}}, {"Leer", {}}, {"Videos", {"*.mp4"}}},
        "/home/u/Fotos ä", true);
    ASSERT_EQ(waitForOutcome(&paths), platform::kDialogChosen);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{picked, second}));
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogIdle);

  {
    ScopedEnv parent("KORVELLE_PARENT_WINDOW", nullptr);
    // A proposed name need not be UTF-8; the bus needs valid text.
    platform::startSaveDialog("Speichern unter", {}, "", "strand_v2\xff.jpg");
    paths = {"untouched"};
    EXPECT_EQ(waitForOutcome(&paths), platform::kDialogNoFiles);
    EXPECT_EQ(paths, std::vector<std::string>{"untouched"});

    // Only empty filters: no filter menu at all. The answer overtakes the reply.
    platform::startOpenDialog("Video", {{"Leer", {}}}, "/tmp", false);
    EXPECT_EQ(waitForOutcome(&paths), platform::kDialogChosen);
    EXPECT_EQ(paths, std::vector<std::string>{early});
  }

  const std::vector<Call> got = calls();
  ASSERT_EQ(got.size(), 3u) << record();
  const Call& open = got[0];
  EXPECT_EQ(open.method, "OpenFile");
  EXPECT_EQ(open.parent, "x11:4a00007");
  EXPECT_EQ(open.title, "Bild öffnen");
  const std::string token = open.options.at("handle_token");
  ASSERT_EQ(token.rfind("s 'korvelle", 0), 0u) << token;
  const int serial = std::atoi(token.c_str() + 11);
  if (fresh) {
    EXPECT_EQ(serial, 1);
  }
  EXPECT_EQ(open.options,
            (std::map<std::string, std::string>{
                {"handle_token", token},
                {"modal", "b true"},
                {"multiple", "b true"},
                {"filters",
                 "a(sa(us)) [('Bilder', [(uint32 0, '*.jpg'), (0, '*.png')]), "
                 "('Videos', [(0, '*.mp4')])]"},
                {"current_folder", "ay " + hex("/home/u/Fotos ä") + "00"},
            }));

  const Call& save = got[1];
  EXPECT_EQ(save.method, "SaveFile");
  EXPECT_EQ(save.parent, "");
  EXPECT_EQ(save.title, "Speichern unter");
  EXPECT_EQ(save.options,
            (std::map<std::string, std::string>{
                {"handle_token", "s 'korvelle" + std::to_string(serial + 1) + "'"},
                {"modal", "b true"},
                {"current_name", "s 'strand_v2\uFFFD.jpg'"},
            }));

  EXPECT_EQ(got[2].options,
            (std::map<std::string, std::string>{
                {"handle_token", "s 'korvelle" + std::to_string(serial + 2) + "'"},
                {"modal", "b true"},
                {"current_folder", "ay " + hex("/tmp") + "00"},
            }));

  const std::string log = logText();
  EXPECT_TRUE(contains(log, "OpenFile, Elternfenster x11:4a00007\n"));
  EXPECT_TRUE(contains(log, "SaveFile, Elternfenster (keines)\n"));
  EXPECT_TRUE(contains(log, "gewaehlt: " + picked + " · " + second + "\n"));
  EXPECT_TRUE(contains(log, "abgebrochen\n"));
  EXPECT_TRUE(platform::fileDialogUsesPortal());
}

TEST_F(PortalTest, SecondStartWhileOneIsOpenIsIgnored) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"trigger": ")" + file("go") + R"(", "code": 0, "uris": ["file:///erster.jpg"]},
                 {"code": 0, "uris": ["file:///zweiter.jpg"]}])"));
  platform::startOpenDialog("Erster", {}, "", false);
  ASSERT_TRUE(waitUntil([&] { return calls().size() == 1; })) << record();
  std::string path = "untouched";
  EXPECT_EQ(platform::pollDialog(&path), platform::kDialogOpen);

  platform::startSaveDialog("Zweiter", {}, "", "b.jpg");
  EXPECT_EQ(platform::pollDialog(&path), platform::kDialogOpen);
  ASSERT_TRUE(writeFile(file("go"), "go"));
  EXPECT_EQ(waitForOutcome(&path), platform::kDialogChosen);
  EXPECT_EQ(path, "/erster.jpg");
  EXPECT_EQ(platform::pollDialog(&path), platform::kDialogIdle);
  ASSERT_EQ(calls().size(), 1u) << record();
  EXPECT_EQ(calls()[0].title, "Erster");
}

TEST_F(PortalTest, ForcedAnswerWinsTheNextPoll) {
  std::string path;
  std::vector<std::string> paths;
  // Without any dialog.
  platform::setForcedDialogResult("/forciert/a.jpg");
  EXPECT_EQ(platform::pollDialog(&path), platform::kDialogChosen);
  EXPECT_EQ(path, "/forciert/a.jpg");
  EXPECT_EQ(platform::pollDialog(&path), platform::kDialogIdle);
  // An empty forced answer is "no files", not the previous dialog's files.
  platform::setForcedDialogResult(std::vector<std::string>{});
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogNoFiles);
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogIdle);

  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"trigger": ")" + file("go") + R"(", "code": 0, "uris": ["file:///echt.jpg"]}])"));
  // Set before the dialog starts: the very next poll takes it, worker or not.
  platform::setForcedDialogResult(std::vector<std::string>{"/f/1.jpg", "/f/2.jpg"});
  platform::startOpenDialog("Bild", {}, "", true);
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogChosen);
  EXPECT_EQ(paths, (std::vector<std::string>{"/f/1.jpg", "/f/2.jpg"}));
  ASSERT_TRUE(waitUntil([&] { return calls().size() == 1; })) << record();
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogOpen);

  // Set while the dialog is open: wins too, and the dialog's own answer
  // follows once it ends. Until then no new dialog can start.
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
  EXPECT_EQ(calls().size(), 1u) << record();
  EXPECT_TRUE(contains(logText(), "voriger Dialog noch offen — kein neuer"));
}

TEST_F(PortalTest, UnansweredDialogIsGivenUpAndClosed) {
  struct RestoreTimeout {
    ~RestoreTimeout() { platform::setDialogTimeoutForTesting(180000); }
  } restore;
  platform::setDialogTimeoutForTesting(1500);
  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"never": true}])"));
  std::vector<std::string> paths{"untouched"};
  platform::startOpenDialog("Bild", {}, "", false);
  EXPECT_EQ(waitForOutcome(&paths), platform::kDialogNoFiles);
  EXPECT_EQ(paths, std::vector<std::string>{"untouched"});
  EXPECT_TRUE(platform::fileDialogUsesPortal());

  // The abandoned dialog is taken off the desktop.
  const std::vector<Call> got = calls();
  ASSERT_EQ(got.size(), 1u);
  const std::string token = got[0].options.at("handle_token");  // "s 'korvelleN'"
  std::string sender = got[0].sender.substr(1);
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  EXPECT_TRUE(contains(record(), "close /org/freedesktop/portal/desktop/request/" + sender + "/" +
                                     token.substr(3, token.size() - 4) + "\n"))
      << record();
}

TEST_F(PortalTest, RequestPathChosenByThePortalIsFollowed) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  const std::string legacy = "/org/freedesktop/portal/desktop/request/alt/r1";
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"path": ")" + legacy + R"(", "trigger": ")" +
                                      file("go") +
                                      R"(", "code": 0, "uris": ["file:///tmp/x.jpg"]}])"));
  std::string path;
  platform::startOpenDialog("Bild", {}, "", false);
  // Such a portal answers only after the user did; the log line comes once
  // the program listens on the returned path.
  const std::string line = "Antwortpfad des Portals: " + legacy +
                           " (berechnet war /org/freedesktop/portal/desktop/request/";
  ASSERT_TRUE(waitUntil([&] { return contains(logText(), line); })) << logText();
  ASSERT_TRUE(writeFile(file("go"), "go"));
  EXPECT_EQ(waitForOutcome(&path), platform::kDialogChosen);
  EXPECT_EQ(path, "/tmp/x.jpg");
}

TEST_F(PortalTest, ProgramEndingWithADialogOpenStopsItAndJoinsTheWorker) {
  ASSERT_NO_FATAL_FAILURE(startBus());
  ASSERT_NO_FATAL_FAILURE(startPortal(R"([{"never": true}])"));
  // This very program, running only the case below, which returns while its
  // dialog is still open and so ends the process with the worker waiting.
  ScopedEnv recordEnv("KORVELLE_TEST_PORTAL_RECORD", file("record").c_str());
  Child child;
  ASSERT_TRUE(child.start({"/proc/self/exe", "--gtest_also_run_disabled_tests",
                           "--gtest_filter=PortalAtExit.DISABLED_ReturnsWithTheDialogOpen"},
                          file("child.log")));
  // Far below the 180 s a dialog may stay open: the end of the program does not wait for it.
  EXPECT_EQ(child.wait(120), 0) << readFile(file("child.log"));
  EXPECT_TRUE(contains(readFile(file("child.log")), "[  PASSED  ] 1 test."));
  EXPECT_TRUE(contains(record(), "close /org/freedesktop/portal/desktop/request/")) << record();
}

// Run only as the child of the case above.
TEST(PortalAtExit, DISABLED_ReturnsWithTheDialogOpen) {
  const char* record = std::getenv("KORVELLE_TEST_PORTAL_RECORD");
  ASSERT_NE(record, nullptr);
  platform::startOpenDialog("Offen bis zum Ende", {}, "", false);
  ASSERT_TRUE(waitUntil([&] { return contains(readFile(record), "\nend\n"); }));
  std::vector<std::string> paths;
  EXPECT_EQ(platform::pollDialog(&paths), platform::kDialogOpen);
}

TEST(LocalPathFromUri, HostsDecideWhatIsLocal) {
  const std::string self = g_get_host_name();
  const std::pair<std::string, std::string> cases[] = {
      {"file:///home/a.jpg", "/home/a.jpg"},
      {"file://localhost/home/a.jpg", "/home/a.jpg"},
      {"file://LOCALHOST/home/a.jpg", "/home/a.jpg"},
      {"file://" + self + "/home/a.jpg", "/home/a.jpg"},  // this machine by name
      {"file://elsewhere/home/a.jpg", ""},
      {"file://192.168.1.2/home/a.jpg", ""},
      {"file://localhost.example.org/home/a.jpg", ""},
  };
  for (const auto& [uri, path] : cases) EXPECT_EQ(platform::localPathFromUri(uri), path) << uri;
}

TEST(LocalPathFromUri, DecodesLocalFilesAndRejectsTheRest) {
  EXPECT_EQ(platform::localPathFromUri("file:///home/u/My%20Photo%C3%A4.jpg"), "/home/u/My Photoä.jpg");
  EXPECT_EQ(platform::localPathFromUri("file:///a%zz"), "");      // bad escape
  EXPECT_EQ(platform::localPathFromUri("file:///a%2Fb"), "");     // escaped separator
  EXPECT_EQ(platform::localPathFromUri("file:///a%00b"), "");     // escaped NUL
  EXPECT_EQ(platform::localPathFromUri(std::string("file:///a\0b", 11)), "");
  EXPECT_EQ(platform::localPathFromUri("file://elsewhere/x.jpg"), "");
  EXPECT_EQ(platform::localPathFromUri("https://example.com/x.jpg"), "");
  EXPECT_EQ(platform::localPathFromUri("file:x.jpg"), "");
  EXPECT_EQ(platform::localPathFromUri(""), "");
}

TEST(OpenUri, TestSwitchOnlyLogsOtherwiseTheHandlerRunsDetached) {
  TempDir dir;
  // A stand-in handler that notes its argument and then stays until released.
  const std::string script = dir.file("xdg-open");
  ASSERT_TRUE(writeFile(script, "#!/bin/sh\n"
                                "printf '%s\\n' \"$1\" >> '" + dir.file("got") + "'\n"
                                "i=0\n"
                                "while [ ! -e '" + dir.file("release") + "' ] && [ $i -lt 1200 ]; do\n"
                                "  sleep 0.1; i=$((i+1))\n"
                                "done\n"
                                "touch '" + dir.file("done") + "'\n"));
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  const char* oldPath = std::getenv("PATH");
  ScopedEnv path("PATH", (dir.path() + ":" + (oldPath ? oldPath : "/usr/bin:/bin")).c_str());

  platform::openUri("");
  {
    ScopedEnv noOpen("KORVELLE_NO_OPEN", "1");
    platform::openUri("https://example.org/a?b=1&c=2");
  }
  EXPECT_TRUE(contains(logText(),
                       "nicht geoeffnet (Pruefschalter): https://example.org/a?b=1&c=2\n"));

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
