// fs: small file-system helpers and the one atomic file writer. None throws;
// each reports failure by its result.
#pragma once

#include <cstddef>
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

// --- Replacing a file atomically ----------------------------------------------
// Readers see the target's old content or the complete new one, never a part:
// the new content goes into a temporary file in the target's own directory and
// is renamed over the target once complete.
//  - Same file system only: the temporary lies beside the target, because a
//    rename cannot cross file systems; nothing is ever copied.
//  - Links followed: a symbolic link at the target is resolved, the file it
//    names gets the new content and the link stays a link.
//  - Permissions kept: an existing target passes its permission bits on; a new
//    file gets newFileMode minus the umask.
//  - Synced (durable): the data is flushed to disk before the rename and the
//    directory after it, so a power cut leaves the old file or the new one.
//    A failing directory sync is not reported: the new content is in place.
// Failure words (platform/errors.h), and errno left as the failing call set it:
//   err::kBadTarget     empty path, or a directory stands at the target;
//   err::kCreateFailed  the temporary cannot be created (missing or read-only
//                       directory, a fixed temporary name taken by a directory);
//   err::kWriteFailed   writing, carrying the permissions over, flushing or
//                       closing the temporary failed;
//   err::kRenameFailed  the rename over the target failed.
// On every failure the target is untouched and a temporary this writer opened
// is removed. Blocks on file I/O; thread-safe (each call has a temporary of
// its own unless a fixed name is given).

struct ReplaceOptions {
  // Fixed temporary name, replaced when a file stands there (one left by a
  // crash); empty: a fresh hidden ".<name>.<random>.part" beside the target.
  std::string tempPath;
  // false: atomic for readers but not flushed to disk (a file rewritten every
  // frame, whose loss in a power cut costs nothing).
  bool durable = true;
  // Permission bits of a file that did not exist before, ahead of the umask.
  unsigned newFileMode = 0666;
};

// Makes the bytes the new content of path.
bool replaceFile(const std::string& path, const void* data, size_t size, std::string* err = nullptr,
                 const ReplaceOptions& opts = {});

// The same for content that another writer produces by file name (a muxer):
// create() makes the empty temporary, the writer fills path(), and commit()
// puts it in the target's place. An uncommitted temporary is removed when the
// object goes away.
class PendingReplace {
 public:
  PendingReplace() = default;
  ~PendingReplace();
  PendingReplace(const PendingReplace&) = delete;
  PendingReplace& operator=(const PendingReplace&) = delete;

  // Creates the temporary for target; false with kBadTarget or kCreateFailed.
  bool create(const std::string& target, std::string* err = nullptr, const ReplaceOptions& opts = {});
  // The temporary file's path (empty before create).
  const std::string& path() const { return temp_; }
  // Appends bytes to the temporary; false with kWriteFailed.
  bool write(const void* data, size_t size, std::string* err = nullptr);
  // Permissions, flush, rename, directory flush; false with kWriteFailed or
  // kRenameFailed (the temporary is then removed).
  bool commit(std::string* err = nullptr);

 private:
  void discard();

  std::string target_;  // the resolved target
  std::string temp_;
  int fd_ = -1;
  bool durable_ = true;
};

}  // namespace platform::fs
