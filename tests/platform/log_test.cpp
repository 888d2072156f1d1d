// diag: the per-run log file, its line formats, rotation and thread safety.
// test-labels: threads
#include "platform/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/fs.h"
#include "platform/paths.h"
#include "support/temp_xdg.h"
#include "support/test_support.h"

using testing_support::countOf;
using testing_support::readFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

// The data directory is fixed once per process: one for the whole program.
[[maybe_unused]] auto* const g_xdg = testing_support::useTempXdg();

std::string logPath() { return paths::dataDir() + "/Korvelle.log"; }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Every event line starts with the clock, then milliseconds (one decimal) in a field of eight or more.
const std::string kStamp = R"(\[\d\d:\d\d:\d\d \+[ \d]{4,}\d\.\dms\] )";

bool matches(const std::string& line, const std::string& rest) {
  return std::regex_match(line, std::regex(kStamp + rest));
}

}  // namespace

TEST(Log, HeaderAndEveryLineFormat) {
  ScopedEnv snap("SNAP", nullptr);
  ScopedEnv appdir("APPDIR", "/tmp/appimage");
  ScopedEnv session("XDG_SESSION_TYPE", "wayland");
  ScopedEnv display("DISPLAY", "");
  ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
  diag::init();
  diag::write("file", "geoeffnet: /tmp/a b.jpg");
  diag::write("ui", "kurz");
  diag::write("sehrlangekategorie", "Text");
  diag::action("Drehen angewendet");
  diag::timing("Export", 12.5);
  diag::shutdown();

  const auto l = lines(readFile(logPath()));
  ASSERT_EQ(l.size(), 12u) << readFile(logPath());
  EXPECT_EQ(l[0], "=== Pelmora Media Editor 1.0.0 (Build 1079) ===");
  EXPECT_TRUE(std::regex_match(l[1], std::regex("portiert aus [0-9a-f]{40}"))) << l[1];
  EXPECT_EQ(l[2], "Umgebung: AppImage");
  EXPECT_EQ(l[3], "Sitzung:  wayland, DISPLAY=-, WAYLAND=wayland-0");
  EXPECT_EQ(l[4], "Daten:    " + paths::dataDir());
  EXPECT_EQ(l[5], "Beigaben: " + paths::assetDir());
  EXPECT_TRUE(matches(l[6], R"(file   geoeffnet: /tmp/a b\.jpg)")) << l[6];
  EXPECT_TRUE(matches(l[7], R"(ui     kurz)")) << l[7];
  // A long category shifts the text but is kept whole.
  EXPECT_TRUE(matches(l[8], R"(sehrlangekategorie Text)")) << l[8];
  EXPECT_TRUE(matches(l[9], R"(>      Drehen angewendet)")) << l[9];
  EXPECT_TRUE(matches(l[10], R"(zeit   Export: 12\.5 ms)")) << l[10];
  EXPECT_TRUE(matches(l[11], R"(---- Ende ----)")) << l[11];
}

TEST(Log, EachRunKeepsThePreviousOneAsDotOneAndLinesOutsideARunAreDropped) {
  diag::shutdown();  // not running: nothing happens
  diag::write("file", "vor dem Start");
  diag::action("vor dem Start");
  diag::timing("vor dem Start", 1.0);
  { diag::Timed t("vor dem Start", 0.0); }
  diag::init();
  diag::write("ui", "erster Lauf");
  diag::init();  // already running: no second header, no rotation
  diag::shutdown();
  diag::write("file", "nach dem Ende");
  diag::init();
  diag::write("ui", "zweiter Lauf");
  diag::shutdown();

  const std::string previous = readFile(logPath() + ".1");
  const std::string current = readFile(logPath());
  EXPECT_EQ(countOf(previous, "erster Lauf"), 1u);
  EXPECT_EQ(countOf(previous, "=== Pelmora"), 1u);
  EXPECT_EQ(countOf(current, "zweiter Lauf"), 1u);
  EXPECT_EQ(countOf(current, "erster Lauf"), 0u);
  EXPECT_EQ(countOf(previous + current, "vor dem Start"), 0u) << previous;
  EXPECT_EQ(countOf(previous + current, "nach dem Ende"), 0u) << current;
}

TEST(Log, LinesFromManyThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  diag::init();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        const std::string tag = "t" + std::to_string(t) + " n" + std::to_string(i);
        switch (i % 3) {
          case 0: diag::write("export", tag + " " + std::string(200, 'x')); break;
          case 1: diag::action(tag); break;
          default: diag::timing(tag.c_str(), i); break;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  diag::shutdown();

  const auto l = lines(readFile(logPath()));
  ASSERT_EQ(l.size(), 6u + kThreads * kLines + 1u);
  const std::regex line(kStamp + R"((export t\d n\d+ x{200}|>      t\d n\d+|)"
                                 R"(zeit   t\d n\d+: \d+\.0 ms|---- Ende ----))");
  for (size_t i = 6; i < l.size(); ++i) {
    ASSERT_TRUE(std::regex_match(l[i], line)) << "line " << i << ": " << l[i];
  }
  EXPECT_TRUE(matches(l.back(), "---- Ende ----"));
}
