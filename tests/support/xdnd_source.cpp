#include "support/xdnd_source.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "support/x11_display.h"

namespace testing_support {

namespace {

constexpr long kXdndVersion = 5;

class Drag {
 public:
  Drag(Display* dpy, Window target) : dpy_(dpy), target_(target) {
    source_ = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    enter_ = atom("XdndEnter");
    position_ = atom("XdndPosition");
    status_ = atom("XdndStatus");
    drop_ = atom("XdndDrop");
    leave_ = atom("XdndLeave");
    finished_ = atom("XdndFinished");
    selection_ = atom("XdndSelection");
    copy_ = atom("XdndActionCopy");
    uriList_ = atom("text/uri-list");
  }
  ~Drag() { XDestroyWindow(dpy_, source_); }

  bool run(const std::string& data, int x, int y, double timeoutSeconds) {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                        std::chrono::duration<double>(timeoutSeconds));
    data_ = data;
    XSetSelectionOwner(dpy_, selection_, source_, CurrentTime);
    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    XTranslateCoordinates(dpy_, target_, DefaultRootWindow(dpy_), x, y, &rootX, &rootY, &child);

    send(enter_, {static_cast<long>(source_), kXdndVersion << 24, static_cast<long>(uriList_), 0, 0});
    send(position_, {static_cast<long>(source_), 0, (static_cast<long>(rootX) << 16) | rootY, CurrentTime,
                     static_cast<long>(copy_)});
    XEvent ev;
    if (!waitFor(ClientMessage, status_, &ev)) return false;
    if ((ev.xclient.data.l[1] & 1) == 0) {  // the target declined
      send(leave_, {static_cast<long>(source_), 0, 0, 0, 0});
      return false;
    }
    send(drop_, {static_cast<long>(source_), 0, CurrentTime, 0, 0});
    return waitFor(ClientMessage, finished_, &ev);
  }

 private:
  Atom atom(const char* name) { return XInternAtom(dpy_, name, False); }

  void send(Atom type, std::initializer_list<long> values) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.display = dpy_;
    ev.xclient.window = target_;
    ev.xclient.message_type = type;
    ev.xclient.format = 32;
    int i = 0;
    for (long v : values) ev.xclient.data.l[i++] = v;
    XSendEvent(dpy_, target_, False, NoEventMask, &ev);
    XFlush(dpy_);
  }

  // Answers the target's request for the dragged data.
  void serve(const XSelectionRequestEvent& req) {
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = req.display;
    reply.xselection.requestor = req.requestor;
    reply.xselection.selection = req.selection;
    reply.xselection.target = req.target;
    reply.xselection.time = req.time;
    reply.xselection.property = None;
    if (req.target == uriList_ && req.property != None) {
      XChangeProperty(dpy_, req.requestor, req.property, uriList_, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(data_.data()), static_cast<int>(data_.size()));
      reply.xselection.property = req.property;
    }
    XSendEvent(dpy_, req.requestor, False, NoEventMask, &reply);
    XFlush(dpy_);
  }

  // Processes events until a client message of the given type arrives.
  bool waitFor(int type, Atom message, XEvent* out) {
    for (;;) {
      while (XPending(dpy_) > 0) {
        XNextEvent(dpy_, out);
        if (out->type == SelectionRequest) {
          serve(out->xselectionrequest);
        } else if (out->type == type && out->xclient.message_type == message) {
          return true;
        }
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
      poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    }
  }

  Display* dpy_;
  Window target_;
  Window source_;
  Atom enter_, position_, status_, drop_, leave_, finished_, selection_, copy_, uriList_;
  std::string data_;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace

bool xdndDrop(const std::string& display, const std::string& window, const std::string& uriList, int x, int y,
              double timeoutSeconds) {
  DisplayPtr dpy = openDisplay(display);
  if (!dpy) return false;
  Window target = std::strtoul(window.c_str(), nullptr, 0);
  if (target == 0) return false;
  Drag drag(dpy.get(), target);
  return drag.run(uriList, x, y, timeoutSeconds);
}

}  // namespace testing_support
