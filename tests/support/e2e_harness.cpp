#include "support/e2e_harness.h"

#include "core/save_crypt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Variables a run must not inherit from the test's own environment.
const std::vector<std::string> kNotInherited = {
    "DISPLAY=", "WAYLAND_DISPLAY=", "HOME=", "LANG=", "LANGUAGE=", "XAUTHORITY=",
    "DBUS_SESSION_BUS_ADDRESS=", "XDG_", "KORVELLE_", "SDL_", "LC_"};

// Reaps pid if it has ended; fills status.
bool reap(pid_t pid, bool block, ExitStatus* status) {
  int raw = 0;
  pid_t r;
  do {
    r = waitpid(pid, &raw, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r != pid) return false;
  status->exited = true;
  if (WIFEXITED(raw)) status->exitCode = WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) status->signal = WTERMSIG(raw);
  return true;
}

void stopProcess(pid_t pid) {
  ExitStatus ignored;
  kill(pid, SIGTERM);
  auto start = std::chrono::steady_clock::now();
  while (secondsSince(start) < 5) {
    if (reap(pid, false, &ignored)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  reap(pid, true, &ignored);
}

struct FileStamp {
  bool exists = false;
  ino_t inode = 0;
  long long mtimeNs = 0;
  off_t size = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const std::string& path) {
  struct stat st {};
  FileStamp s;
  if (stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.inode = st.st_ino;
  s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  s.size = st.st_size;
  return s;
}

std::vector<DumpEntry> parseDump(const std::string& text) {
  std::vector<DumpEntry> out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    DumpEntry e;
    if (fields >> e.id >> e.rect.x >> e.rect.y >> e.rect.w >> e.rect.h) out.push_back(e);
  }
  return out;
}

}  // namespace

// --- VirtualDisplay --------------------------------------------------------------

VirtualDisplay::VirtualDisplay(int width, int height) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  pid_ = spawnProcess({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten",
                       "tcp", "-noreset"},
                      {{}, kNotInherited}, "", "", fds[1]);
  close(fds[1]);
  std::string number;
  auto start = std::chrono::steady_clock::now();
  while (secondsSince(start) < kE2ETimeout) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    char buf[32];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, static_cast<size_t>(n));
    if (number.find('\n') != std::string::npos) break;
  }
  close(fds[0]);
  while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
  if (!number.empty()) name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
  if (pid_ <= 0) return;
  resume();
  stopProcess(pid_);
}

void VirtualDisplay::pause() {
  if (pid_ > 0 && kill(pid_, SIGSTOP) == 0) paused_ = true;
}

void VirtualDisplay::resume() {
  if (pid_ > 0 && paused_) kill(pid_, SIGCONT);
  paused_ = false;
}

RunResult VirtualDisplay::xdotool(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {"env", "DISPLAY=" + name_, "xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv);
}

// --- E2EProfile --------------------------------------------------------------------

E2EProfile::E2EProfile() {
  for (const char* sub : {"home", "data", "cache", "config", "runtime"}) mkdir(dir_.file(sub).c_str(), 0700);
}

Env E2EProfile::environment(const VirtualDisplay& display) const {
  Env env = {{"DISPLAY", display.name()},
             {"HOME", home()},
             {"XDG_DATA_HOME", dir_.file("data")},
             {"XDG_CACHE_HOME", dir_.file("cache")},
             {"XDG_CONFIG_HOME", dir_.file("config")},
             {"XDG_RUNTIME_DIR", runtimeDir()},
             {"SDL_VIDEODRIVER", "x11"},
             {"SDL_AUDIODRIVER", "dummy"},
             {"LANG", "C.UTF-8"},
             {"KORVELLE_UI_DUMP", dumpPath()}};
  if (!usePortal) env.push_back({"KORVELLE_NO_PORTAL", "1"});
  return env;
}

// --- AppProcess ----------------------------------------------------------------------

AppProcess::AppProcess(const VirtualDisplay& display, const E2EProfile& profile,
                       const std::vector<std::string>& args, const Env& extraEnv, const std::string& exe)
    : display_(display), profile_(profile) {
  static int runs = 0;
  ++runs;
  outPath_ = profile.root() + "/run" + std::to_string(runs) + ".out";
  errPath_ = profile.root() + "/run" + std::to_string(runs) + ".err";
  // A dump left by an earlier run must not be mistaken for this one's.
  std::remove(profile.dumpPath().c_str());
  std::vector<std::string> argv = {exe.empty() ? korvelleExe() : exe};
  argv.insert(argv.end(), args.begin(), args.end());
  Env env = profile.environment(display);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  pid_ = spawnProcess(argv, {env, kNotInherited}, outPath_, errPath_);
}

AppProcess::~AppProcess() {
  if (pid_ > 0 && !status_) stopProcess(pid_);
}

bool AppProcess::running() {
  if (status_) return false;
  ExitStatus s;
  if (reap(pid_, false, &s)) status_ = s;
  return !status_;
}

void AppProcess::signal(int sig) {
  if (running()) kill(pid_, sig);
}

bool AppProcess::signalPending(int sig) const {
  std::istringstream lines(readFile("/proc/" + std::to_string(pid_) + "/status"));
  std::string line;
  const unsigned long long bit = 1ULL << (sig - 1);
  while (std::getline(lines, line)) {
    if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
      if (std::strtoull(line.c_str() + 7, nullptr, 16) & bit) return true;
    }
  }
  return false;
}

