#include "platform/filedialog_portal.h"

#include <gio/gio.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/log.h"
#include "platform/uri.h"

namespace platform {

namespace {

// A portal that has not even accepted the call within this time is not coming.
constexpr int kCallTimeoutMs = 10000;
// A dialog left unanswered this long is given up, so a worker never lives forever.
constexpr int kDialogTimeoutMs = 180000;
// Closing a given-up dialog on the desktop is a courtesy; it must not hold up the worker.
constexpr int kCloseTimeoutMs = 2000;

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kFileChooser = "org.freedesktop.portal.FileChooser";
constexpr const char* kRequest = "org.freedesktop.portal.Request";

// The dialog job. `running` and `finished` are flipped with sequentially
// consistent stores, `finished` first, so a poll that sees `running` cleared
// also sees `finished`. `busy` stays set until the worker has stored its
// outcome: a forced answer clears `running` early, and a new dialog must not
// then wait in join() for a worker that is still showing its dialog.
struct Job {
  std::thread thread;
  std::atomic<bool> running{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> busy{false};
  std::mutex mutex;
  std::vector<std::string> paths;  // guarded by mutex

  // The open dialog's cancellable and loop, so that the end of the program
  // can stop it. Guarded by mutex; owned by the worker.
  GCancellable* cancel = nullptr;
  GMainLoop* loop = nullptr;
  bool stopping = false;

  Job() = default;
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;
  // The program is ending: stop an open dialog and join its worker.
  ~Job() { stop(); }
  void stop();
};

Job& job() {
  static Job instance;
  return instance;
}

std::optional<std::vector<std::string>> g_forced;  // guarded by job().mutex
std::atomic<bool> g_usedPortal{false};
std::atomic<int> g_serial{0};
std::atomic<int> g_dialogTimeoutMs{kDialogTimeoutMs};

gboolean quitLoop(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

void unrefLoop(gpointer loop) { g_main_loop_unref(static_cast<GMainLoop*>(loop)); }

void Job::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    if (cancel != nullptr) g_cancellable_cancel(cancel);
    // A source on the worker's own context rather than g_main_loop_quit():
    // a quit issued just before the loop starts running would be lost.
    if (loop != nullptr) {
      GSource* idle = g_idle_source_new();
      g_source_set_callback(idle, quitLoop, g_main_loop_ref(loop), unrefLoop);
      g_source_attach(idle, g_main_loop_get_context(loop));
      g_source_unref(idle);
    }
  }
  if (thread.joinable()) thread.join();
}

// --- GLib scope guards -------------------------------------------------------

// A private bus connection: closed and released when the dialog ends, and
// never tied to a shared connection whose loss would end the process.
struct BusCloser {
  void operator()(GDBusConnection* bus) const {
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
  }
};
using BusPtr = std::unique_ptr<GDBusConnection, BusCloser>;

// Makes a context the thread's default for the scope.
class ThreadDefaultContext {
 public:
  explicit ThreadDefaultContext(GMainContext* context) : context_(context) {
    g_main_context_push_thread_default(context_);
  }
  ~ThreadDefaultContext() { g_main_context_pop_thread_default(context_); }
  ThreadDefaultContext(const ThreadDefaultContext&) = delete;
  ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;

 private:
  GMainContext* context_;
};

// Publishes the worker's cancellable to Job::stop for the scope.
class StopHandle {
 public:
  explicit StopHandle(GCancellable* cancel) {
    Job& j = job();
    std::lock_guard<std::mutex> lock(j.mutex);
    j.cancel = cancel;
  }
  ~StopHandle() {
    Job& j = job();
    std::lock_guard<std::mutex> lock(j.mutex);
    j.cancel = nullptr;
  }
  StopHandle(const StopHandle&) = delete;
  StopHandle& operator=(const StopHandle&) = delete;
};

// Publishes the worker's running loop to Job::stop for the scope.
class StopLoop {
 public:
  explicit StopLoop(GMainLoop* loop) {
    Job& j = job();
    std::lock_guard<std::mutex> lock(j.mutex);
    j.loop = loop;
    stopping_ = j.stopping;
  }
  ~StopLoop() {
    Job& j = job();
    std::lock_guard<std::mutex> lock(j.mutex);
    j.loop = nullptr;
  }
  // True when the program is already ending.
  bool stopping() const { return stopping_; }
  StopLoop(const StopLoop&) = delete;
  StopLoop& operator=(const StopLoop&) = delete;

