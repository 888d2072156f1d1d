// fs_posix: the thin POSIX layer under platform::fs. Each call is one system
// call (or one directory walk) with errno folded into the result; the
// portable logic (parents, sorting, empty paths) lives in fs.cpp.
#pragma once

#include <string>
#include <vector>

namespace platform::fs::posix {

// What a path names, following symbolic links.
enum class Kind { Missing, File, Dir, Other };
Kind kindOf(const std::string& path);

// mkdir of one level; true when it was created or already exists as anything
// (the caller checks what it is).
bool makeDirLevel(const std::string& path);
// unlink, or rmdir for a directory; true on success.
bool removePath(const std::string& path);
// rename(2); true on success.
bool renamePath(const std::string& from, const std::string& to);
// Appends the entry names of dir ("." and ".." left out) in directory order;
// false when the directory cannot be read.
bool readDirNames(const std::string& dir, std::vector<std::string>* names);

}  // namespace platform::fs::posix
