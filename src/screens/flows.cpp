#include "screens/flows.h"

#include "platform/log.h"

namespace ui {

void startOpenMedia(bool) { diag::write("ui", "Oeffnen-Dialog noch nicht verdrahtet"); }
void startAppendVideo() { diag::write("ui", "Anhaengen noch nicht verdrahtet"); }
void pumpDialog(Ctx&) {}
void handleDroppedFiles(Ctx&) {}
void openDroppedFiles(const std::vector<std::string>&) {}
bool appendVideoFiles(const std::vector<std::string>&, int) { return false; }
void reorderClips(const std::vector<media::Segment>&) { diag::write("ui", "Umordnen noch nicht verdrahtet"); }

}  // namespace ui