 private:
  bool stopping_ = false;
};

// What the Response signal brought; lives on the worker's stack.
struct Response {
  GMainLoop* loop = nullptr;
  bool answered = false;
  std::vector<std::string> paths;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data);

// One "Response" subscription on a request path, dropped with the scope.
class ResponseSubscription {
 public:
  ResponseSubscription(GDBusConnection* bus, const std::string& path, Response* response)
      : bus_(bus),
        id_(g_dbus_connection_signal_subscribe(bus, kPortalName, kRequest, "Response",
                                               path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                               onResponse, response, nullptr)) {}
  ~ResponseSubscription() { g_dbus_connection_signal_unsubscribe(bus_, id_); }
  ResponseSubscription(const ResponseSubscription&) = delete;
  ResponseSubscription& operator=(const ResponseSubscription&) = delete;

 private:
  GDBusConnection* bus_;
  guint id_;
};

// The give-up timer on the worker's context, destroyed with the scope.
class DialogTimeout {
 public:
  DialogTimeout(GMainContext* context, GMainLoop* loop, int ms)
      : source_(g_timeout_source_new(static_cast<guint>(ms))) {
    g_source_set_callback(source_, quitLoop, loop, nullptr);
    g_source_attach(source_, context);
  }
  ~DialogTimeout() {
    g_source_destroy(source_);
    g_source_unref(source_);
  }
  DialogTimeout(const DialogTimeout&) = delete;
  DialogTimeout& operator=(const DialogTimeout&) = delete;

 private:
  GSource* source_;
};

// --- The request --------------------------------------------------------------

// D-Bus strings must be valid UTF-8 without NULs, but file names (a proposed
// name, a pattern) need not be; invalid bytes become U+FFFD.
std::string validUtf8(const std::string& text) {
  if (g_utf8_validate_len(text.data(), text.size(), nullptr)) return text;
  g_autofree gchar* fixed = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  return fixed;
}

// Filters as a(sa(us)); 0 marks a glob pattern. Null when no filter has a pattern.
GVariant* buildFilters(const std::vector<FileFilter>& filters) {
  g_auto(GVariantBuilder) list = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE("a(sa(us))"));
  bool any = false;
  for (const FileFilter& filter : filters) {
    if (filter.patterns.empty()) continue;
    g_auto(GVariantBuilder) patterns = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE("a(us)"));
    for (const std::string& pattern : filter.patterns) {
      g_variant_builder_add(&patterns, "(us)", 0u, validUtf8(pattern).c_str());
    }
    g_variant_builder_add(&list, "(s@a(us))", validUtf8(filter.name).c_str(),
                          g_variant_builder_end(&patterns));
    any = true;
  }
  return any ? g_variant_builder_end(&list) : nullptr;
}

// The request's options, a{sv}, as a floating reference.
GVariant* buildOptions(const std::string& token, const std::vector<FileFilter>& filters,
                       const std::string& folder, const std::string& name, bool multiple) {
  g_auto(GVariantBuilder) options = G_VARIANT_BUILDER_INIT(G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  g_variant_builder_add(&options, "{sv}", "modal", g_variant_new_boolean(TRUE));
  if (multiple) g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(TRUE));
  if (GVariant* list = buildFilters(filters)) {
    g_variant_builder_add(&options, "{sv}", "filters", list);
  }
  if (!name.empty()) {
    g_variant_builder_add(&options, "{sv}", "current_name",
                          g_variant_new_string(validUtf8(name).c_str()));
  }
  // A file-system path, so bytes rather than text; the portal expects the NUL
  // that g_variant_new_bytestring stores.
  if (!folder.empty()) {
    g_variant_builder_add(&options, "{sv}", "current_folder",
                          g_variant_new_bytestring(folder.c_str()));
  }
  return g_variant_builder_end(&options);
}

