// platform::fs: the small file-system helpers everything else builds on.
#include "platform/fs.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "platform/errors.h"
#include "support/in_child.h"
#include "support/test_support.h"

using testing_support::ChildResult;
using testing_support::inChild;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = platform::fs;

TEST(Fs, ListDirGivesSortedNamesAndNothingForMissingOrEmpty) {
  TempDir tmp;
  for (const char* name : {"b.png", "a.png", "B.png", "\xc3\xa4.png"}) ASSERT_TRUE(writeFile(tmp.file(name), "x"));
  ASSERT_TRUE(fs::ensureDir(tmp.file("sub")));
  // Byte order: upper case before lower case, UTF-8 (0xC3) after ASCII.
  EXPECT_EQ(fs::listDir(tmp.path()), (std::vector<std::string>{"B.png", "a.png", "b.png", "sub", "\xc3\xa4.png"}));
  // Empty, missing, a file (no directory), no name.
  for (const std::string& none : {tmp.file("sub"), tmp.file("missing"), tmp.file("a.png"), std::string()}) {
    EXPECT_TRUE(fs::listDir(none).empty()) << none;
  }
}

TEST(Fs, EnsureDirCreatesParentsAndFailsWhereAFileBlocks) {
  TempDir tmp;
  const std::string nested = tmp.file("a/b//c/d/");
  EXPECT_TRUE(fs::ensureDir(nested));
  EXPECT_TRUE(fs::isDir(tmp.file("a/b/c/d")));
  EXPECT_TRUE(fs::ensureDir(nested));  // already there

  ASSERT_TRUE(writeFile(tmp.file("plain"), "x"));
  EXPECT_FALSE(fs::ensureDir(tmp.file("plain")));
  EXPECT_FALSE(fs::ensureDir(tmp.file("plain/below")));
  EXPECT_FALSE(fs::ensureDir(""));
}

TEST(Fs, KindsOfPathsAndRemovingThem) {
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("f"), "x"));
  ASSERT_EQ(symlink(tmp.file("f").c_str(), tmp.file("link").c_str()), 0);
  ASSERT_TRUE(fs::ensureDir(tmp.file("empty")));
  ASSERT_TRUE(fs::ensureDir(tmp.file("full/inner")));
  const struct {
    std::string path;
    bool file, dir;
  } kinds[] = {{tmp.file("f"), true, false},      {tmp.file("link"), true, false},  // links are followed
               {tmp.path(), false, true},         {tmp.file("missing"), false, false},
               {"", false, false},                {"/dev/null", false, false}};  // exists, but no regular file
  for (const auto& k : kinds) {
    EXPECT_EQ(fs::isFile(k.path), k.file) << k.path;
    EXPECT_EQ(fs::isDir(k.path), k.dir) << k.path;
  }
  // remove takes files and empty directories only.
  EXPECT_TRUE(fs::remove(tmp.file("f")));
  EXPECT_FALSE(fs::remove(tmp.file("f")));  // nothing left to remove
  EXPECT_TRUE(fs::remove(tmp.file("empty")));
  EXPECT_FALSE(fs::isDir(tmp.file("empty")));
  EXPECT_FALSE(fs::remove(tmp.file("full")));
  EXPECT_FALSE(fs::remove(""));
}

TEST(Fs, ReplaceAtomicRenamesOverAnExistingTarget) {
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("new.tmp"), "neu"));
  ASSERT_TRUE(writeFile(tmp.file("settings.dat"), "alt"));
  EXPECT_TRUE(fs::replaceAtomic(tmp.file("new.tmp"), tmp.file("settings.dat")));
  EXPECT_EQ(readFile(tmp.file("settings.dat")), "neu");
  EXPECT_FALSE(fs::isFile(tmp.file("new.tmp")));

  EXPECT_FALSE(fs::replaceAtomic(tmp.file("missing"), tmp.file("settings.dat")));
  EXPECT_EQ(readFile(tmp.file("settings.dat")), "neu");
  EXPECT_FALSE(fs::replaceAtomic(tmp.file("settings.dat"), tmp.file("no/such/dir/x")));
  EXPECT_TRUE(fs::isFile(tmp.file("settings.dat")));
}

// --- The atomic writer --------------------------------------------------------

