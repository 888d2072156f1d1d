#include "screens/overlays.h"

#include "ui/draw.h"

namespace ui {

namespace {

void drawPlainScreen(Ctx& ctx, const char* id) {
  Rect whole{0, 0, ctx.w, ctx.h};
  ctx.hit(id, whole);
  fillRect(ctx.cr, whole, 0x14181C, 1.0);
}

}  // namespace

void updateSettingsScreen(Ctx& ctx) { drawPlainScreen(ctx, "screen.settings"); }
void updateLanguageScreen(Ctx& ctx) { drawPlainScreen(ctx, "screen.language"); }
void updateAboutScreen(Ctx& ctx) { drawPlainScreen(ctx, "screen.about"); }
void updateLicensesScreen(Ctx& ctx) { drawPlainScreen(ctx, "screen.licenses"); }

}  // namespace ui