// Where the portal will create the request object: the sender's unique name
// without ':' and with '.' as '_', then the handle token.
std::string requestPath(const char* uniqueName, const std::string& token) {
  std::string sender = uniqueName != nullptr ? uniqueName : "";
  if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  return "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
}

std::vector<std::string> pathsFromResponse(GVariant* parameters) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) {
    diag::write("dialog", std::string("Antwort des Portals mit falschem Typ ") +
                              g_variant_get_type_string(parameters));
    return {};
  }
  guint32 code = 0;
  g_autoptr(GVariant) results = nullptr;
  g_variant_get(parameters, "(u@a{sv})", &code, &results);
  if (code != 0) return {};  // 1 cancelled by the user, 2 failed
  g_autofree const gchar** uris = nullptr;
  if (!g_variant_lookup(results, "uris", "^a&s", &uris)) return {};
  std::vector<std::string> paths;
  for (const gchar** uri = uris; *uri != nullptr; ++uri) {
    std::string path = localPathFromUri(*uri);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data) {
  auto* response = static_cast<Response*>(data);
  if (response->answered) return;  // both subscriptions fired; the first answer counts
  response->answered = true;
  response->paths = pathsFromResponse(parameters);
  g_main_loop_quit(response->loop);
}

BusPtr connectSessionBus(GCancellable* cancel, GError** error) {
  g_autofree gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, cancel, error);
  if (address == nullptr) return nullptr;
  const auto flags = static_cast<GDBusConnectionFlags>(
      G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
      G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
  return BusPtr(g_dbus_connection_new_for_address_sync(address, flags, nullptr, cancel, error));
}

// Tells the desktop to take down a dialog whose answer nobody waits for anymore.
void closeRequest(GDBusConnection* bus, const std::string& path) {
  GVariant* reply = g_dbus_connection_call_sync(bus, kPortalName, path.c_str(), kRequest, "Close",
                                                nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                kCloseTimeoutMs, nullptr, nullptr);
  if (reply != nullptr) g_variant_unref(reply);
}

std::string joined(const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& path : paths) {
    if (!text.empty()) text += " · ";
    text += path;
  }
  return text;
}

// The worker body: one portal request from call to answer. Returns the chosen
// local paths, empty when there are none for whatever reason.
std::vector<std::string> runPortal(std::string method, std::string title,
                                   std::vector<FileFilter> filters, std::string folder,
                                   std::string name, bool multiple) {
  if (std::getenv("KORVELLE_NO_PORTAL") != nullptr) {
    diag::write("dialog", "KORVELLE_NO_PORTAL gesetzt — kein Dialog");
    return {};
  }
  g_autoptr(GCancellable) cancel = g_cancellable_new();
  StopHandle stopHandle(cancel);
  g_autoptr(GError) error = nullptr;
  BusPtr bus = connectSessionBus(cancel, &error);
  if (!bus) {
    diag::write("dialog", std::string("kein Sitzungsbus: ") + error->message);
    return {};
  }

  const std::string token = "korvelle" + std::to_string(++g_serial);
  g_autoptr(GVariant) options =
      g_variant_ref_sink(buildOptions(token, filters, folder, name, multiple));
  const std::string expected = requestPath(g_dbus_connection_get_unique_name(bus.get()), token);

  // Signals are delivered on the context that is the thread default at
  // subscription time: this worker's private one, never the main thread's.
  g_autoptr(GMainContext) context = g_main_context_new();
  ThreadDefaultContext contextScope(context);
  g_autoptr(GMainLoop) loop = g_main_loop_new(context, FALSE);
  Response response;
  response.loop = loop;
  // Subscribed before the call, so an answer that overtakes the reply is not missed.
  ResponseSubscription onExpected(bus.get(), expected, &response);

  const char* parentEnv = std::getenv("KORVELLE_PARENT_WINDOW");
  const std::string parent = parentEnv != nullptr ? parentEnv : "";
  diag::write("dialog", method + ", Elternfenster " + (parent.empty() ? "(keines)" : parent));

  g_autoptr(GVariant) reply = g_dbus_connection_call_sync(
      bus.get(), kPortalName, kPortalPath, kFileChooser, method.c_str(),
      g_variant_new("(ss@a{sv})", validUtf8(parent).c_str(), validUtf8(title).c_str(), options),
      G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, cancel, &error);
  if (!reply) {
    diag::write("dialog", std::string("Portal antwortet nicht: ") + error->message);
    return {};
  }
  const gchar* returned = nullptr;
  g_variant_get(reply, "(&o)", &returned);
  const std::string handle = returned;
  // Portals before version 0.9 chose the request path themselves.
  std::optional<ResponseSubscription> onReturned;
  if (handle != expected) {
    onReturned.emplace(bus.get(), handle, &response);
    diag::write("dialog", "Antwortpfad des Portals: " + handle + " (berechnet war " + expected + ")");
  }

  g_usedPortal = true;
  {
    DialogTimeout timeout(context, loop, g_dialogTimeoutMs.load());
    StopLoop stopLoop(loop);
    if (!stopLoop.stopping()) g_main_loop_run(loop);
  }
  if (!response.answered) closeRequest(bus.get(), handle);

  diag::write("dialog", response.paths.empty() ? std::string("abgebrochen")
                                               : "gewaehlt: " + joined(response.paths));
  return std::move(response.paths);
}

