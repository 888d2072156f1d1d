// editor_screen: the editor, shown while a document is open — top bar, stage,
// tool bar, the open edit sheet and, for a video, the timeline. Main thread
// only.
#pragma once

#include "ui/frame.h"

namespace ui {

// Draws the editor over the whole window and reacts to the frame's input.
void updateEditorScreen(Ctx& ctx);

}  // namespace ui
