// ui::shutDown with players playing stops every worker before what it uses goes away; a child
// leaving through exit() runs the static destructors too (under the sanitizer build).
// test-labels: asan
#include <gtest/gtest.h>
#include <SDL.h>

#include <cstdlib>
#include <string>

#include "app/shutdown.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "support/in_child.h"
#include "support/media_clips.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(ShutdownOrder, PlayersStopBeforeTheLogClosesAndSdlQuits) {
  if (!haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const std::string clip = media_clips::indexClip("shutdown_order.mp4", 4, "aac");
  ASSERT_FALSE(clip.empty());
  TempDir home;
  const std::string report = home.file("report");

  ChildResult child = inChild([&]() -> std::string {
    setenv("XDG_DATA_HOME", home.file("data").c_str(), 1);
    setenv("XDG_CACHE_HOME", home.file("cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", home.path().c_str(), 1);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    diag::init();
    settings::load();
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return std::string("SDL_Init: ") + SDL_GetError();
    const std::string workDir = doc::Document::instance().workDir();
    ui::EditorState& editor = ui::editorState();
    if (!editor.player.open(clip, 320) || !editor.preroll.open(clip, 320)) return "players not opened";
    editor.player.play();
    editor.preroll.play();

    bool released = false;
    ui::shutDown([&] { released = true; });
    std::string facts;
    facts += editor.player.isOpen || editor.preroll.isOpen ? "players open\n" : "players closed\n";
    facts += released ? "window released\n" : "window kept\n";
    facts += SDL_WasInit(0) == 0 ? "SDL down\n" : "SDL up\n";
    facts += platform::fs::isDir(workDir) ? "work dir kept\n" : "work dir gone\n";
    facts += diag::path().empty() ? "log closed\n" : "log open\n";
    writeFile(report, facts);
    std::exit(0);  // static destructors run, as after main returns
  });

  EXPECT_EQ(child.exitCode, 0) << child.out;
  EXPECT_EQ(child.signal, 0);
  EXPECT_EQ(readFile(report), "players closed\nwindow released\nSDL down\nwork dir gone\nlog closed\n")
      << child.out;
  EXPECT_TRUE(platform::fs::isFile(home.file("data/Korvelle/settings.dat")));
  const std::string log = readFile(home.file("data/Korvelle/Korvelle.log"));
  // The players logged their start; the log's last line is its end line.
  EXPECT_NE(log.find("] player geoeffnet: " + clip), std::string::npos) << log;
  const size_t last = log.rfind('\n', log.size() - 2);
  EXPECT_NE(log.find("---- Ende ----", last == std::string::npos ? 0 : last), std::string::npos) << log;
}
