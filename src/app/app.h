// app: the frame's shared types (rectangle, input, frame context, hit
// testing and the interface dump) and the screen router with its two
// overlays — the modal message dialog and the busy overlay.
//
// The interface is immediate mode: once per frame ui::App::update draws every
// screen into the context's cairo target and lets it react to the frame's
// input in the same pass. Everything here runs on the main thread only.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>
#include <vector>

namespace ui {

// --- Frame types ------------------------------------------------------------

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

// --- Dialog and busy overlay -------------------------------------------------

struct DialogButton {
  std::string label;  // already translated
  int kind = 0;       // 0 plain (outlined), 1 primary (filled), 2 destructive (red)
};

// The one modal message dialog.
struct Dialog {
  std::string title;
  std::string body;
  std::vector<DialogButton> buttons;
  int result = -1;  // index of the chosen button, −1 while none
  bool open = false;
};

// The work that blocks the interface. Its owner fills it every frame.
struct BusyState {
  bool active = false;          // overlay shown, base screen gets no input
  std::string label;            // headline, already translated
  double progress = 0;          // percent, 0 … 100
  double remaining = -1;        // seconds left; negative while unknown
  std::string detail;           // optional middle part of the info line
  bool cancellable = true;      // a cancel button is shown
  bool cancelRequested = false; // the user pressed cancel
};

// Replaces the dialog's contents and opens it with result −1. No buttons
// gives one primary tr("errors.closeConfirm") button.
void showDialog(const std::string& title, const std::string& body, std::vector<DialogButton> buttons);
// The chosen button's index, reset to −1 by the call; −1 when none was chosen.
int takeDialogResult();
// Whether the dialog is shown.
bool dialogOpen();
// The busy state, for reading and writing.
BusyState& busy();
// Draws the busy overlay when active; it swallows every click.
void updateBusy(Ctx& ctx);
// Draws the dialog when open; a release over a button chooses it. Marks the
// frame's click taken whatever happened.
void updateDialog(Ctx& ctx);

// --- Overlay layout (pure; shared by the drawing and the tests) --------------

// Where the dialog's panel and buttons go, all in logical pixels.
struct DialogLayout {
  Rect panel;
  double inset = 0;        // p
  double textWidth = 0;    // T
  std::vector<Rect> buttons;
};
// Layout for a window of winW logical pixels wide and winH high at scale s,
// with measured title and body heights (bodyH 0 for no body) and n buttons:
// up to two share a row, more are stacked full width.
DialogLayout dialogLayout(double winW, double winH, double s, double titleH, double bodyH, int n);
// The busy overlay's remaining-time part: "%d s" up to 59 s, "%d:%02d" above,
// from the value rounded to whole seconds. Only for remaining ≥ 0.
std::string busyTimeText(double remaining);
// progress / 100 clamped to [0, 1].
double busyFraction(double progress);
// The info line under the progress bar ("42 %  ·  about 3 s left").
std::string busyInfoLine(const BusyState& b);

// --- Router ------------------------------------------------------------------

// Runs draw with the context's input withheld — an empty input whose mouse
// lies far outside every widget — then puts the input back and clears
// clickTaken. The router draws the base screen this way under the busy
// overlay or a secondary screen.
void drawWithInputWithheld(Ctx& ctx, const std::function<void(Ctx&)>& draw);

class App {
 public:
  // Values of screen: which secondary screen is drawn over the base screen.
  enum Screen : int { Main = 0, Settings = 1, Language = 2, About = 3, Licenses = 4 };

  int screen = Main;

  // The single router.
  static App& instance();
  // Whether the base screen receives the frame's input: not while the busy
  // overlay is up or a secondary screen is open.
  bool baseScreenGetsInput() const;
  // Draws one frame of the whole interface: drops, base screen (input
  // withheld while busy or under a secondary screen), secondary screen, busy
  // overlay, dialog.
  void update(Ctx& ctx);
};

}  // namespace ui
