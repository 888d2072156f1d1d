#include "support/e2e_harness.h"

#include "core/save_crypt.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <tuple>

namespace testing_support {

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

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
  if (waitUntil([&] { return reap(pid, false, &ignored); }, 5)) return;
  kill(pid, SIGKILL);
  reap(pid, true, &ignored);
}

// What tells one dump file from the next (every frame replaces the file).
std::tuple<ino_t, long long, off_t> stampOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  return {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, st.st_size};
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
  // Xvfb writes the number, then a line break, once it is ready; a pipe
  // closed before the line break would end it.
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  for (char c = 0; poll(&p, 1, static_cast<int>(kE2ETimeout * 1000)) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';) {
    number += c;
  }
  close(fds[0]);
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
             {"HOME", dir_.file("home")},
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
  const auto before = stampOf(profile_.dumpPath());
  return waitUntil([&] { return running() && stampOf(profile_.dumpPath()) != before; }, timeoutSeconds, 0.01);
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
  const std::string id = windowId();
  const RunResult r = display_.xdotool({"getwindowgeometry", "--shell", id});
  Geometry g;
  const int n = std::sscanf(r.out.c_str(), "WINDOW=%*d X=%d Y=%d WIDTH=%d HEIGHT=%d", &g.x, &g.y, &g.w, &g.h);
  return id.empty() || n != 4 ? std::nullopt : std::optional(g);
}

bool AppProcess::clickWidget(const std::string& id) {
  std::optional<ui::Rect> r = widget(id);
  return r && clickAt(r->x + r->w / 2, r->y + r->h / 2);
}

bool AppProcess::clickAt(double x, double y) {
  const std::string win = windowId();
  return !win.empty() &&
         display_.xdotool({"mousemove", "--window", win, std::to_string(int(x)), std::to_string(int(y)), "click", "1"})
                 .exitCode == 0;
}

bool AppProcess::dragWidget(const std::string& id, double toX, double toY) {
  std::optional<ui::Rect> r = widget(id);
  std::string win = windowId();
  if (!r || win.empty()) return false;
  const double x0 = r->x + r->w / 2;
  const double y0 = r->y + r->h / 2;
  const auto moveTo = [&](double x, double y) {
    return std::vector<std::string>{"mousemove", "--window", win, std::to_string(int(x)), std::to_string(int(y))};
  };
  std::vector<std::string> args = moveTo(x0, y0);
  args.insert(args.end(), {"mousedown", "1"});
  // Steps with pauses, so that the program sees the press and the moves in frames of their own.
  constexpr int kSteps = 6;
  for (int i = 1; i <= kSteps; ++i) {
    args.insert(args.end(), {"sleep", "0.1"});
    const std::vector<std::string> step = moveTo(x0 + (toX - x0) * i / kSteps, y0 + (toY - y0) * i / kSteps);
    args.insert(args.end(), step.begin(), step.end());
  }
  args.insert(args.end(), {"sleep", "0.1", "mouseup", "1"});
  return display_.xdotool(args).exitCode == 0;
}

bool AppProcess::key(const std::string& name) {
  std::string win = windowId();
  if (win.empty()) return false;
  // Without a window manager nothing gives the window the focus; take it.
  display_.xdotool({"windowfocus", win});
  return display_.xdotool({"key", name}).exitCode == 0;
}

std::string AppProcess::log() const { return readFile(profile_.logPath()); }

bool AppProcess::waitForLog(const std::string& text, size_t times, double timeoutSeconds) const {
  return waitUntil([&] { return logCount(text) >= times; }, timeoutSeconds);
}

std::string E2EProfile::settingsText() const {
  std::string sealed = readFile(settingsPath());
  std::string plain;
  if (sealed.empty() || platform::saveDecrypt(sealed, &plain) != 0) return "";
  return plain;
}

}  // namespace testing_support
