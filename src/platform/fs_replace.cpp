// The atomic file writer of fs.h. It talks to POSIX directly: its steps
// (exclusive create, fchmod, fsync of file and directory) are the point of
// the module, not details to hide behind fs_posix.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/errors.h"
#include "platform/fs.h"

namespace platform::fs {

namespace {

// Attempts at a fresh temporary name before giving up; a clash needs another
// writer to have picked the same random tag.
constexpr int kNameAttempts = 16;
// Room for the prefix and suffix of the temporary within the 255-byte name limit.
constexpr size_t kMaxBaseName = 200;
// A temporary beside an existing file stays private until its bits are copied.
constexpr mode_t kPrivateMode = 0600;

bool fail(std::string* err, const char* word) {
  if (err != nullptr) *err = word;
  return false;
}

// The file a replacement should reach: a symbolic link is followed, so the
// file it names gets the new content and the link stays a link. A dangling
// link is replaced itself.
std::string resolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf) != nullptr) return buf;
  return path;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A hidden ".<name>.<tag>.part" beside target, created exclusively.
int createFresh(const std::string& target, mode_t mode, std::string* tempPath) {
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = target.substr(dir.size()).substr(0, kMaxBaseName);
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char tag[24];
    std::snprintf(tag, sizeof tag, "%08x%02x", random(), counter.fetch_add(1) & 0xFFu);
    *tempPath = dir + "." + name + "." + tag + ".part";
    const int fd = ::open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

PendingReplace::~PendingReplace() { discard(); }

void PendingReplace::discard() {
  const int saved = errno;  // the caller reports the failure that led here
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  errno = saved;
}

bool PendingReplace::create(const std::string& target, std::string* err, const ReplaceOptions& opts) {
  discard();
  if (target.empty()) return fail(err, err::kBadTarget);
  target_ = resolveTarget(target);
  durable_ = opts.durable;
  struct stat st {};
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return fail(err, err::kBadTarget);
  }
  const mode_t mode = exists ? kPrivateMode : static_cast<mode_t>(opts.newFileMode & 07777);
  std::string temp;
  if (opts.tempPath.empty()) {
    fd_ = createFresh(target_, mode, &temp);
  } else {
    temp = opts.tempPath;
    // A leftover is removed rather than truncated, so the new file gets this
    // run's mode and not the leftover's; a directory there makes open fail.
    ::unlink(temp.c_str());
    fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  }
  if (fd_ < 0) return fail(err, err::kCreateFailed);
  temp_ = temp;
  return true;
}

bool PendingReplace::write(const void* data, size_t size, std::string* err) {
  if (fd_ < 0) return fail(err, err::kWriteFailed);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      discard();
      return fail(err, err::kWriteFailed);
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool PendingReplace::commit(std::string* err) {
  if (fd_ < 0) return fail(err, err::kWriteFailed);
  // The bits are read now rather than at create: a long export may outlive a
  // chmod of the file it replaces.
  struct stat old {};
  bool ok = true;
  if (::stat(target_.c_str(), &old) == 0) ok = ::fchmod(fd_, old.st_mode & 07777) == 0;
  if (ok && durable_) ok = ::fsync(fd_) == 0;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    discard();
    return fail(err, err::kWriteFailed);
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    discard();
    return fail(err, err::kRenameFailed);
  }
  temp_.clear();
  if (durable_) {
    // The rename becomes durable with the directory's entry.
    const int dir = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }
  return true;
}

bool replaceFile(const std::string& path, const void* data, size_t size, std::string* err,
                 const ReplaceOptions& opts) {
  PendingReplace pending;
  return pending.create(path, err, opts) && pending.write(data, size, err) && pending.commit(err);
}

}  // namespace platform::fs
