#include "screens/sheet_parts.h"

namespace ui {

double sheetResize(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "editor.size", "sheet.resize"); }
double sheetFormat(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "editor.format", "sheet.format"); }

}  // namespace ui