namespace {

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST(FsReplace, NewAndExistingFilesLinksAndPermissions) {
  TempDir tmp;
  const mode_t oldMask = ::umask(022);
  fs::ReplaceOptions opts;
  opts.newFileMode = 0664;
  EXPECT_TRUE(fs::replaceFile(tmp.file("new"), "abc", 3, nullptr, opts));
  EXPECT_EQ(readFile(tmp.file("new")), "abc");
  EXPECT_EQ(modeOf(tmp.file("new")), 0644u);  // the umask applies to a new file

  // An existing file keeps its bits, whatever the new-file mode says.
  ASSERT_EQ(::chmod(tmp.file("new").c_str(), 0604), 0);
  EXPECT_TRUE(fs::replaceFile(tmp.file("new"), "second", 6, nullptr, opts));
  EXPECT_EQ(readFile(tmp.file("new")), "second");
  EXPECT_EQ(modeOf(tmp.file("new")), 0604u);

  // A link is followed: the file behind it changes, the link stays a link.
  ASSERT_EQ(::symlink("new", tmp.file("link").c_str()), 0);
  EXPECT_TRUE(fs::replaceFile(tmp.file("link"), "third", 5));
  EXPECT_EQ(readFile(tmp.file("new")), "third");
  struct stat st {};
  ASSERT_EQ(::lstat(tmp.file("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A fixed temporary name is used and gone afterwards, a leftover there
  // passes on nothing; not durable is still atomic.
  ASSERT_TRUE(writeFile(tmp.file("fresh.tmp"), "left by a crash"));
  ASSERT_EQ(::chmod(tmp.file("fresh.tmp").c_str(), 0666), 0);
  opts.tempPath = tmp.file("fresh.tmp");
  opts.newFileMode = 0600;
  opts.durable = false;
  EXPECT_TRUE(fs::replaceFile(tmp.file("fresh"), "", 0, nullptr, opts));
  EXPECT_EQ(readFile(tmp.file("fresh")), "");
  EXPECT_EQ(modeOf(tmp.file("fresh")), 0600u);
  EXPECT_EQ(fs::listDir(tmp.path()), (std::vector<std::string>{"fresh", "link", "new"}));
  ::umask(oldMask);
}

// Each failure names its step, leaves the target as it was and no temporary.
TEST(FsReplace, FailuresNameTheirStepAndLeaveTheTargetAlone) {
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("keep"), "old"));
  ASSERT_TRUE(fs::ensureDir(tmp.file("dir/inner")));
  fs::ReplaceOptions blockedTemp;
  blockedTemp.tempPath = tmp.file("dir");  // a directory holds the temporary's name
  struct Case {
    const char* name;
    std::string target;
    fs::ReplaceOptions opts;
    const char* word;
  };
  const Case cases[] = {
      {"empty path", "", {}, platform::err::kBadTarget},
      {"directory at the target", tmp.file("dir"), {}, platform::err::kBadTarget},
      {"missing folder", tmp.file("missing/x"), {}, platform::err::kCreateFailed},
      {"file as folder", tmp.file("keep/x"), {}, platform::err::kCreateFailed},
      {"temporary taken", tmp.file("keep"), blockedTemp, platform::err::kCreateFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string err;
    EXPECT_FALSE(fs::replaceFile(c.target, "new", 3, &err, c.opts));
    EXPECT_EQ(err, c.word);
  }
  EXPECT_EQ(readFile(tmp.file("keep")), "old");
  EXPECT_TRUE(fs::isDir(tmp.file("dir/inner")));
  EXPECT_EQ(fs::listDir(tmp.path()), (std::vector<std::string>{"dir", "keep"}));

  // A directory appears at the target while the content is written: the rename fails, the temporary goes.
  {
    fs::PendingReplace pending;
    ASSERT_TRUE(pending.create(tmp.file("late")));
    ASSERT_TRUE(pending.write("x", 1));
    ASSERT_TRUE(fs::ensureDir(tmp.file("late/inner")));
    std::string err;
    EXPECT_FALSE(pending.commit(&err));
    EXPECT_EQ(err, platform::err::kRenameFailed);
    EXPECT_EQ(fs::listDir(tmp.path()), (std::vector<std::string>{"dir", "keep", "late"}));
  }

  // An uncommitted temporary is removed with its owner.
  {
    fs::PendingReplace pending;
    ASSERT_TRUE(pending.create(tmp.file("keep")));
    EXPECT_TRUE(fs::isFile(pending.path()));
  }
  EXPECT_EQ(fs::listDir(tmp.path()), (std::vector<std::string>{"dir", "keep", "late"}));

  // The disk fills up while writing (a file size limit works for root too).
  ChildResult full = inChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = {4096, 4096};
    setrlimit(RLIMIT_FSIZE, &lim);
    std::string err;
    const std::string big(8192, 'x');
    return fs::replaceFile(tmp.file("keep"), big.data(), big.size(), &err) ? std::string("saved") : err;
  });
  EXPECT_EQ(full.out, platform::err::kWriteFailed);
  EXPECT_EQ(readFile(tmp.file("keep")), "old");
  EXPECT_EQ(fs::listDir(tmp.path()), (std::vector<std::string>{"dir", "keep", "late"}));
}
