#include "platform/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "build_info.h"
#include "platform/crash.h"
#include "platform/fs.h"
#include "platform/paths.h"
#include "platform/product.h"

namespace diag {

namespace {

using Clock = std::chrono::steady_clock;

// Every complete line reaches the file at once, so the log is whole up to a crash.
constexpr size_t kLineBuffer = 4096;

// A log of its own that an ended second instance left is kept this long:
// long enough to be found from a crash report or sent along with it.
constexpr time_t kOwnLogKeepSeconds = 7 * 24 * 3600;

std::mutex g_mutex;
std::string g_path;
std::FILE* g_file = nullptr;  // holds the lock on g_path while open
Clock::time_point g_start;
bool g_rotated = false;  // this run moved the shared log to ".1"
char g_buffer[kLineBuffer];

// Milliseconds since g_start; caller holds g_mutex.
double sinceStartMs() {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - g_start);
  return static_cast<double>(ns.count()) / 1000000.0;
}

// Local wall-clock time "hh:mm:ss".
struct ClockText {
  char text[16];
  ClockText() {
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
};

const char* envOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : fallback;
}

const char* environmentKind() {
  if (std::getenv("SNAP")) return "Snap";
  if (std::getenv("APPDIR")) return "AppImage";
  return "nativ";
}

// Caller holds g_mutex and g_file is open.
void writeHeader() {
  std::fprintf(g_file, "=== %s %s (Build %d) ===\n", product::kName, product::kVersion,
               product::kBuild);
  std::fprintf(g_file, "portiert aus %s\n", build::kSourceRevision);
  std::fprintf(g_file, "Umgebung: %s\n", environmentKind());
  std::fprintf(g_file, "Sitzung:  %s, DISPLAY=%s, WAYLAND=%s\n", envOr("XDG_SESSION_TYPE", "?"),
               envOr("DISPLAY", "-"), envOr("WAYLAND_DISPLAY", "-"));
  std::fprintf(g_file, "Daten:    %s\n", paths::dataDir().c_str());
  std::fprintf(g_file, "Beigaben: %s\n", paths::assetDir().c_str());
  std::fflush(g_file);
}

std::string sharedLogPath(const std::string& dir) { return dir + "/" + product::kShortName + ".log"; }

// Holds an exclusive lock on the data directory for the scope, so that two
// starts never rotate or pick their logs at the same time.
class DirLock {
 public:
  explicit DirLock(const std::string& dir) : fd_(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~DirLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  DirLock(const DirLock&) = delete;
  DirLock& operator=(const DirLock&) = delete;

 private:
  int fd_;
};

// Another live run holds a lock on the file at path.
bool lockedByOther(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;  // missing: nobody writes it
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

// Opens path truncated for writing and locks it for this run; null when it
// cannot be opened or another run got the lock first.
std::FILE* openLocked(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, "w");
  if (!f) ::close(fd);
  return f;
}

// "Korvelle-<digits>.log": the log of a run that started while another one
// held the shared log.
bool isOwnLogName(const std::string& name) {
  const std::string prefix = std::string(product::kShortName) + "-";
  const std::string suffix = ".log";
  if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  const std::string pid = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  return pid.find_first_not_of("0123456789") == std::string::npos;
}

// Removes the logs of ended second instances that are older than
// kOwnLogKeepSeconds; a log whose run still holds it stays.
void removeOldOwnLogs(const std::string& dir) {
  const time_t now = std::time(nullptr);
  for (const std::string& name : platform::fs::listDir(dir)) {
    if (!isOwnLogName(name)) continue;
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || now - st.st_mtime < kOwnLogKeepSeconds) continue;
    if (!lockedByOther(path)) platform::fs::remove(path);
  }
}

// Picks and opens this run's log; caller holds g_mutex.
void openLog(const std::string& dir) {
  DirLock serial(dir);
  const std::string shared = sharedLogPath(dir);
  if (!lockedByOther(shared)) {
    // The usual single instance. One previous generation; a missing log is
    // no error, and a failed rename leaves the old file to be truncated.
    g_rotated = std::rename(shared.c_str(), (shared + ".1").c_str()) == 0;
    g_path = shared;
    g_file = openLocked(g_path);
  }
  if (!g_file) {
    g_path = dir + "/" + product::kShortName + "-" + std::to_string(::getpid()) + ".log";
    g_file = openLocked(g_path);
  }
  removeOldOwnLogs(dir);
}

}  // namespace

void init() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_file) return;
  g_start = Clock::now();
  const std::string& dir = paths::dataDir();
  if (!paths::ensureDir(dir)) return;
  openLog(dir);
  if (!g_file) {
    g_path.clear();
    return;
  }
  std::setvbuf(g_file, g_buffer, _IOLBF, sizeof g_buffer);
  writeHeader();
}

void shutdown() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_file) return;
  std::fprintf(g_file, "[%s +%8.1fms] ---- Ende ----\n", ClockText().text, sinceStartMs());
  std::fclose(g_file);  // releases the lock
  g_file = nullptr;
  g_path.clear();
}

std::string path() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_path;
}

std::string earlierRunLog(const std::string& loggedPath) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_rotated && loggedPath == sharedLogPath(paths::dataDir())) return loggedPath + ".1";
  return loggedPath;
}

void write(const char* category, const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_file) return;
  std::fprintf(g_file, "[%s +%8.1fms] %-6s %s\n", ClockText().text, sinceStartMs(),
               category ? category : "", text.c_str());
}

void action(const std::string& text) {
  platform::setCrashContext(text.c_str());
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_file) return;
  std::fprintf(g_file, "[%s +%8.1fms] >      %s\n", ClockText().text, sinceStartMs(),
               text.c_str());
}

void timing(const char* name, double ms) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_file) return;
  std::fprintf(g_file, "[%s +%8.1fms] zeit   %s: %.1f ms\n", ClockText().text, sinceStartMs(),
               name ? name : "", ms);
}

namespace {

// The scope timer measures on the monotonic clock directly, so a timer that
// spans diag::init still measures its own duration.
double monotonicMs() {
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
  return static_cast<double>(ns.count()) / 1000000.0;
}

}  // namespace

Timed::Timed(const char* name, double thresholdMs)
    : name_(name), thresholdMs_(thresholdMs), startMs_(monotonicMs()) {}

Timed::~Timed() {
  const double elapsed = monotonicMs() - startMs_;
  if (elapsed >= thresholdMs_) timing(name_, elapsed);
}

}  // namespace diag
