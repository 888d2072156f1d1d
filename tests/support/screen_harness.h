// screen_harness: drives screens in-process without a window. A ui::Ctx over
// an offscreen cairo image surface receives scripted input frames; the
// interface dump and the pixels are read back after each frame.
//
//   ScreenHarness h(1280, 720);
//   h.appFrame();                       // one frame of ui::App::update
//   h.clickWidget("dialog.0");          // press + release on its centre
//   EXPECT_FALSE(h.hasWidget("dialog.0"));
//
// One harness at a time per process (the dump path is process-wide).
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "screens/router.h"
#include "support/test_support.h"
#include "ui/frame.h"

namespace testing_support {

// One line of the interface dump.
struct DumpEntry {
  std::string id;
  ui::Rect rect;
};

// The lines of a dump file's text ("id x y w h" each).
std::vector<DumpEntry> parseDump(const std::string& text);

class ScreenHarness {
 public:
  // A window of w × h logical pixels drawn at scale physical pixels per
  // logical pixel. Registers the shipped fonts once per process.
  explicit ScreenHarness(int w = 1280, int h = 720, double scale = 1.0);
  ~ScreenHarness();
  ScreenHarness(const ScreenHarness&) = delete;
  ScreenHarness& operator=(const ScreenHarness&) = delete;

  ui::Ctx& ctx() { return ctx_; }

  // --- Frames -----------------------------------------------------------------
  // One frame: refreshes the context as the main loop does (size, clock, scale,
  // input with the carried held flag, clickTaken cleared), clears the surface,
  // calls draw and writes the interface dump.
  void frame(const std::function<void(ui::Ctx&)>& draw, ui::Input in = {});
  // One frame of the whole interface (ui::App::update).
  void appFrame(ui::Input in = {});
  // Moves the clock on (frames themselves advance it by 1/60 s).
  void advance(double seconds) { now_ += seconds; }

  // --- Scripted input -----------------------------------------------------------
  static ui::Input move(double x, double y);
  static ui::Input press(double x, double y);
  static ui::Input release(double x, double y);
  // Press and release in one frame, as a quick click arrives.
  static ui::Input click(double x, double y);
  static ui::Input key(int sym);
  static ui::Input drop(std::vector<std::string> paths);
  // Clicks the centre of the widget registered as id in the last dump (one
  // frame of ui::App::update). False when the dump has no such widget.
  bool clickWidget(const std::string& id);

  // --- Reading back ------------------------------------------------------------
  // Lines of the dump file as of the last frame that registered anything.
  std::vector<DumpEntry> dump() const;
  // The dump file's text as written.
  std::string dumpText() const;
  std::optional<ui::Rect> widget(const std::string& id) const;
  bool hasWidget(const std::string& id) const { return widget(id).has_value(); }
  // Un-premultiplied 0xAARRGGBB at a logical position (nearest physical pixel).
  uint32_t pixel(double x, double y) const;
  cairo_surface_t* surface() const { return surface_; }

 private:
  TempDir dir_;
  std::string dumpPath_;
  cairo_surface_t* surface_ = nullptr;
  double scale_ = 1.0;
  double now_ = 1.0;
  double prev_ = 1.0;
  bool held_ = false;
  ui::Ctx ctx_;
};

}  // namespace testing_support
