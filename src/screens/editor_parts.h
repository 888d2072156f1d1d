// editor_parts: what the editor screen's modules (editor_screen, stage,
// timeline) share — the top-bar style button, seeking with the frame that
// follows it, and the stage. Main thread only.
#pragma once

#include <string>

#include "ui/frame.h"
#include "ui/icons.h"

namespace ui {

// --- Buttons ---------------------------------------------------------------------
// Square icon button: registers id, arms the tooltip tr(tooltipKey); disabled
// draws a faint icon and returns false; enabled draws a hover background and
// returns whether it was clicked. iconSize in logical pixels.
bool barButton(Ctx& ctx, const Rect& r, Icon icon, bool enabled, const char* id, const char* tooltipKey,
               double iconSize);

// --- The open video ------------------------------------------------------------------
// Duration of the current video version in ms (0 when unknown).
double videoDurationMs();
// Frame rate of the current video version (30 when unknown).
double videoFps();
// Moves the playhead to ms (limited to [0, duration]) and seeks the player;
// frames are requested until the picture there has arrived.
void seekPlayhead(double ms);
// Toggles play and pause of the main player (nothing while it is not ready).
void togglePlay();
// Logs and sets a marker at the playhead: in true IN, else OUT.
void setMarkerAtPlayhead(bool in);

// --- Stage --------------------------------------------------------------------------
// Draws the stage (picture, previews, fades, cross fades, crop overlay) into
// r and keeps the players in step with the document.
void updateStage(Ctx& ctx, const Rect& r);
// Forgets the failed player and pre-roll opens (a new work or version).
void resetStageFailures();

// --- Texts -------------------------------------------------------------------------
// "%.0f" of ms followed by " ms", for log lines about lengths.
std::string msText(double ms);

}  // namespace ui
