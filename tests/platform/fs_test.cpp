// platform::fs: the small file-system helpers everything else builds on.
#include "platform/fs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_support.h"

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = platform::fs;

TEST(Fs, ListDirGivesSortedNamesAndNothingForMissingOrEmpty) {
  TempDir tmp;
  for (const char* name :
       {"b.png", "a.png", "B.png", "\xc3\xa4.png", "step_010.png", "step_002.png"}) {
    ASSERT_TRUE(writeFile(tmp.file(name), "x"));
  }
  ASSERT_TRUE(fs::ensureDir(tmp.file("sub")));
  // Byte order: upper case before lower case, UTF-8 (0xC3) after ASCII.
  EXPECT_EQ(fs::listDir(tmp.path()),
            (std::vector<std::string>{"B.png", "a.png", "b.png", "step_002.png", "step_010.png",
                                      "sub", "\xc3\xa4.png"}));
  EXPECT_TRUE(fs::listDir(tmp.file("sub")).empty());
  EXPECT_TRUE(fs::listDir(tmp.file("missing")).empty());
  EXPECT_TRUE(fs::listDir(tmp.file("a.png")).empty());  // a file is no directory
  EXPECT_TRUE(fs::listDir("").empty());
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

TEST(Fs, IsFileAndIsDirTellKindsApartAndRejectEmptyPaths) {
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("f"), "x"));
  ASSERT_EQ(symlink(tmp.file("f").c_str(), tmp.file("link").c_str()), 0);
  EXPECT_TRUE(fs::isFile(tmp.file("f")));
  EXPECT_TRUE(fs::isFile(tmp.file("link")));  // links are followed
  EXPECT_FALSE(fs::isDir(tmp.file("f")));
  EXPECT_TRUE(fs::isDir(tmp.path()));
  EXPECT_FALSE(fs::isFile(tmp.path()));
  EXPECT_FALSE(fs::isFile(tmp.file("missing")));
  EXPECT_FALSE(fs::isDir(tmp.file("missing")));
  EXPECT_FALSE(fs::isFile(""));
  EXPECT_FALSE(fs::isDir(""));
  EXPECT_FALSE(fs::isFile("/dev/null"));  // exists, but is no regular file
}

TEST(Fs, RemoveTakesFilesAndEmptyDirectoriesOnly) {
  TempDir tmp;
  ASSERT_TRUE(writeFile(tmp.file("f"), "x"));
  ASSERT_TRUE(fs::ensureDir(tmp.file("empty")));
  ASSERT_TRUE(fs::ensureDir(tmp.file("full/inner")));
  EXPECT_TRUE(fs::remove(tmp.file("f")));
  EXPECT_FALSE(fs::isFile(tmp.file("f")));
  EXPECT_FALSE(fs::remove(tmp.file("f")));  // nothing left to remove
  EXPECT_TRUE(fs::remove(tmp.file("empty")));
  EXPECT_FALSE(fs::isDir(tmp.file("empty")));
  EXPECT_FALSE(fs::remove(tmp.file("full")));
  EXPECT_TRUE(fs::isDir(tmp.file("full/inner")));
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
