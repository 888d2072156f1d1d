// screen_harness: drives screens in-process over an offscreen cairo surface with scripted input frames,
// reading the interface dump and pixels back. One at a time per process (the dump path is global).
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
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
// The rectangle of id in a dump, if it is listed.
std::optional<ui::Rect> findWidget(const std::vector<DumpEntry>& dump, const std::string& id);

class ScreenHarness {
 public:
  // A window of w × h logical pixels at scale physical pixels each; registers the shipped fonts once.
  explicit ScreenHarness(int w = 1280, int h = 720, double scale = 1.0);
  ~ScreenHarness();
  ScreenHarness(const ScreenHarness&) = delete;
  ScreenHarness& operator=(const ScreenHarness&) = delete;

  ui::Ctx& ctx() { return ctx_; }

  // --- Frames -----------------------------------------------------------------
  // One frame as the main loop makes it (context refreshed, surface cleared), draw, then the dump.
  void frame(const std::function<void(ui::Ctx&)>& draw, ui::Input in = {});
  // One frame of the whole interface (ui::App::update).
  void appFrame(ui::Input in = {});
  // Moves the clock on (frames themselves advance it by 1/60 s).
  void advance(double seconds) { now_ += seconds; }

  // --- Scripted input -----------------------------------------------------------
  static ui::Input move(double x, double y) { return {.mx = x, .my = y}; }
  static ui::Input press(double x, double y) { return {.mx = x, .my = y, .pressed = true}; }
  static ui::Input release(double x, double y) { return {.mx = x, .my = y, .released = true}; }
  // Press and release in one frame, as a quick click arrives.
  static ui::Input click(double x, double y) { return {.mx = x, .my = y, .pressed = true, .released = true}; }
  static ui::Input key(int sym) { return {.keys = {sym}}; }
  static ui::Input drop(std::vector<std::string> paths) { return {.dropped = std::move(paths)}; }
  // Clicks the centre of widget id of the last dump in one App frame; false when it is not there.
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
