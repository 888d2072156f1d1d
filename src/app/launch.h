// launch: the command line and the window's starting geometry — the pure
// decisions main makes before it opens the window.
#pragma once

#include <string>

namespace ui {

// What the first pass over the arguments asks for.
enum class InfoRequest { None, Version, Help, Encoders };

// Everything both passes take from the command line.
struct LaunchOptions {
  InfoRequest info = InfoRequest::None;  // first of --version, --help, --encoders
  std::string file;                      // last argument not starting with "-"
  bool fullscreen = false;               // --fullscreen
  bool windowed = false;                 // --windowed (wins over full screen)
  int sizeW = 0;                         // --size WxH; 0 when not given or unparsable
  int sizeH = 0;
};

// First pass: the informational request and the file argument. Arguments
// are compared exactly; "--size" skips the argument that follows.
void parseFirstPass(int argc, const char* const* argv, LaunchOptions* out);
// Second pass: --fullscreen, --windowed and --size's "%dx%d" value.
void parseSecondPass(int argc, const char* const* argv, LaunchOptions* out);

// The usage text printed for --help.
std::string usageText();
// The --version line.
std::string versionText();

struct WindowSize {
  int w = 0;
  int h = 0;
};

// Default window size for display bounds of boundsW × boundsH (the usable
// area): 40 % of the width at 16:9, kept inside the display, at least
// 860 × 560; 1280 × 720 when the bounds are unusable (≤ 0).
WindowSize defaultWindowSize(int boundsW, int boundsH);
// The size to open the window with: --size when both numbers are positive
// (unclamped), the default for a partial --size, otherwise the saved size
// (savedW, savedH > 0) or the default, clamped to the display.
WindowSize requestedWindowSize(const LaunchOptions& opts, int savedW, int savedH, int boundsW, int boundsH);

}  // namespace ui