// Thread entry: runs the request and hands its outcome to the main thread.
void work(std::string method, std::string title, std::vector<FileFilter> filters,
          std::string folder, std::string name, bool multiple) {
  std::vector<std::string> paths = runPortal(std::move(method), std::move(title),
                                             std::move(filters), std::move(folder),
                                             std::move(name), multiple);
  Job& j = job();
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    j.paths = std::move(paths);
  }
  j.finished = true;
  j.running = false;
  j.busy = false;
}

void start(const char* method, const std::string& title, const std::vector<FileFilter>& filters,
           const std::string& folder, const std::string& name, bool multiple) {
  Job& j = job();
  if (j.running) return;
  if (j.busy) {
    diag::write("dialog", "voriger Dialog noch offen — kein neuer");
    return;
  }
  if (j.thread.joinable()) j.thread.join();
  j.finished = false;
  j.running = true;
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    j.paths.clear();
  }
  j.busy = true;
  try {
    j.thread = std::thread(work, std::string(method), title, filters, folder, name, multiple);
  } catch (const std::system_error& e) {
    diag::write("dialog", std::string("kein Dialog-Thread: ") + e.what());
    j.busy = false;
    j.finished = true;
    j.running = false;
  }
}

}  // namespace

void startOpenDialog(const std::string& title, const std::vector<FileFilter>& filters,
                     const std::string& folder, bool multiple) {
  start("OpenFile", title, filters, folder, std::string(), multiple);
}

void startSaveDialog(const std::string& title, const std::vector<FileFilter>& filters,
                     const std::string& folder, const std::string& name) {
  start("SaveFile", title, filters, folder, name, false);
}

int pollDialog(std::vector<std::string>* paths) {
  Job& j = job();
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    if (g_forced) {
      const bool any = !g_forced->empty();
      if (any && paths != nullptr) *paths = std::move(*g_forced);
      g_forced.reset();
      j.finished = false;
      return any ? kDialogChosen : kDialogNoFiles;
    }
  }
  if (j.running) return kDialogOpen;
  if (!j.finished) return kDialogIdle;
  if (j.thread.joinable()) j.thread.join();
  j.finished = false;
  std::lock_guard<std::mutex> lock(j.mutex);
  if (j.paths.empty()) return kDialogNoFiles;
  if (paths != nullptr) *paths = j.paths;
  return kDialogChosen;
}

int pollDialog(std::string* path) {
  std::vector<std::string> paths;
  const int code = pollDialog(&paths);
  if (code == kDialogChosen && path != nullptr) *path = paths.front();
  return code;
}

void stopFileDialog() { job().stop(); }

bool fileDialogUsesPortal() { return g_usedPortal; }

void setForcedDialogResult(const std::vector<std::string>& paths) {
  Job& j = job();
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    g_forced = paths;
  }
  j.finished = true;
  j.running = false;
}

void setForcedDialogResult(const std::string& path) {
  setForcedDialogResult(std::vector<std::string>{path});
}

void setDialogTimeoutForTesting(int milliseconds) { g_dialogTimeoutMs = milliseconds; }

}  // namespace platform
