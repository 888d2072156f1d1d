// x11_display: a scope guard for an Xlib connection, shared by the test
// helpers that act as X11 clients.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <string>

namespace testing_support {

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Connects to display (":N"); null when it cannot be reached.
inline DisplayPtr openDisplay(const std::string& display) { return DisplayPtr(XOpenDisplay(display.c_str())); }

}  // namespace testing_support
