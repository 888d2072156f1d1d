// fs: small file-system helpers. None throws; each reports failure by its result.
#pragma once

#include <string>
#include <vector>

namespace platform::fs {

// True when something was removed without error (file or empty directory).
bool remove(const std::string& path);
// A regular file exists there (false for an empty path).
bool isFile(const std::string& path);
// A directory exists there (false for an empty path).
bool isDir(const std::string& path);
// Creates the directory and its parents (private to the user, 0700); true
// when it exists afterwards.
bool ensureDir(const std::string& path);
// Names (not paths) of the directory's entries, sorted by byte value; empty on error.
std::vector<std::string> listDir(const std::string& dir);
// rename(from, to); true on success.
bool replaceAtomic(const std::string& from, const std::string& to);

}  // namespace platform::fs
