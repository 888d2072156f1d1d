#include "platform/uri.h"

#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/log.h"

namespace platform {

namespace {

// Runs in the detached grandchild, between fork and exec, so only
// async-signal-safe calls. The handler (often a browser that stays up for
// hours) must not inherit the program's log file, bus sockets or pipes, nor
// its signal setup.
[[noreturn]] void execHandler(const char* uri) {
  close_range(3, ~0U, 0);
  signal(SIGPIPE, SIG_DFL);
  signal(SIGCHLD, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execlp("xdg-open", "xdg-open", uri, static_cast<char*>(nullptr));
  _exit(127);
}

}  // namespace

void openUri(const std::string& uri) {
  if (uri.empty()) return;
  const char* testSwitch = std::getenv("KORVELLE_NO_OPEN");
  if (testSwitch && testSwitch[0] == '1') {
    diag::write("uri", "nicht geoeffnet (Pruefschalter): " + uri);
    return;
  }
  diag::write("uri", "oeffnen: " + uri);

  // Double fork: the child exits at once, so the program reaps it right away
  // and the grandchild running the handler is adopted by init; no zombie is
  // left and the program never waits for the handler.
  const pid_t child = fork();
  if (child < 0) {
    diag::write("uri", "fork scheiterte");
    return;
  }
  if (child == 0) {
    if (fork() != 0) _exit(0);  // a failed second fork has nothing to wait for either
    execHandler(uri.c_str());
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

std::string localPathFromUri(const std::string& uri) {
  // GLib sees only the text before a NUL, which would be a different URI.
  if (uri.empty() || uri.find('\0') != std::string::npos) return {};
  g_autofree gchar* host = nullptr;
  g_autofree gchar* path = g_filename_from_uri(uri.c_str(), &host, nullptr);
  if (path == nullptr) return {};
  // file://otherhost/... names a file on another machine.
  if (host != nullptr && *host != '\0' && g_ascii_strcasecmp(host, "localhost") != 0 &&
      g_ascii_strcasecmp(host, g_get_host_name()) != 0) {
    diag::write("uri", std::string("Datei auf einem anderen Rechner abgelehnt (") + host + "): " + uri);
    return {};
  }
  return path;
}

}  // namespace platform
