// image_edit: applies one operation to the open image and commits the result
// as a new document version, the way every image sheet does it. A large
// picture is processed on a worker thread behind the busy overlay, so the
// window keeps drawing; a small one at once. The result is committed on the
// UI thread, and only when the document is still at the version the
// operation started from. Main thread only (the operation itself runs on the
// worker and must not touch anything else).
#pragma once

#include <functional>
#include <string>

#include "media/image.h"

namespace ui {

// What one apply does and says.
struct ImageEdit {
  const char* timer = "";       // diag::Timed name of the operation
  std::string label;            // the new version's label (translated)
  std::string busyText;         // the busy overlay's headline (translated)
  const char* errorKey = "";    // catalogue key of the failure dialog's body
  // The operation; an empty result is a failure. On the worker it reads the
  // document's picture in place (Document::withImage), so it must not keep it.
  std::function<media::Image(const media::Image&)> op;
  std::function<void()> onSuccess;                 // UI thread, after the commit
};

// Pictures from this many pixels on are processed (and for undo and redo
// read) on the worker.
inline constexpr long long kImageEditWorkerPixels = 2'000'000;

// --- Running ------------------------------------------------------------------------
// Starts edit on the current picture. False (nothing started) when
// no image is open or an edit or history step is still running.
bool startImageEdit(ImageEdit edit);
// An edit or a history step is running (its result not yet committed).
bool imageEditRunning();
// Once per frame: commits a finished result (or shows the failure dialog),
// takes a history step whose picture has arrived, and keeps the busy overlay
// up while the worker runs.
void pumpImageEdit();
// Blocks until the running edit or history step has finished, then commits
// it (tests, exit).
void finishImageEdit();

// --- Undo and redo --------------------------------------------------------------------
// One step back (undo) or forward (redo) of the editor's history without
// reading a picture on the UI thread. A step needing no file read (the
// version's pixels are held, a video, a step without a new version, a small
// picture) is taken at once. Otherwise the version's file is read on the
// worker (after its write has finished) behind the busy overlay, and
// pumpImageEdit takes the step when the pixels have arrived, if the document
// is still at the version it started from. False when there is no such step
// or a job is running.
bool startHistoryStep(bool back);

}  // namespace ui
