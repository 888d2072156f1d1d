// Placeholder for the filmstrip module (see filmstrip.h).
#include "editor/filmstrip.h"

namespace ui {

void resetFilmstrip() {}

}  // namespace ui
