// start: the start screen, shown while no document is open — the
// application mark, the two buttons that open a video or an image, the drop
// note, the format cards and the corner buttons to the settings and about
// screens. Main thread only.
#pragma once

#include "ui/frame.h"

namespace ui {

// Draws the start screen over the whole window and reacts to the frame's input.
void updateStartScreen(Ctx& ctx);

}  // namespace ui
