#include "support/e2e_harness.h"

#include "core/save_crypt.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
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

// --- X11 messages, as a window manager or a file manager sends them ---------------------

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

constexpr long kXdndVersion = 5;

Atom atom(Display* dpy, const char* name) { return XInternAtom(dpy, name, False); }

void sendMessage(Display* dpy, Window target, Atom type, std::initializer_list<long> values) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = target;
  ev.xclient.message_type = type;
  ev.xclient.format = 32;
  int i = 0;
  for (long v : values) ev.xclient.data.l[i++] = v;
  XSendEvent(dpy, target, False, NoEventMask, &ev);
  XFlush(dpy);
}

// Hands the dragged data to the target that asks for it as "text/uri-list".
void serve(Display* dpy, const XSelectionRequestEvent& req, Atom uriList, const std::string& data) {
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.requestor = req.requestor;
  reply.xselection.selection = req.selection;
  reply.xselection.target = req.target;
  reply.xselection.time = req.time;
  reply.xselection.property = None;
  if (req.target == uriList && req.property != None) {
    XChangeProperty(dpy, req.requestor, req.property, uriList, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    reply.xselection.property = req.property;
  }
  XSendEvent(dpy, req.requestor, False, NoEventMask, &reply);
  XFlush(dpy);
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
  // Xvfb writes the number and a line break once ready (closing the pipe before would end it).
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

std::string E2EProfile::settingsText() const {
  std::string sealed = readFile(settingsPath());
  std::string plain;
  if (sealed.empty() || platform::saveDecrypt(sealed, &plain) != 0) return "";
  return plain;
}

// --- AppProcess ----------------------------------------------------------------------

AppProcess::AppProcess(const VirtualDisplay& display, const E2EProfile& profile,
                       const std::vector<std::string>& args, const Env& extraEnv, const std::string& exe)
    : display_(display), profile_(profile) {
  static int runs = 0;
  const std::string run = profile.root() + "/run" + std::to_string(++runs);
  outPath_ = run + ".out";
  errPath_ = run + ".err";
  // A dump left by an earlier run must not be mistaken for this one's.
  std::remove(profile.dumpPath().c_str());
  std::vector<std::string> argv = {exe.empty() ? korvelleExe() : exe};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::string root = profile.root();
  Env env = {{"DISPLAY", display.name()},
             {"HOME", root + "/home"},
             {"XDG_DATA_HOME", root + "/data"},
             {"XDG_CACHE_HOME", root + "/cache"},
             {"XDG_CONFIG_HOME", root + "/config"},
             {"XDG_RUNTIME_DIR", profile.runtimeDir()},
             {"SDL_VIDEODRIVER", "x11"},
             {"SDL_AUDIODRIVER", "dummy"},
             {"LANG", "C.UTF-8"},
             {"KORVELLE_UI_DUMP", profile.dumpPath()}};
  if (!profile.usePortal) env.push_back({"KORVELLE_NO_PORTAL", "1"});
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

std::optional<ui::Rect> AppProcess::widget(const std::string& id) const {
  return findWidget(parseDump(readFile(profile_.dumpPath())), id);
}

bool AppProcess::waitForWidget(const std::string& id, bool present, double timeoutSeconds) {
  return waitUntil(
      [&] {
        const std::vector<DumpEntry> dump = parseDump(readFile(profile_.dumpPath()));
        const bool found = findWidget(dump, id).has_value();
        return running() && (present ? found : !dump.empty() && !found);
      },
      timeoutSeconds);
}

bool AppProcess::waitForNextFrame(double timeoutSeconds) {
  const auto before = stampOf(profile_.dumpPath());
  return waitUntil([&] { return running() && stampOf(profile_.dumpPath()) != before; }, timeoutSeconds, 0.01);
}

std::string AppProcess::windowId() const {
  const RunResult r = display_.xdotool({"search", "--pid", std::to_string(pid_)});
  return r.exitCode == 0 ? r.out.substr(0, r.out.find('\n')) : "";
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

std::string AppProcess::log() const { return readFile(profile_.dataDir() + "/Korvelle.log"); }

bool AppProcess::waitForLog(const std::string& text, size_t times, double timeoutSeconds) const {
  return waitUntil([&] { return logCount(text) >= times; }, timeoutSeconds);
}

bool AppProcess::closeWindow() {
  DisplayPtr dpy(XOpenDisplay(display_.name().c_str()));
  const Window target = std::strtoul(windowId().c_str(), nullptr, 0);
  if (!dpy || target == 0) return false;
  sendMessage(dpy.get(), target, atom(dpy.get(), "WM_PROTOCOLS"),
              {static_cast<long>(atom(dpy.get(), "WM_DELETE_WINDOW")), CurrentTime});
  return true;
}

bool AppProcess::dropUris(const std::string& uriList, int x, int y) {
  DisplayPtr owner(XOpenDisplay(display_.name().c_str()));
  const Window target = std::strtoul(windowId().c_str(), nullptr, 0);
  if (!owner || target == 0) return false;
  Display* dpy = owner.get();
  const Window source = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
  const Atom uriType = atom(dpy, "text/uri-list");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(long(kE2ETimeout * 1000));
  // Serves data requests until a client message of that type arrives.
  XEvent ev;
  const auto waitFor = [&](Atom message) {
    for (;;) {
      while (XPending(dpy) > 0) {
        XNextEvent(dpy, &ev);
        if (ev.type == SelectionRequest) serve(dpy, ev.xselectionrequest, uriType, uriList);
        if (ev.type == ClientMessage && ev.xclient.message_type == message) return true;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{ConnectionNumber(dpy), POLLIN, 0};
      poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    }
  };
  const long src = static_cast<long>(source);
  XSetSelectionOwner(dpy, atom(dpy, "XdndSelection"), source, CurrentTime);
  int rootX = 0;
  int rootY = 0;
  Window child = 0;
  XTranslateCoordinates(dpy, target, DefaultRootWindow(dpy), x, y, &rootX, &rootY, &child);
  sendMessage(dpy, target, atom(dpy, "XdndEnter"), {src, kXdndVersion << 24, static_cast<long>(uriType), 0, 0});
  sendMessage(
      dpy, target, atom(dpy, "XdndPosition"),
      {src, 0, (static_cast<long>(rootX) << 16) | rootY, CurrentTime, static_cast<long>(atom(dpy, "XdndActionCopy"))});
  bool dropped = waitFor(atom(dpy, "XdndStatus")) && (ev.xclient.data.l[1] & 1) != 0;  // bit 0: accepted
  if (dropped) {
    sendMessage(dpy, target, atom(dpy, "XdndDrop"), {src, 0, CurrentTime, 0, 0});
    dropped = waitFor(atom(dpy, "XdndFinished"));
  } else {
    sendMessage(dpy, target, atom(dpy, "XdndLeave"), {src, 0, 0, 0, 0});
  }
  XDestroyWindow(dpy, source);
  return dropped;
}

}  // namespace testing_support
