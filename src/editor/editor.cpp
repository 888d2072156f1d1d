// Placeholder for the editor module (see editor.h).
#include "editor/editor.h"

namespace ui {

void handleDroppedFiles(Ctx&) {}

}  // namespace ui
