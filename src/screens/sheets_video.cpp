#include "screens/sheet_parts.h"

namespace ui {

double sheetEffects(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "effects.title", "sheet.effects"); }
double sheetCut(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "editor.cut", "sheet.cut"); }
double sheetInfo(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "info.title", "sheet.info"); }
double sheetMore(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "menu.open", "sheet.more"); }

}  // namespace ui
