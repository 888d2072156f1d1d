#include "support/wm_close.h"

#include <cstdlib>

#include "support/x11_display.h"

namespace testing_support {

bool wmClose(const std::string& display, const std::string& window) {
  DisplayPtr dpy = openDisplay(display);
  if (!dpy || window.empty()) return false;
  const Window target = std::strtoul(window.c_str(), nullptr, 0);
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = target;
  ev.xclient.message_type = XInternAtom(dpy.get(), "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy.get(), "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  if (XSendEvent(dpy.get(), target, False, NoEventMask, &ev) == 0) return false;
  XSync(dpy.get(), False);
  return true;
}

}  // namespace testing_support
