// parent_window: tells the desktop-portal file dialogs which window they
// belong to. Kept apart from main because the window-system headers it needs
// define macros (None, Status, Bool) that clash with ordinary names.
#pragma once

struct SDL_Window;

namespace ui {

// On X11, sets KORVELLE_PARENT_WINDOW to "x11:<window id in hex>" unless it
// is already set, and logs it. Elsewhere nothing happens.
void publishParentWindow(SDL_Window* window);

}  // namespace ui
