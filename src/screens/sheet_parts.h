// sheet_parts: what the sheets' own modules share — the common sheet frame
// and each sheet's drawing function, which the dispatcher in sheets.cpp calls.
// Each sheet takes the frame context and the bottom edge it stands on and
// returns the height it occupies. Main thread only.
#pragma once

#include <string>

#include "ui/frame.h"

namespace ui {

// --- Frame ---------------------------------------------------------------------
// Draws the sheet box from x 16 px to the window width − 16 px, top at
// bottom − height − 6 px, and registers it under id; a click on its close
// control sets *closeClicked. Returns the inner content rectangle (16 px in
// from the sides and the bottom, 52 px below the top), registered as id.inner.
Rect sheetFrame(Ctx& ctx, double bottom, double height, const std::string& title, bool* closeClicked,
                const char* id);

// A sheet still to be built: an empty frame with its title that closes.
double emptySheet(Ctx& ctx, double bottom, const char* titleKey, const char* id);

// --- The sheets (one module each group) ----------------------------------------------
double sheetEffects(Ctx& ctx, double bottom);  // sheets_video
double sheetCut(Ctx& ctx, double bottom);      // sheets_video
double sheetInfo(Ctx& ctx, double bottom);     // sheets_video
double sheetMore(Ctx& ctx, double bottom);     // sheets_video
double sheetResize(Ctx& ctx, double bottom);   // sheets_size
double sheetFormat(Ctx& ctx, double bottom);   // sheets_size
double sheetCrop(Ctx& ctx, double bottom);     // sheets_image
double sheetAdjust(Ctx& ctx, double bottom);   // sheets_image
double sheetRotate(Ctx& ctx, double bottom);   // sheets_image
double sheetExport(Ctx& ctx, double bottom);   // export

}  // namespace ui
