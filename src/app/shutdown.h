// shutdown: the end of an interactive run, in the one order that frees
// nothing a thread still uses and closes nothing after SDL_Quit.
//
//   1. the export job (its worker writes into the working directory);
//   2. the file-dialog worker (its answer would be collected by a screen);
//   3. the filmstrip collector and the stills worker (they decode files of
//      the working directory and post textures for the UI thread);
//   4. both players (each joins its decode thread and closes its SDL audio
//      device, which needs SDL still running);
//   5. the settings saved, the working directory emptied, the log closed;
//   6. the texture layer, then the frame texture and surface, renderer and
//      window (releaseWindow), then SDL_Quit.
//
// Each stop blocks until its thread has ended. Main thread only, once, after
// the frame loop has ended. Nothing of the program's own is left for static
// destruction but memory and already closed objects.
#pragma once

#include <functional>

namespace ui {

// Steps 1–6; releaseWindow destroys main's frame texture and surface,
// renderer and window between the texture layer and SDL_Quit.
void shutDown(const std::function<void()>& releaseWindow);

}  // namespace ui
