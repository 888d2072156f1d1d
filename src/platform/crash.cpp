#include "platform/crash.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "build_info.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/product.h"

namespace platform {

namespace {

// Everything the handler touches lives in static storage and is filled before
// g_ready is set, so the handler neither allocates nor formats.
constexpr size_t kContextMax = 120;  // bytes of the last action kept for the report
constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGFPE, SIGILL, SIGBUS, SIGTRAP};

std::atomic<bool> g_ready{false};
// Set by the first handler to run: a second fault (another thread crashing at
// the same moment, or a fault while writing) must not truncate the report.
std::atomic<bool> g_reporting{false};
char g_path[512];
char g_header[512];
int g_headerLen = 0;

// The last action, double-buffered: a writer fills the slot the handler is not
// pointed at and then publishes it, so a crash during an update still reports
// the previous action whole. g_contextLock orders writers among themselves
// (never taken by the handler).
char g_context[2][192];
std::atomic<int> g_contextSlot{0};
std::mutex g_contextLock;

// A stack of its own for the handler, so that a stack overflow (SIGSEGV on a
// guard page) can still be reported from the thread that installed it.
constexpr size_t kAltStackSize = 64 * 1024;
alignas(16) char g_altStack[kAltStackSize];

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

// Writes all of [data, data+len) unless a write fails; async-signal-safe.
void writeAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    len -= static_cast<size_t>(n);
  }
}

template <size_t N>
void writeText(int fd, const char (&text)[N]) {
  writeAll(fd, text, N - 1);
}

size_t boundedLength(const char* s, size_t max) {
  size_t n = 0;
  while (n < max && s[n] != '\0') ++n;
  return n;
}

void writeSignalLine(int fd, int sig) {
  switch (sig) {
    case SIGILL: return writeText(fd, "SIGILL (unerlaubter Befehl)\n");
    case SIGTRAP: return writeText(fd, "SIGTRAP (fataler GLib-Fehler — fehlt eine Ressource?)\n");
    case SIGABRT: return writeText(fd, "SIGABRT (abgebrochen)\n");
    case SIGBUS: return writeText(fd, "SIGBUS (Busfehler)\n");
    case SIGFPE: return writeText(fd, "SIGFPE (Rechenfehler)\n");
    case SIGSEGV: return writeText(fd, "SIGSEGV (Zugriff auf fremden Speicher)\n");
    default: return writeText(fd, "unbekanntes Signal\n");
  }
}

// Names the log of the run in the report's header.
constexpr char kLogLabel[] = "\nProtokoll: ";

// The report's closing text, around the support address.
constexpr char kFooterLead[] =
    "\nDiese Datei wird NICHT verschickt. Wenn du magst, schick sie an\n";
constexpr char kFooterTail[] = " — daraus laesst sich der Fehler finden.\n";

// Only async-signal-safe calls from here on: open, write, close, sigaction, raise.
void onFatalSignal(int sig) {
  if (g_ready.load(std::memory_order_acquire) && !g_reporting.exchange(true)) {
    const int fd = ::open(g_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      writeAll(fd, g_header, static_cast<size_t>(g_headerLen));
      writeText(fd, "Signal: ");
      writeSignalLine(fd, sig);
      const char* context = g_context[g_contextSlot.load(std::memory_order_acquire)];
      const size_t contextLen = boundedLength(context, kContextMax);
      if (contextLen > 0) {
        writeText(fd, "Zuletzt: ");
        writeAll(fd, context, contextLen);
        writeText(fd, "\n");
      }
      writeText(fd, kFooterLead);
      writeAll(fd, product::kSupportEmail, sizeof product::kSupportEmail - 1);
      writeText(fd, kFooterTail);
      ::close(fd);
    }
  }
  // End the way the process would have without us, core dump included.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
}

// Local time as "%Y%m%d-%H%M%S".
std::string timeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm {};
  localtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
  return text;
}

// Reports are a few hundred bytes; anything much larger is not one of ours.
constexpr size_t kMaxReportBytes = 64 * 1024;

// The whole report at path; false when there is none or it cannot be read.
bool readReport(const char* path, std::string* text) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char block[4096];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || text->size() > kMaxReportBytes) {
      ok = n == 0;
      break;
    }
    text->append(block, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

// The report names the log of the run that crashed; this run's start may
// have moved that log since (diag::earlierRunLog).
void updateLogLine(std::string* text) {
  const size_t at = text->find(kLogLabel);
  if (at == std::string::npos) return;
  const size_t from = at + sizeof kLogLabel - 1;
  const size_t end = text->find('\n', from);
  if (end == std::string::npos) return;
  text->replace(from, end - from, diag::earlierRunLog(text->substr(from, end - from)));
}

}  // namespace

void installCrashHandler() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string dir = (runtime && *runtime) ? std::string(runtime) : paths::dataDir();
  std::snprintf(g_path, sizeof g_path, "%s/%s_crash.txt", dir.c_str(), product::kShortName);
  // A run whose log is off has no log to name.
  const std::string log = diag::path();
  const std::string logLine = log.empty() ? "" : std::string(kLogLabel + 1) + log + "\n";
  const int len = std::snprintf(g_header, sizeof g_header,
                                "%s %s (Build %d)\nportiert aus %s\n%s"
                                "-----------------------------------------\n",
                                product::kName, product::kVersion, product::kBuild,
                                build::kSourceRevision, logLine.c_str());
  const int cap = static_cast<int>(sizeof g_header) - 1;  // snprintf reports the untruncated length
  g_headerLen = len < 0 ? 0 : (len < cap ? len : cap);
  setCrashContext(nullptr);
  g_ready.store(true, std::memory_order_release);

  stack_t alt {};
  alt.ss_sp = g_altStack;
  alt.ss_size = sizeof g_altStack;
  const bool haveAltStack = ::sigaltstack(&alt, nullptr) == 0;

  struct sigaction sa {};
  sa.sa_handler = onFatalSignal;
  sigemptyset(&sa.sa_mask);
  // SA_NODEFER: the handler's own raise() ends the process at once instead of
  // waiting, blocked, for the handler to return to the faulting instruction.
  sa.sa_flags = SA_NODEFER | (haveAltStack ? SA_ONSTACK : 0);
  for (int sig : kFatalSignals) ::sigaction(sig, &sa, nullptr);
}

void setCrashContext(const char* text) {
  std::lock_guard<std::mutex> lock(g_contextLock);
  const int next = 1 - g_contextSlot.load(std::memory_order_relaxed);
  if (text) {
    std::snprintf(g_context[next], sizeof g_context[next], "%.120s", text);
  } else {
    g_context[next][0] = '\0';
  }
  g_contextSlot.store(next, std::memory_order_release);
}

std::string takeLastCrashReport() {
  if (g_path[0] == '\0') return "";
  std::string text;
  if (!readReport(g_path, &text)) return "";
  updateLogLine(&text);
  const std::string dest =
      paths::dataDir() + "/" + product::kShortName + "_crash_" + timeStamp() + ".txt";
  // Written anew rather than renamed: the runtime directory is usually a
  // separate file system. A report that cannot be moved is dropped rather
  // than announced again at every start.
  const bool moved = fs::replaceFile(dest, text.data(), text.size());
  fs::remove(g_path);
  if (!moved) return "";
  diag::write("crash", "Bericht vom letzten Lauf: " + dest);
  return dest;
}

}  // namespace platform
