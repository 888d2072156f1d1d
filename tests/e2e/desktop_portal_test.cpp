// The open dialog through the real desktop portal and its GTK backend on a private session bus: a
// typed path opens the document, Escape cancels without a word.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "editor/editor_fixtures.h"
#include "screens/portal_session.h"
#include "support/e2e_harness.h"

using namespace testing_support;

namespace {

constexpr char kPortal[] = "/usr/libexec/xdg-desktop-portal";
constexpr char kPortalGtk[] = "/usr/libexec/xdg-desktop-portal-gtk";

// dbus-daemon, the portal and its GTK backend for one display, in a folder of their own.
class DesktopPortal {
 public:
  bool start(const VirtualDisplay& display, std::string* why) {
    const std::string socket = dir_.file("bus");
    writeFile(dir_.file("bus.conf"),
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:path=" + socket + "</listen>"
              "<auth>EXTERNAL</auth><policy context=\"default\">"
              "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
              "<allow own=\"*\"/></policy></busconfig>\n");
    address_ = "unix:path=" + socket;
    if (!bus_.start({"/usr/bin/dbus-daemon", "--config-file=" + dir_.file("bus.conf"), "--nofork", "--nopidfile"},
                    dir_.file("bus.log")) ||
        !waitUntil([&] { return access(socket.c_str(), F_OK) == 0; })) {
      *why = "dbus-daemon did not start";
      return false;
    }
    for (const char* sub : {"home", "runtime", "data"}) mkdir(dir_.file(sub).c_str(), 0700);
    // Starts program and waits until it owns busName. The portal picks its backends by desktop name.
    const auto launch = [&](flow_fixtures::Background& job, const char* program, const std::string& busName) {
      const std::string log = dir_.file(busName + ".log");
      if (job.start({"/usr/bin/env", "DISPLAY=" + display.name(), "DBUS_SESSION_BUS_ADDRESS=" + address_,
                     "XDG_CURRENT_DESKTOP=gnome", "GSETTINGS_BACKEND=memory", "GTK_A11Y=none", "NO_AT_BRIDGE=1",
                     "HOME=" + dir_.file("home"), "XDG_RUNTIME_DIR=" + dir_.file("runtime"),
                     "XDG_DATA_HOME=" + dir_.file("data"), program},
                    log) &&
          runProcess({"gdbus", "wait", "--address", address_, "--timeout", "30", busName}).exitCode == 0) {
        return true;
      }
      *why = std::string(program) + " did not come up: " + readFile(log);
      return false;
    };
    return launch(gtk_, kPortalGtk, "org.freedesktop.impl.portal.desktop.gtk") &&
           launch(portal_, kPortal, "org.freedesktop.portal.Desktop");
  }
  const std::string& address() const { return address_; }

 private:
  TempDir dir_;
  std::string address_;
  flow_fixtures::Background bus_;
  flow_fixtures::Background gtk_;
  flow_fixtures::Background portal_;
};

// The X window id of the mapped dialog titled title, other than `previous` (which may still be going).
std::string waitForDialogWindow(const VirtualDisplay& x, const std::string& title, const std::string& previous = "") {
  std::string id;
  waitUntil([&] {
    RunResult r = x.xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"});
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line != previous) {
        id = line;
        return true;
      }
    }
    return false;
  });
  return id;
}

// Focuses the dialog; a window that went away meanwhile (it can be remapped on a busy machine) is looked up anew.
bool focusDialog(const VirtualDisplay& x, const std::string& title, std::string* dialog) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!dialog->empty() && x.xdotool({"windowfocus", "--sync", *dialog}).exitCode == 0) return true;
    *dialog = waitForDialogWindow(x, title);
  }
  return false;
}

class DesktopPortalE2E : public E2ETest {
 protected:
  DesktopPortalE2E() : E2ETest({"gdbus", kPortal, kPortalGtk}, 1600, 1000) {}
};

}  // namespace

TEST_F(DesktopPortalE2E, TypedPathOpensAndEscapeCancelsSilently) {
  TempDir media;
  std::string pic = editor_fixtures::writeSolid(media.file("typed name.png"), 80, 60, {10, 200, 90});
  ASSERT_FALSE(pic.empty());
  DesktopPortal portal;
  std::string why;
  ASSERT_TRUE(portal.start(x, &why)) << why;
  profile.usePortal = true;
  AppProcess app(x, profile, {"--size", "1000x700"}, {{"DBUS_SESSION_BUS_ADDRESS", portal.address()}});
  ASSERT_TRUE(started(app, "start.image"));

  // Escape ends the dialog without files and without a message.
  ASSERT_TRUE(app.clickWidget("start.image"));
  std::string dialog = waitForDialogWindow(x, "Choose image");
  ASSERT_FALSE(dialog.empty()) << app.log();
  ASSERT_TRUE(focusDialog(x, "Choose image", &dialog));
  ASSERT_EQ(x.xdotool({"key", "Escape"}).exitCode, 0);
  ASSERT_TRUE(app.waitForLog("Dialog ohne Ergebnis")) << app.log();
  // The program draws on events only: a pointer move brings the next frame.
  ASSERT_EQ(x.xdotool({"mousemove", "--window", app.windowId(), "60", "60"}).exitCode, 0);
  ASSERT_TRUE(app.waitForNextFrame());
  EXPECT_FALSE(app.widget("dialog.0").has_value());
  EXPECT_FALSE(app.logHas("Meldung: "));
  EXPECT_TRUE(app.widget("screen.start").has_value());

  // A typed path: the portal hands it over and the editor opens it.
  ASSERT_TRUE(app.clickWidget("start.image"));
  dialog = waitForDialogWindow(x, "Choose image", dialog);
  ASSERT_FALSE(dialog.empty()) << app.log();
  // Ctrl+L opens the location entry (a typed "/" swallows the next key); lost keys: typed again.
  bool opened = false;
  for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
    ASSERT_TRUE(focusDialog(x, "Choose image", &dialog));
    ASSERT_EQ(x.xdotool({"key", "ctrl+l", "ctrl+a", "BackSpace"}).exitCode, 0);
    ASSERT_EQ(x.xdotool({"type", "--delay", "20", pic}).exitCode, 0);
    ASSERT_EQ(x.xdotool({"key", "Return"}).exitCode, 0);
    opened = app.waitForWidget("screen.editor", true, 8);
  }
  EXPECT_TRUE(opened) << app.log();
  EXPECT_TRUE(app.logHas("geoeffnet: " + pic + " ok"));

  terminate(app);
}
