#include "media/file_replace.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace media {
namespace {

// Closes a descriptor on every path unless released.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int release() {
    int f = fd;
    fd = -1;
    return f;
  }
};

// The file a save should replace: a symbolic link is followed, so that the
// file it names gets the new content and the link stays a link.
std::string resolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf) != nullptr) return buf;
  return path;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool writeAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Creates a fresh hidden file next to target; the name carries the process,
// thread and clock so concurrent saves into one folder never collide.
int createTemp(const std::string& target, std::string* tmpPath) {
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  size_t tid = std::hash<std::thread::id>{}(std::this_thread::get_id());
  for (int attempt = 0; attempt < 16; ++attempt) {
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    *tmpPath = dir + "." + base + "." + std::to_string(::getpid()) + "-" +
               std::to_string((tid ^ static_cast<size_t>(ticks)) % 1000000007u) + ".part";
    int fd = ::open(tmpPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool replaceFileContents(const std::string& path, const uint8_t* data, size_t size, bool durable) {
  if (path.empty()) return false;
  const std::string target = resolveTarget(path);
  struct stat old {};
  bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld && S_ISDIR(old.st_mode)) return false;

  std::string tmp;
  Fd out;
  out.fd = createTemp(target, &tmp);
  if (out.fd < 0) return false;
  bool ok = writeAll(out.fd, data, size);
  if (ok && hadOld) ok = ::fchmod(out.fd, old.st_mode & 07777) == 0;
  if (ok && durable) ok = ::fsync(out.fd) == 0;
  if (::close(out.release()) != 0) ok = false;
  if (ok) ok = ::rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (!durable) return true;
  // The rename itself becomes durable with the folder's entry; a failure here
  // cannot be undone and the new content is already in place.
  Fd dir;
  dir.fd = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir.fd >= 0) ::fsync(dir.fd);
  return true;
}

}  // namespace media
