#include "platform/fs_posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace platform::fs::posix {

namespace {

// Per-user program folders hold logs, settings and working copies, so they
// are created private to the user.
constexpr mode_t kDirMode = 0700;

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

Kind kindOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Kind::Missing;
  if (S_ISREG(st.st_mode)) return Kind::File;
  if (S_ISDIR(st.st_mode)) return Kind::Dir;
  return Kind::Other;
}

bool makeDirLevel(const std::string& path) {
  return ::mkdir(path.c_str(), kDirMode) == 0 || errno == EEXIST;
}

bool removePath(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return true;
  // Linux answers EISDIR for a directory; POSIX allows EPERM as well.
  if (errno != EISDIR && errno != EPERM) return false;
  return ::rmdir(path.c_str()) == 0;
}

bool renamePath(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool readDirNames(const std::string& dir, std::vector<std::string>* names) {
  std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
  if (!d) return false;
  for (;;) {
    errno = 0;
    const dirent* e = ::readdir(d.get());
    if (!e) return errno == 0;
    const char* n = e->d_name;
    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
    names->emplace_back(n);
  }
}

}  // namespace platform::fs::posix
