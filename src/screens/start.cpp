#include "screens/start.h"

#include "ui/draw.h"

namespace ui {

void updateStartScreen(Ctx& ctx) {
  Rect whole{0, 0, ctx.w, ctx.h};
  ctx.hit("screen.start", whole);
  fillRect(ctx.cr, whole, 0x14181C, 1.0);
}

}  // namespace ui
