// Placeholder for the stills module (see stillcache.h).
#include "editor/stillcache.h"

namespace ui {

void resetStills() {}

}  // namespace ui
