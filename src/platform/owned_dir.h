// owned_dir: a directory that belongs to one running process.
//
// Several processes of the program may share one parent folder (two windows
// opened side by side). Each claims a child of its own, "<pid>-<random>", and
// holds an advisory lock (flock) on the file "lock" inside it for as long as it
// runs; the kernel drops the lock when the process ends, however it ends. A
// child whose lock nobody holds was left by a process that ended without
// cleaning up (a crash, a kill), and the next claim in the same parent removes
// it. A new child is prepared under a hidden name and renamed into place only
// once its lock is held, so another process never sees it unlocked.
//
// An OwnedDir is not thread-safe; its owner serialises the calls. Every call
// blocks on a little file-system work and never throws.
#pragma once

#include <string>

namespace platform {

class OwnedDir {
 public:
  OwnedDir() = default;
  // Gives up the lock; the directory stays for the next claim to sweep.
  ~OwnedDir();
  OwnedDir(const OwnedDir&) = delete;
  OwnedDir& operator=(const OwnedDir&) = delete;

  // --- Claiming ----------------------------------------------------------------
  // Creates parent (and its parents) and a fresh locked child below it, then
  // sweeps the children of ended processes. path() is set even on failure, so
  // writes into it fail cleanly later. False with "CREATE_FAILED" when the
  // child could not be made. A second call does nothing and reports the state.
  bool claim(const std::string& parent, std::string* err = nullptr);
  // Makes sure the claimed directory exists and is locked, re-creating it under
  // the same name after remove() or when something outside deleted it. Claims
  // first when nothing was claimed yet.
  bool ensure(const std::string& parent, std::string* err = nullptr);
  // The claimed directory (no trailing slash); empty before the first claim.
  const std::string& path() const { return path_; }
  // Whether the directory is currently held.
  bool held() const { return fd_ >= 0; }
  // How many abandoned directories the claim removed.
  int sweptAtClaim() const { return swept_; }

  // --- Releasing ---------------------------------------------------------------
  // Removes everything inside, then the directory itself, and gives up the
  // lock last. The name is kept for ensure(). Harmless when nothing is held.
  void remove();

 private:
  bool create(std::string* err);

  std::string parent_;
  std::string name_;
  std::string path_;
  int fd_ = -1;  // the open lock file while held
  int swept_ = 0;
};

// --- Sweeping ------------------------------------------------------------------
// Removes the children of parent left by ended processes and returns how many
// went. Children whose lock is held, the child named keep, and anything not
// named like an owned directory are left alone.
int sweepAbandonedDirs(const std::string& parent, const std::string& keep = {});

}  // namespace platform
