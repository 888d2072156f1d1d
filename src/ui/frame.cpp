#include "ui/frame.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/fs.h"

namespace ui {

namespace {

// Interface dump state: the path (read once from the environment), and the
// text collected during the current frame.
struct DumpState {
  bool envRead = false;
  std::string path;
  std::string text;
};

DumpState& dump() {
  static DumpState d;
  return d;
}

const std::string& dumpPath() {
  DumpState& d = dump();
  if (!d.envRead) {
    d.envRead = true;
    const char* env = std::getenv("KORVELLE_UI_DUMP");
    d.path = env ? env : "";
  }
  return d.path;
}

}  // namespace

bool Input::hasKey(int key) const { return std::find(keys.begin(), keys.end(), key) != keys.end(); }

bool Ctx::hover(const Rect& r) const { return r.contains(in.mx, in.my); }

bool Ctx::takeClick(const Rect& r) {
  if (clickTaken || !in.released || !hover(r)) return false;
  clickTaken = true;
  return true;
}

void Ctx::hit(const char* id, const Rect& r) {
  if (!id || dumpPath().empty()) return;
  char line[256];
  std::snprintf(line, sizeof line, "%s %.0f %.0f %.0f %.0f\n", id, r.x, r.y, r.w, r.h);
  dump().text += line;
}

double interfaceScale(double w, double h) { return std::clamp(std::min(w / 1280.0, h / 720.0), 0.72, 2.0); }

void writeUiDump() {
  DumpState& d = dump();
  const std::string& path = dumpPath();
  if (!path.empty() && !d.text.empty()) {
    // Rewritten every frame and read by test drivers only: atomic for them,
    // but not worth a flush to disk per frame. A frame whose dump fails
    // leaves the previous one, which the next frame replaces.
    platform::fs::ReplaceOptions opts;
    opts.tempPath = path + ".tmp";
    opts.durable = false;
    platform::fs::replaceFile(path, d.text.data(), d.text.size(), nullptr, opts);
  }
  d.text.clear();
}

void setUiDumpPath(const std::string& path) {
  DumpState& d = dump();
  d.envRead = true;
  d.path = path;
  d.text.clear();
}

}  // namespace ui