ExitStatus AppProcess::waitExit(double timeoutSeconds) {
  if (!waitUntil([this] { return !running(); }, timeoutSeconds, 0.02)) {
    kill(pid_, SIGKILL);
    ExitStatus killed;
    reap(pid_, true, &killed);
    killed.exited = false;
    status_ = killed;
  }
  return *status_;
}

std::vector<DumpEntry> AppProcess::dump() const { return parseDump(readFile(profile_.dumpPath())); }

std::optional<ui::Rect> AppProcess::widget(const std::string& id) const {
  for (const DumpEntry& e : dump()) {
    if (e.id == id) return e.rect;
  }
  return std::nullopt;
}

bool AppProcess::waitForWidget(const std::string& id, bool present, double timeoutSeconds) {
  return waitUntil(
      [&] {
        if (!running()) return false;
        std::vector<DumpEntry> lines = dump();
        bool found = false;
        for (const DumpEntry& e : lines) found = found || e.id == id;
        return present ? found : (!lines.empty() && !found);
      },
      timeoutSeconds);
}

bool AppProcess::waitForNextFrame(double timeoutSeconds) {
  FileStamp before = stampOf(profile_.dumpPath());
  return waitUntil([&] { return running() && !(stampOf(profile_.dumpPath()) == before); }, timeoutSeconds, 0.01);
}

bool AppProcess::waitForFrameAfterStart(double settleSeconds, double timeoutSeconds) {
  FileStamp first = stampOf(profile_.dumpPath());
  if (!first.exists) return false;
  const long long target = first.mtimeNs + static_cast<long long>(settleSeconds * 1e9);
  int nudge = 0;
  return waitUntil(
      [&] {
        std::string win = windowId();
        std::string pos = std::to_string(10 + 10 * (nudge++ % 2));
        if (!win.empty()) display_.xdotool({"mousemove", "--window", win, pos, pos});
        waitForNextFrame(2.0);
        FileStamp now = stampOf(profile_.dumpPath());
        return now.exists && now.mtimeNs >= target;
      },
      timeoutSeconds, 0.1);
}

std::string AppProcess::windowId() const {
  RunResult r = display_.xdotool({"search", "--pid", std::to_string(pid_)});
  std::istringstream ids(r.out);
  std::string id;
  ids >> id;
  return r.exitCode == 0 ? id : "";
}

bool AppProcess::waitForWindow(double timeoutSeconds) {
  return waitUntil([this] { return !windowId().empty(); }, timeoutSeconds, 0.1);
}

std::optional<AppProcess::Geometry> AppProcess::geometry() const {
  std::string id = windowId();
  if (id.empty()) return std::nullopt;
  RunResult r = display_.xdotool({"getwindowgeometry", "--shell", id});
  if (r.exitCode != 0) return std::nullopt;
  Geometry g;
  std::istringstream lines(r.out);
  std::string line;
  int seen = 0;
  while (std::getline(lines, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string k = line.substr(0, eq);
    int v = std::atoi(line.c_str() + eq + 1);
    if (k == "X") g.x = v, ++seen;
    if (k == "Y") g.y = v, ++seen;
    if (k == "WIDTH") g.w = v, ++seen;
    if (k == "HEIGHT") g.h = v, ++seen;
  }
  if (seen != 4) return std::nullopt;
  return g;
}

bool AppProcess::clickWidget(const std::string& id) {
  std::optional<ui::Rect> r = widget(id);
  std::string win = windowId();
  if (!r || win.empty()) return false;
  std::string x = std::to_string(static_cast<int>(r->x + r->w / 2));
  std::string y = std::to_string(static_cast<int>(r->y + r->h / 2));
  return display_.xdotool({"mousemove", "--window", win, x, y, "click", "1"}).exitCode == 0;
}

bool AppProcess::dragWidget(const std::string& id, double toX, double toY) {
  std::optional<ui::Rect> r = widget(id);
  std::string win = windowId();
  if (!r || win.empty()) return false;
  const double x0 = r->x + r->w / 2;
  const double y0 = r->y + r->h / 2;
  std::vector<std::string> args{"mousemove", "--window", win, std::to_string(static_cast<int>(x0)),
                                std::to_string(static_cast<int>(y0)), "mousedown", "1"};
  // Steps with pauses, so that the program sees the press and the moves in frames of their own.
  constexpr int kSteps = 6;
  for (int i = 1; i <= kSteps; ++i) {
    const double x = x0 + (toX - x0) * i / kSteps;
    const double y = y0 + (toY - y0) * i / kSteps;
    for (const std::string& a : {std::string("sleep"), std::string("0.1"), std::string("mousemove"),
                                 std::string("--window"), win, std::to_string(static_cast<int>(x)),
                                 std::to_string(static_cast<int>(y))}) {
      args.push_back(a);
    }
  }
  for (const char* a : {"sleep", "0.1", "mouseup", "1"}) args.emplace_back(a);
  return display_.xdotool(args).exitCode == 0;
}

bool AppProcess::key(const std::string& name) {
  std::string win = windowId();
  if (win.empty()) return false;
  // Without a window manager nothing gives the window the focus; take it.
  display_.xdotool({"windowfocus", win});
  return display_.xdotool({"key", name}).exitCode == 0;
}

bool AppProcess::logHas(const std::string& text) const {
  return readFile(profile_.logPath()).find(text) != std::string::npos;
}

std::string E2EProfile::settingsText() const {
  std::string sealed = readFile(settingsPath());
  std::string plain;
  if (sealed.empty() || platform::saveDecrypt(sealed, &plain) != 0) return "";
  return plain;
}

}  // namespace testing_support
