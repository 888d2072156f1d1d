// paths: where user data, disposable cache and the shipped assets live.
// Each directory is computed once per process (thread-safe) and never ends
// with a slash.
#pragma once

#include <string>
#include <vector>

namespace paths {

// Directory of the running executable (not cached); "." when unknown.
std::string exeDir();
// Items of a ":"-separated list, empty items dropped; null gives none.
std::vector<std::string> splitPathList(const char* list);
// Per-user data directory ($XDG_DATA_HOME/Korvelle …), created if missing.
const std::string& dataDir();
// Per-user cache directory ($XDG_CACHE_HOME/Korvelle …), created if missing.
const std::string& cacheDir();
// Directory holding the shipped "assets" folder (first candidate with the fonts).
const std::string& assetDir();
// assetDir() + "/" + rel.
std::string asset(const std::string& rel);
// Forwards to platform::fs::ensureDir.
bool ensureDir(const std::string& dir);

}  // namespace paths
