#include "screens/export.h"

#include "platform/log.h"
#include "screens/sheet_parts.h"

namespace ui {

double sheetExport(Ctx& ctx, double bottom) { return emptySheet(ctx, bottom, "editor.export", "sheet.export"); }
void doSaveAs(Ctx&) { diag::write("ui", "Speichern noch nicht verdrahtet"); }
void startVideoExport(const std::string&, const std::vector<media::Segment>&, int, int) {
  diag::write("ui", "Export noch nicht verdrahtet");
}
void pumpExport(Ctx&) {}
bool applyVideoToWork(const std::vector<media::Segment>&, int, int, const std::string&, const std::string&) {
  diag::write("ui", "Arbeitskopie noch nicht verdrahtet");
  return false;
}
void stopExportJob() {}

}  // namespace ui
