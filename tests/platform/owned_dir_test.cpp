// Directories owned by a running process: claiming, removing, re-creating, sweeping those of ended ones.
#include "platform/owned_dir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/fs.h"
#include "support/test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::writeFile;

namespace fs = platform::fs;

std::string nameIn(const std::string& parent, const std::string& path) {
  return path.substr(parent.size() + 1);
}

// A pid that certainly belonged to a process that has ended.
pid_t deadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return pid;
}

TEST(OwnedDir, ClaimRemoveAndEnsure) {
  TempDir tmp;
  const std::string parent = tmp.path() + "/a/work";
  platform::OwnedDir dir;
  EXPECT_EQ(dir.path(), "");
  std::string err = "stale";
  ASSERT_TRUE(dir.claim(parent, &err));
  EXPECT_EQ(err, "");
  EXPECT_TRUE(dir.held());
  const std::string path = dir.path();
  const std::string name = nameIn(parent, path);
  EXPECT_EQ(name.rfind(std::to_string(getpid()) + "-", 0), 0u) << name;
  EXPECT_EQ(name.size(), std::to_string(getpid()).size() + 9);
  EXPECT_TRUE(fs::isFile(path + "/lock"));
  EXPECT_EQ(fs::listDir(parent), std::vector<std::string>{name});  // no staging name left
  EXPECT_TRUE(dir.claim(parent));                                  // a second claim keeps it
  EXPECT_EQ(dir.path(), path);

  ASSERT_TRUE(writeFile(path + "/step_001.png", "x"));
  ASSERT_TRUE(fs::ensureDir(path + "/nested/deeper"));
  ASSERT_TRUE(writeFile(path + "/nested/deeper/f", "y"));
  dir.remove();
  EXPECT_FALSE(fs::isDir(path));
  EXPECT_FALSE(dir.held());
  EXPECT_TRUE(fs::isDir(parent));
  dir.remove();  // harmless twice

  ASSERT_TRUE(dir.ensure(parent));
  EXPECT_EQ(dir.path(), path);
  EXPECT_TRUE(dir.held());
  EXPECT_TRUE(fs::isFile(path + "/lock"));

  // Deleted from outside while held: ensure brings it back.
  ASSERT_TRUE(fs::remove(path + "/lock"));
  ASSERT_TRUE(fs::remove(path));
  ASSERT_TRUE(dir.ensure(parent));
  EXPECT_TRUE(fs::isDir(path));
  EXPECT_TRUE(fs::isFile(path + "/lock"));
}

TEST(OwnedDir, ClaimFailsWhereNothingCanBeCreated) {
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("plain"), "a file, not a folder"));
  platform::OwnedDir dir;
  std::string err;
  EXPECT_FALSE(dir.claim(tmp.file("plain") + "/work", &err));
  EXPECT_EQ(err, platform::err::kCreateFailed);
  EXPECT_FALSE(dir.held());
  EXPECT_FALSE(dir.path().empty());  // writes into it fail later, cleanly
  EXPECT_FALSE(dir.ensure(tmp.file("plain") + "/work", &err));
}

TEST(OwnedDir, SweepTakesOnlyWhatEndedProcessesLeft) {
  TempDir tmp;
  const std::string parent = tmp.path() + "/work";
  ASSERT_TRUE(fs::ensureDir(parent));
  const std::string dead = std::to_string(deadPid());
  const std::string alive = std::to_string(getpid());
  // Held (a lock is held against every other open of the file, even in this
  // process); its claim sweeps the still empty parent first.
  auto holder = std::make_unique<platform::OwnedDir>();
  ASSERT_TRUE(holder->claim(parent));
  const std::string heldPath = holder->path();
  const std::string held = nameIn(parent, heldPath);

  // Left by a crash: unlocked lock file, work files, whatever its pid.
  ASSERT_TRUE(fs::ensureDir(parent + "/" + alive + "-0badf00d/sub"));
  ASSERT_TRUE(writeFile(parent + "/" + alive + "-0badf00d/lock", ""));
  ASSERT_TRUE(writeFile(parent + "/" + alive + "-0badf00d/step_001.png", "x"));
  ASSERT_TRUE(writeFile(parent + "/" + alive + "-0badf00d/sub/f", "x"));
  // Half made by an ended process, and one being made right now.
  ASSERT_TRUE(fs::ensureDir(parent + "/." + dead + "-00000001"));
  ASSERT_TRUE(fs::ensureDir(parent + "/." + alive + "-00000002"));
  ASSERT_TRUE(writeFile(parent + "/." + alive + "-00000002/lock", ""));
  // Emptied but not removed: no lock file left; the pid decides.
  ASSERT_TRUE(fs::ensureDir(parent + "/" + dead + "-00000003"));
  ASSERT_TRUE(fs::ensureDir(parent + "/" + alive + "-00000005"));
  ASSERT_TRUE(fs::ensureDir(parent + "/" + dead + "-00000004"));
  // Not ours: left alone (the last ten digits are longer than any pid).
  const char* const notOurs[] = {"notes",        "123-xyz",      "123-0badf00dd", "-0badf00d",
                                 "12a-0badf00d", "123-0BADF00D", "1234567890-0badf00d"};
  for (const char* other : notOurs) ASSERT_TRUE(fs::ensureDir(parent + "/" + other));
  ASSERT_TRUE(writeFile(parent + "/456-deadbeef", "a file"));
  TempDir outside;
  ASSERT_TRUE(writeFile(outside.file("precious"), "keep"));
  ASSERT_EQ(symlink(outside.path().c_str(), (parent + "/789-deadbeef").c_str()), 0);

  EXPECT_EQ(platform::sweepAbandonedDirs(parent, dead + "-00000004"), 3);
  // Gone: the crashed one, the half-made one of the ended process, the emptied one.
  std::vector<std::string> kept{"." + alive + "-00000002", alive + "-00000005", dead + "-00000004", held,
                                "456-deadbeef", "789-deadbeef"};
  kept.insert(kept.end(), std::begin(notOurs), std::end(notOurs));
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(fs::listDir(parent), kept);
  EXPECT_TRUE(fs::isFile(heldPath + "/lock"));
  EXPECT_TRUE(fs::isFile(outside.file("precious")));

  // Once its owner has ended (the lock gone, the directory left), the held one goes at the next claim.
  holder.reset();
  platform::OwnedDir next;
  ASSERT_TRUE(next.claim(parent));
  EXPECT_EQ(next.sweptAtClaim(), 2);
  EXPECT_FALSE(fs::isDir(heldPath));
  EXPECT_FALSE(fs::isDir(parent + "/" + dead + "-00000004"));
  EXPECT_TRUE(fs::isDir(parent + "/" + alive + "-00000005"));
}

}  // namespace
