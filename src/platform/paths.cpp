#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/fs.h"
#include "platform/product.h"

namespace paths {

namespace {

// The value of an environment variable, or null when it is unset or empty
// (the XDG convention treats both alike).
const char* envValue(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : nullptr;
}

// $<xdgVar>/Korvelle, else $HOME/<homeRel>/Korvelle, else ./<homeRel>/Korvelle.
std::string xdgDir(const char* xdgVar, const char* homeRel) {
  const std::string leaf = std::string("/") + product::kShortName;
  if (const char* xdg = envValue(xdgVar)) return xdg + leaf;
  const char* home = envValue("HOME");
  return std::string(home ? home : ".") + "/" + homeRel + leaf;
}

// A candidate holds the shipped assets when the marker font is there.
bool holdsAssets(const std::string& dir) {
  return platform::fs::isDir(dir + "/assets/fonts") &&
         platform::fs::isFile(dir + "/assets/fonts/DejaVuSans.ttf");
}

std::string findAssetDir() {
  const std::string share = std::string("/usr/share/") + product::kShortName;
  const std::string exe = exeDir();
  std::vector<std::string> candidates;
  if (const char* snap = envValue("SNAP")) candidates.push_back(snap + share);
  if (const char* appdir = envValue("APPDIR")) candidates.push_back(appdir + share);
  if (const char* own = envValue("KORVELLE_ASSET_DIR")) candidates.emplace_back(own);
  candidates.push_back(exe + "/../share/" + product::kShortName);
  candidates.push_back(share);
  candidates.push_back(std::string("/app/share/") + product::kShortName);
  candidates.push_back(exe);
  candidates.push_back(exe + "/..");
  candidates.emplace_back(".");
  for (const auto& c : candidates) {
    if (holdsAssets(c)) return c;
  }
  return exe;
}

}  // namespace

std::string exeDir() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  const std::string exe(buf, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return exe.substr(0, slash);
}

std::vector<std::string> splitPathList(const char* list) {
  std::vector<std::string> items;
  if (!list) return items;
  std::string current;
  for (const char* p = list; *p; ++p) {
    if (*p == ':') {
      if (!current.empty()) items.push_back(std::move(current));
      current.clear();
    } else {
      current += *p;
    }
  }
  if (!current.empty()) items.push_back(std::move(current));
  return items;
}

const std::string& dataDir() {
  static const std::string dir = [] {
    std::string d = xdgDir("XDG_DATA_HOME", ".local/share");
    platform::fs::ensureDir(d);  // a failure shows up when something is written there
    return d;
  }();
  return dir;
}

const std::string& cacheDir() {
  static const std::string dir = [] {
    std::string d = xdgDir("XDG_CACHE_HOME", ".cache");
    platform::fs::ensureDir(d);
    return d;
  }();
  return dir;
}

const std::string& assetDir() {
  static const std::string dir = findAssetDir();
  return dir;
}

std::string asset(const std::string& rel) { return assetDir() + "/" + rel; }

bool ensureDir(const std::string& dir) { return platform::fs::ensureDir(dir); }

}  // namespace paths
