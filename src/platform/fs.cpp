#include "platform/fs.h"

#include <algorithm>

#include "platform/fs_posix.h"

namespace platform::fs {

using posix::Kind;

bool remove(const std::string& path) {
  return !path.empty() && posix::removePath(path);
}

bool isFile(const std::string& path) {
  return !path.empty() && posix::kindOf(path) == Kind::File;
}

bool isDir(const std::string& path) {
  return !path.empty() && posix::kindOf(path) == Kind::Dir;
}

bool ensureDir(const std::string& path) {
  if (path.empty()) return false;
  if (isDir(path)) return true;
  // Create each missing level from the top down. A level that already exists
  // as something else makes the next mkdir fail, and the final check says so.
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    if (path[pos - 1] == '/') continue;  // "a//b": the empty level is no directory
    posix::makeDirLevel(path.substr(0, pos));
  }
  posix::makeDirLevel(path);
  return isDir(path);
}

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  if (dir.empty() || !posix::readDirNames(dir, &names)) return {};
  std::sort(names.begin(), names.end());  // std::string compares bytes as unsigned
  return names;
}

bool replaceAtomic(const std::string& from, const std::string& to) {
  return !from.empty() && !to.empty() && posix::renamePath(from, to);
}

}  // namespace platform::fs
