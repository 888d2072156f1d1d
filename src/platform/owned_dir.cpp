#include "platform/owned_dir.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "platform/errors.h"
#include "platform/fs.h"

namespace platform {

namespace {

constexpr const char* kLockName = "lock";
constexpr int kRandomHexDigits = 8;
// Owned directories hold flat files; anything deeper was not made by us, and
// the bound keeps a hostile tree from exhausting the stack.
constexpr int kMaxRemoveDepth = 16;

void setError(std::string* err, const char* word) {
  if (err) *err = word;
}

// 32 random bits as eight hex digits; the clock stands in where the kernel
// has no random source to offer.
std::string randomHex() {
  uint32_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    bits = static_cast<uint32_t>(ticks) ^ static_cast<uint32_t>(static_cast<uint64_t>(ticks) >> 32) ^
           static_cast<uint32_t>(getpid()) * 2654435761u;
  }
  char hex[kRandomHexDigits + 1];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(bits));
  return hex;
}

// Parses "<pid>-<8 hex>" with an optional leading '.' (a directory still being
// prepared). False for anything else.
bool parseOwnedName(const std::string& name, bool* staging, long* pid) {
  size_t i = 0;
  *staging = !name.empty() && name[0] == '.';
  if (*staging) i = 1;
  const size_t digitsStart = i;
  long value = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9') {
    if (i - digitsStart >= 9) return false;  // longer than any pid
    value = value * 10 + (name[i] - '0');
    ++i;
  }
  if (i == digitsStart || value <= 0 || i >= name.size() || name[i] != '-') return false;
  ++i;
  if (name.size() - i != kRandomHexDigits) return false;
  for (; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  *pid = value;
  return true;
}

bool processAlive(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool isRealDir(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Removes path and, for a directory, everything below it. Symbolic links are
// removed themselves, never followed. True when path is gone.
bool removeTree(const std::string& path, int depth) {
  if (isRealDir(path) && depth < kMaxRemoveDepth) {
    for (const std::string& name : fs::listDir(path)) removeTree(path + "/" + name, depth + 1);
  }
  return fs::remove(path);
}

// Opens (creating when asked) dir's lock file and tries to lock it; -1 when
// the file cannot be opened or somebody else holds the lock (errno
// EWOULDBLOCK). On a file system without flock the descriptor comes back with
// *locked false: nobody can take the lock there, so no sweeper ever mistakes
// the directory for abandoned.
int openAndLock(const std::string& dir, bool create, bool* locked) {
  *locked = false;
  const std::string lockPath = dir + "/" + kLockName;
  const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
  const int fd = ::open(lockPath.c_str(), flags, 0600);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    *locked = true;
  } else if (errno == EWOULDBLOCK) {
    ::close(fd);
    errno = EWOULDBLOCK;
    return -1;
  }
  return fd;
}

}  // namespace

// --- OwnedDir ----------------------------------------------------------------------

OwnedDir::~OwnedDir() {
  if (fd_ >= 0) ::close(fd_);
}

bool OwnedDir::claim(const std::string& parent, std::string* err) {
  if (!path_.empty()) {
    if (held()) return true;
    setError(err, err::kCreateFailed);
    return false;
  }
  parent_ = parent;
  name_ = std::to_string(getpid()) + "-" + randomHex();
  path_ = parent_ + "/" + name_;
  if (!fs::ensureDir(parent_)) {
    setError(err, err::kCreateFailed);
    return false;
  }
  if (!create(err)) return false;
  swept_ = sweepAbandonedDirs(parent_, name_);
  return true;
}

bool OwnedDir::ensure(const std::string& parent, std::string* err) {
  if (path_.empty()) return claim(parent, err);
  if (held() && isRealDir(path_)) return true;
  if (fd_ >= 0) {  // deleted behind our back: the lock file went with it
    ::close(fd_);
    fd_ = -1;
  }
  if (isRealDir(path_)) {  // left by a remove() that could not finish
    bool locked = false;
    fd_ = openAndLock(path_, true, &locked);
    if (fd_ >= 0) return true;
    setError(err, err::kCreateFailed);
    return false;
  }
  if (!fs::ensureDir(parent_)) {
    setError(err, err::kCreateFailed);
    return false;
  }
  return create(err);
}

// Prepares the directory under the hidden name ".<name>", locks it, and only
// then renames it into place.
bool OwnedDir::create(std::string* err) {
  const std::string staging = parent_ + "/." + name_;
  if (::mkdir(staging.c_str(), 0700) != 0 && !(errno == EEXIST && isRealDir(staging))) {
    setError(err, err::kCreateFailed);
    return false;
  }
  bool locked = false;
  const int fd = openAndLock(staging, true, &locked);
  if (fd < 0 || ::rename(staging.c_str(), path_.c_str()) != 0) {
    if (fd >= 0) ::close(fd);
    removeTree(staging, 0);
    setError(err, err::kCreateFailed);
    return false;
  }
  fd_ = fd;
  if (err) err->clear();
  return true;
}

void OwnedDir::remove() {
  if (path_.empty()) return;
  bool emptied = true;
  for (const std::string& name : fs::listDir(path_)) {
    if (name != kLockName && !removeTree(path_ + "/" + name, 1)) emptied = false;
  }
  // The lock file goes last, together with the directory. Where something
  // could not be removed it stays, so the next claim still recognises the
  // directory as abandoned once the lock is gone, and tries again.
  if (emptied) {
    fs::remove(path_ + "/" + kLockName);
    fs::remove(path_);
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

// --- Sweeping ------------------------------------------------------------------------

int sweepAbandonedDirs(const std::string& parent, const std::string& keep) {
  int removed = 0;
  for (const std::string& name : fs::listDir(parent)) {
    bool staging = false;
    long pid = 0;
    if (name == keep || !parseOwnedName(name, &staging, &pid)) continue;
    const std::string dir = parent + "/" + name;
    if (!isRealDir(dir)) continue;
    bool locked = false;
    const int fd = openAndLock(dir, false, &locked);
    const bool haveLockFile = fd >= 0;
    if ((!haveLockFile && errno != ENOENT) || (haveLockFile && !locked)) {  // held, or we cannot tell
      if (fd >= 0) ::close(fd);
      continue;
    }
    // A visible directory is locked from its first moment, so a free lock
    // means its owner has ended. One still being prepared, or one without a
    // lock file, may belong to a process between two steps: its pid decides.
    const bool ownerGone = (haveLockFile && !staging) || !processAlive(pid);
    if (ownerGone && removeTree(dir, 0)) ++removed;
    if (fd >= 0) ::close(fd);
  }
  return removed;
}

}  // namespace platform
