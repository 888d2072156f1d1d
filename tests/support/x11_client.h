// x11_client: acts as another X11 client towards the program's window, for
// what a virtual display without a window manager or file manager lacks.
// Windows are named by id (decimal or 0x hex), displays as ":N".
#pragma once

#include <string>

namespace testing_support {

// Sends WM_PROTOCOLS / WM_DELETE_WINDOW, as a window manager's close button
// does. False when the display or the window cannot be reached.
bool wmClose(const std::string& display, const std::string& window);

// Drops uriList ("text/uri-list", lines ending in CR LF as file managers send
// them) with XDND at the window-relative point (x, y). Blocks until the
// target has fetched the data and finished, at most timeoutSeconds. False on
// any failure.
bool xdndDrop(const std::string& display, const std::string& window, const std::string& uriList, int x, int y,
              double timeoutSeconds);

}  // namespace testing_support
