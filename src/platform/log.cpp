#include "platform/log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "build_info.h"
#include "platform/crash.h"
#include "platform/paths.h"
#include "platform/product.h"

namespace diag {

namespace {

using Clock = std::chrono::steady_clock;

// Every complete line reaches the file at once, so the log is whole up to a crash.
constexpr size_t kLineBuffer = 4096;

std::mutex g_mutex;
std::string g_path;
std::FILE* g_file = nullptr;
Clock::time_point g_start;
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

}  // namespace

void init() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_file) return;
  g_start = Clock::now();
  const std::string& dir = paths::dataDir();
  if (!paths::ensureDir(dir)) return;
  g_path = dir + "/" + product::kShortName + ".log";
  // One previous generation; a missing log is no error, and a failed rename
  // leaves the old file to be truncated below.
  std::rename(g_path.c_str(), (g_path + ".1").c_str());
  // "e": the descriptor is not inherited by programs we start (xdg-open).
  g_file = std::fopen(g_path.c_str(), "we");
  if (!g_file) return;
  std::setvbuf(g_file, g_buffer, _IOLBF, sizeof g_buffer);
  writeHeader();
}

void shutdown() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_file) return;
  std::fprintf(g_file, "[%s +%8.1fms] ---- Ende ----\n", ClockText().text, sinceStartMs());
  std::fclose(g_file);
  g_file = nullptr;
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
