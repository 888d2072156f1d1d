// xdnd_source: plays the dragging program in an X11 drag-and-drop (XDND),
// so end-to-end tests can drop a "text/uri-list" on the program's window the
// way a file manager does.
#pragma once

#include <string>

namespace testing_support {

// Drops uriList (lines ending in CR LF, as file managers send them) on the
// X11 window with the given id (decimal or 0x hex) on display at the
// window-relative point (x, y). Blocks until the target has fetched the data
// and finished, at most timeoutSeconds. False on any failure.
bool xdndDrop(const std::string& display, const std::string& window, const std::string& uriList, int x, int y,
              double timeoutSeconds);

}  // namespace testing_support
