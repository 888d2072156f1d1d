#include "screens/image_edit.h"

#include <atomic>
#include <memory>
#include <thread>
#include <utility>

#include "core/i18n.h"
#include "editor/document.h"
#include "platform/log.h"
#include "ui/dialog.h"
#include "ui/frames.h"

namespace ui {

namespace {

// The one running edit. The worker writes result and then done; the UI
// thread reads them once done is set.
struct Job {
  ImageEdit edit;
  int32_t baseVersion = -1;     // the document version the edit started from
  size_t baseCount = 0;         // and its version count
  std::string basePath;         // and that version's file
  media::Image result;
  std::shared_ptr<const media::Image> file;  // the version file's copy, made on the worker
  std::atomic<bool> done{false};
  std::thread thread;

  Job() = default;
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;
  // At exit with an edit still running: wait for it rather than end the process.
  ~Job() {
    if (thread.joinable()) thread.join();
  }
};

std::unique_ptr<Job>& job() {
  static std::unique_ptr<Job> j;
  return j;
}

media::Image runOp(const ImageEdit& edit, const media::Image& source) {
  diag::Timed timed(edit.timer, 50);
  return edit.op(source);
}

void showFailure(const char* errorKey) {
  showDialog(i18n::tr("errors.title"), i18n::tr(errorKey), {{i18n::tr("errors.closeConfirm"), 1}});
}

// Commits the finished job's result on the UI thread.
void complete(Job& j) {
  doc::Document& d = doc::Document::instance();
  if (d.kind != media::MediaKind::Image || d.current != j.baseVersion || d.versions.size() != j.baseCount ||
      d.currentPath() != j.basePath) {
    // The work moved on meanwhile (closed, undone): the result belongs to nothing.
    diag::write("edit", "Ergebnis verworfen, der Stand hat sich inzwischen geaendert: " + j.edit.label);
    return;
  }
  std::string err;
  if (!j.result.valid() || !d.commitImage(std::move(j.result), std::move(j.file), j.edit.label, &err)) {
    diag::write("edit", std::string("Bearbeitung scheiterte: ") + j.edit.timer + (err.empty() ? "" : " (" + err + ")"));
    showFailure(j.edit.errorKey);
    return;
  }
  diag::write("edit", "Neuer Stand " + std::to_string(d.current) + ": " + j.edit.timer + ", " +
                          std::to_string(d.image.width) + " x " + std::to_string(d.image.height));
  if (j.edit.onSuccess) j.edit.onSuccess();
}

void endJob() {
  std::unique_ptr<Job> j = std::move(job());
  if (j->thread.joinable()) j->thread.join();
  busy() = BusyState{};
  complete(*j);
}

}  // namespace

bool startImageEdit(ImageEdit edit) {
  doc::Document& d = doc::Document::instance();
  if (job() || d.kind != media::MediaKind::Image || !d.image.valid() || !edit.op) return false;
  auto j = std::make_unique<Job>();
  j->baseVersion = d.current;
  j->baseCount = d.versions.size();
  j->basePath = d.currentPath();
  j->edit = std::move(edit);
  const long long pixels = static_cast<long long>(d.image.width) * d.image.height;
  if (pixels < kImageEditWorkerPixels) {
    j->result = runOp(j->edit, d.image);
    complete(*j);
    return true;
  }
  BusyState& b = busy();
  b = BusyState{};
  b.active = true;
  b.label = j->edit.busyText;
  b.cancellable = false;  // an image operation cannot be stopped half-way
  Job* raw = j.get();
  j->thread = std::thread([raw] {
    // Reads the picture in place: nothing on the UI thread replaces it meanwhile
    // (the busy overlay withholds the input), and what would waits for the lock.
    doc::Document::instance().withImage([raw](const media::Image& src) { raw->result = runOp(raw->edit, src); });
    // The version file's own copy is made here, not on the UI thread.
    if (raw->result.valid()) raw->file = std::make_shared<const media::Image>(media::copyOf(raw->result));
    raw->done.store(true, std::memory_order_release);
    requestFrame();
  });
  job() = std::move(j);
  return true;
}

bool imageEditRunning() { return job() != nullptr; }

void pumpImageEdit() {
  if (!job()) return;
  if (!job()->done.load(std::memory_order_acquire)) {
    busy().active = true;  // the overlay's owner keeps it up while the worker runs
    return;
  }
  endJob();
}

void finishImageEdit() {
  if (job()) endJob();
}

}  // namespace ui
