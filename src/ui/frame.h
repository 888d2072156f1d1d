// frame: the types every screen and widget works with — the rectangle, the
// input of one frame, the frame context with its hit testing — and the
// interface dump (KORVELLE_UI_DUMP) that shows tests and readers which widget
// lies where.
//
// The interface is immediate mode: once per frame every screen draws itself
// into the context's cairo target and reacts to the frame's input in the same
// pass. Main thread only.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

namespace ui {

// A rectangle in logical pixels. A point is inside when x ≤ px < x + w and
// y ≤ py < y + h, so an empty or negative rectangle contains nothing.
struct Rect {
  double x = 0;
  double y = 0;
  double w = 0;
  double h = 0;

  bool contains(double px, double py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// What the user did since the previous frame. Built fresh for every frame.
struct Input {
  double mx = 0;            // mouse x; in a frame with a left press, where it went down
  double my = 0;
  bool held = false;        // left button down (carried across frames)
  bool pressed = false;     // left button went down in this frame
  bool released = false;    // left button went up in this frame
  bool doubleClick = false;
  bool rightClick = false;  // right button went down in this frame
  double wheel = 0;         // summed vertical wheel; positive is away from the user
  double dx = 0;            // summed mouse motion, logical pixels
  double dy = 0;
  std::vector<int> keys;    // SDL key symbols pressed, in order, repeats included
  std::string text;         // UTF-8 typed in this frame
  std::vector<std::string> dropped;  // file paths dropped on the window
  bool ctrl = false;
  bool shift = false;

  // Whether keys contains key.
  bool hasKey(int key) const;
};

// The frame context handed to every screen and widget; lives for the whole
// run, refreshed every frame (the scroll fields persist).
struct Ctx {
  cairo_t* cr = nullptr;    // already scaled to logical pixels
  double w = 0;             // window size, logical pixels
  double h = 0;
  double now = 0;           // seconds since start (monotonic)
  double dt = 0;            // seconds since the previous frame, at most 0.1
  Input in;
  bool clickTaken = false;  // the left click of this frame was taken
  bool scrollDragging = false;
  double scrollDragDistance = 0;
  double scrollVelocity = 0;      // logical pixels per frame
  double* scrollTarget = nullptr;  // the offset the scroll gesture moves
  double uiScale = 1.0;           // every design size is multiplied by it

  // The mouse lies inside r.
  bool hover(const Rect& r) const;
  // The first widget asking for a left release inside r gets it: sets
  // clickTaken and returns true; false when taken already or not released over r.
  bool takeClick(const Rect& r);
  // Registers widget id at r for the interface dump (no hit test).
  void hit(const char* id, const Rect& r);
};

// Interface scale for a window of w × h logical pixels:
// min(w / 1280, h / 720) clamped to [0.72, 2.0].
double interfaceScale(double w, double h);

// --- Interface dump (KORVELLE_UI_DUMP) ---------------------------------------
// Writes the rectangles registered in this frame to the dump file (replacing
// it atomically) and starts a new frame's list. A frame that registered
// nothing leaves the previous file; a file that cannot be written is skipped.
void writeUiDump();
// Overrides the dump path that is otherwise read once from KORVELLE_UI_DUMP;
// empty turns the dump off. For tests that drive frames in-process.
void setUiDumpPath(const std::string& path);

}  // namespace ui
