#include "screens/sheet_parts.h"
#include "screens/sheets.h"

namespace ui {

double sheetCrop(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "editor.crop", "sheet.crop"); }
double sheetAdjust(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "editor.adjust", "sheet.adjust"); }
double sheetRotate(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "editor.transform", "sheet.rotate"); }

void drawCropOverlay(Ctx&, const Rect&) {}

}  // namespace ui
