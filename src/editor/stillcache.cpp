#include "editor/stillcache.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "media/video.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "ui/frames.h"

namespace ui {

namespace {

// Long side stills are decoded at: sharp enough for the stage preview.
constexpr int kStillSize = 960;
// Cached entries; a cross fade needs one, scrubbing past a few needs more.
constexpr size_t kMaxEntries = 8;
// Requests this close in time share an entry.
constexpr double kSameMs = 10.0;

struct Entry {
  std::string path;
  int version = -1;
  double ms = 0;
  media::Image image;
  bool ready = false;
};

std::vector<Entry> g_entries;
std::mutex g_mutex;
std::thread g_thread;
std::atomic<bool> g_running{false};
std::atomic<bool> g_quit{false};

// Joins the worker at exit, before the entries go away.
struct WorkerJoiner {
  ~WorkerJoiner() {
    g_quit = true;
    if (g_thread.joinable()) g_thread.join();
  }
} g_joiner;

void worker() {
  platform::lowerThreadPriority();  // stills stand in for frames; playback comes first
  for (;;) {
    if (g_quit) {
      g_running = false;
      return;
    }
    std::string path;
    int version = -1;
    double ms = 0;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      const Entry* next = nullptr;
      for (const Entry& e : g_entries) {
        if (!e.ready) {
          next = &e;
          break;
        }
      }
      if (!next) {
        g_running = false;
        return;
      }
      path = next->path;
      version = next->version;
      ms = next->ms;
    }
    media::Image image;
    std::string err;
    char at[48];
    std::snprintf(at, sizeof at, "%.0f", ms);
    if (media::grabFrame(path, ms, kStillSize, &image, &err)) {
      diag::write("still", std::string("Standbild bereit bei ") + at + " ms (" + std::to_string(image.width) + "x" +
                               std::to_string(image.height) + ")");
    } else {
      diag::write("still", std::string("kein Bild bei ") + at + ": " + err);
      image = media::Image{};
    }
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      for (Entry& e : g_entries) {
        if (!e.ready && e.version == version && e.path == path && std::fabs(e.ms - ms) < kSameMs) {
          e.image = std::move(image);
          e.ready = true;
          break;
        }
      }
    }
    requestFrame();
  }
}

}  // namespace

const media::Image* stillAt(const std::string& path, int version, double ms) {
  if (path.empty() || ms < 0) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const Entry& e : g_entries) {
    if (e.version == version && e.path == path && std::fabs(e.ms - ms) < kSameMs) {
      return e.ready && e.image.valid() ? &e.image : nullptr;
    }
  }
  std::erase_if(g_entries, [version](const Entry& e) { return e.version != version; });
  if (g_entries.size() >= kMaxEntries) g_entries.erase(g_entries.begin());
  g_entries.push_back(Entry{path, version, ms, {}, false});
  if (!g_running.exchange(true)) {
    // The previous worker has ended (it clears the flag last); collect it.
    if (g_thread.joinable()) g_thread.join();
    g_quit = false;
    g_thread = std::thread(worker);
  }
  return nullptr;
}

void resetStills() {
  g_quit = true;
  if (g_thread.joinable()) g_thread.join();
  g_running = false;
  g_quit = false;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_entries.clear();
}

size_t stillEntryCount() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_entries.size();
}

}  // namespace ui
