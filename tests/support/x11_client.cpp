#include "support/x11_client.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <memory>

namespace testing_support {

namespace {

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

constexpr long kXdndVersion = 5;

Atom atom(Display* dpy, const char* name) { return XInternAtom(dpy, name, False); }

void sendMessage(Display* dpy, Window target, Atom type, std::initializer_list<long> values) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = target;
  ev.xclient.message_type = type;
  ev.xclient.format = 32;
  int i = 0;
  for (long v : values) ev.xclient.data.l[i++] = v;
  XSendEvent(dpy, target, False, NoEventMask, &ev);
  XFlush(dpy);
}

// Hands the dragged data to the target that asks for it as "text/uri-list".
void serve(Display* dpy, const XSelectionRequestEvent& req, Atom uriList, const std::string& data) {
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.requestor = req.requestor;
  reply.xselection.selection = req.selection;
  reply.xselection.target = req.target;
  reply.xselection.time = req.time;
  reply.xselection.property = None;
  if (req.target == uriList && req.property != None) {
    XChangeProperty(dpy, req.requestor, req.property, uriList, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    reply.xselection.property = req.property;
  }
  XSendEvent(dpy, req.requestor, False, NoEventMask, &reply);
  XFlush(dpy);
}

}  // namespace

bool wmClose(const std::string& display, const std::string& window) {
  DisplayPtr dpy(XOpenDisplay(display.c_str()));
  const Window target = std::strtoul(window.c_str(), nullptr, 0);
  if (!dpy || target == 0) return false;
  sendMessage(dpy.get(), target, atom(dpy.get(), "WM_PROTOCOLS"),
              {static_cast<long>(atom(dpy.get(), "WM_DELETE_WINDOW")), CurrentTime});
  return true;
}

bool xdndDrop(const std::string& display, const std::string& window, const std::string& uriList, int x, int y,
              double timeoutSeconds) {
  DisplayPtr owner(XOpenDisplay(display.c_str()));
  const Window target = std::strtoul(window.c_str(), nullptr, 0);
  if (!owner || target == 0) return false;
  Display* dpy = owner.get();
  const Window source = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
  const Atom uriType = atom(dpy, "text/uri-list");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(long(timeoutSeconds * 1000));
  // Serves data requests until a client message of that type arrives.
  XEvent ev;
  const auto waitFor = [&](Atom message) {
    for (;;) {
      while (XPending(dpy) > 0) {
        XNextEvent(dpy, &ev);
        if (ev.type == SelectionRequest) serve(dpy, ev.xselectionrequest, uriType, uriList);
        if (ev.type == ClientMessage && ev.xclient.message_type == message) return true;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{ConnectionNumber(dpy), POLLIN, 0};
      poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    }
  };
  const long src = static_cast<long>(source);
  XSetSelectionOwner(dpy, atom(dpy, "XdndSelection"), source, CurrentTime);
  int rootX = 0;
  int rootY = 0;
  Window child = 0;
  XTranslateCoordinates(dpy, target, DefaultRootWindow(dpy), x, y, &rootX, &rootY, &child);
  sendMessage(dpy, target, atom(dpy, "XdndEnter"), {src, kXdndVersion << 24, static_cast<long>(uriType), 0, 0});
  sendMessage(
      dpy, target, atom(dpy, "XdndPosition"),
      {src, 0, (static_cast<long>(rootX) << 16) | rootY, CurrentTime, static_cast<long>(atom(dpy, "XdndActionCopy"))});
  bool dropped = waitFor(atom(dpy, "XdndStatus")) && (ev.xclient.data.l[1] & 1) != 0;  // bit 0: accepted
  if (dropped) {
    sendMessage(dpy, target, atom(dpy, "XdndDrop"), {src, 0, CurrentTime, 0, 0});
    dropped = waitFor(atom(dpy, "XdndFinished"));
  } else {
    sendMessage(dpy, target, atom(dpy, "XdndLeave"), {src, 0, 0, 0, 0});
  }
  XDestroyWindow(dpy, source);
  return dropped;
}

}  // namespace testing_support
