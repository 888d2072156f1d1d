#include "screens/sheets.h"

#include "core/i18n.h"
#include "editor/editor.h"
#include "screens/sheet_parts.h"
#include "ui/widgets.h"

namespace ui {

Rect sheetFrame(Ctx& ctx, double bottom, double height, const std::string& title, bool* closeClicked,
                const char* id) {
  const double s = ctx.uiScale;
  Rect box{16 * s, bottom - height - 6 * s, ctx.w - 32 * s, height};
  bool closed = sheetBox(ctx, box, title, id);
  if (closeClicked) *closeClicked = closed;
  Rect inner{box.x + 16 * s, box.y + 52 * s, box.w - 32 * s, box.h - 68 * s};
  if (id) ctx.hit((std::string(id) + ".inner").c_str(), inner);
  return inner;
}

double emptySheet(Ctx& ctx, double bottom, const char* titleKey, const char* id) {
  const double height = 160 * ctx.uiScale;
  bool closed = false;
  sheetFrame(ctx, bottom, height, i18n::tr(titleKey), &closed, id);
  if (closed) editorState().sheet = Sheet::None;
  return height;
}

double updateSheets(Ctx& ctx, double bottom) {
  switch (editorState().sheet) {
    case Sheet::None: return 0;
    case Sheet::Effects: return sheetEffects(ctx, bottom);
    case Sheet::Cut: return sheetCut(ctx, bottom);
    case Sheet::Resize: return sheetResize(ctx, bottom);
    case Sheet::Format: return sheetFormat(ctx, bottom);
    case Sheet::Crop: return sheetCrop(ctx, bottom);
    case Sheet::Adjust: return sheetAdjust(ctx, bottom);
    case Sheet::Rotate: return sheetRotate(ctx, bottom);
    case Sheet::Info: return sheetInfo(ctx, bottom);
    case Sheet::More: return sheetMore(ctx, bottom);
    case Sheet::Export: return sheetExport(ctx, bottom);
  }
  return 0;  // a value outside the table draws nothing
}

}  // namespace ui
