// dialog: the one modal message dialog and the busy overlay that blocks the
// interface while long work runs. Screens ask a question with showDialog and
// collect the answer on a later frame with takeDialogResult; the owner of a
// long job fills busy() every frame. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "ui/frame.h"

namespace ui {

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
// The dialog as last shown (title, body, buttons), for tests and logs.
const Dialog& currentDialog();
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

}  // namespace ui
