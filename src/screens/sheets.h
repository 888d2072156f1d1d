// sheets: the edit sheets, panels that slide over the lower part of the
// editor while one editing task runs (effects, cut, resize, format, crop,
// adjust, rotate, info, more, export), and the crop frame drawn on the stage.
// Main thread only.
#pragma once

#include "ui/frame.h"

namespace ui {

// Draws the sheet chosen by editorState().sheet with its bottom edge at
// bottom; returns the height it occupies (0 when none is open).
double updateSheets(Ctx& ctx, double bottom);
// Draws the crop frame over the stage picture and handles its dragging.
void drawCropOverlay(Ctx& ctx, const Rect& picture);

}  // namespace ui
