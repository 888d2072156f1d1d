#include "screens/editor_screen.h"

#include "ui/draw.h"

namespace ui {

void updateEditorScreen(Ctx& ctx) {
  Rect whole{0, 0, ctx.w, ctx.h};
  ctx.hit("screen.editor", whole);
  fillRect(ctx.cr, whole, 0x14181C, 1.0);
}

}  // namespace ui
