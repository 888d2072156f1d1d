// wm_close: asks an X11 window to close the way a window manager's close
// button does (a WM_DELETE_WINDOW message), so end-to-end tests can close the
// program's window on a virtual display that has no window manager.
#pragma once

#include <string>

namespace testing_support {

// Sends WM_PROTOCOLS / WM_DELETE_WINDOW to the window with the given id
// (decimal or 0x hex) on display. False when the display or the window
// cannot be reached.
bool wmClose(const std::string& display, const std::string& window);

}  // namespace testing_support
