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
  media::Image result;
  std::atomic<bool> done{false};
  std::thread thread;
};

std::unique_ptr<Job>& job() {
  static std::unique_ptr<Job> j;
  return j;
}

media::Image runOp(const ImageEdit& edit, media::Image&& source) {
  diag::Timed timed(edit.timer, 50);
  return edit.op(std::move(source));
}

void showFailure(const char* errorKey) {
  showDialog(i18n::tr("errors.title"), i18n::tr(errorKey), {{i18n::tr("errors.closeConfirm"), 1}});
}

// Commits the finished job's result on the UI thread.
void complete(Job& j) {
  doc::Document& d = doc::Document::instance();
  if (j.result.valid() && (d.kind != media::MediaKind::Image || d.current != j.baseVersion ||
                           d.versions.size() != j.baseCount)) {
    // The work moved on meanwhile (closed, undone): the result belongs to nothing.
    diag::write("edit", "Ergebnis verworfen, der Stand hat sich inzwischen geaendert: " + j.edit.label);
    return;
  }
  std::string err;
  if (!j.result.valid() || !d.commitImage(std::move(j.result), j.edit.label, &err)) {
    diag::write("edit", std::string("Bearbeitung scheiterte: ") + j.edit.timer + (err.empty() ? "" : " (" + err + ")"));
    showFailure(j.edit.errorKey);
    return;
  }
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
  const long long pixels = static_cast<long long>(d.image.width) * d.image.height;
  media::Image source = d.image;  // the worker's own: the document may move on meanwhile
  if (pixels < kImageEditWorkerPixels) {
    j->result = runOp(edit, std::move(source));
    j->edit = std::move(edit);
    complete(*j);
    return true;
  }
  j->edit = std::move(edit);
  BusyState& b = busy();
  b = BusyState{};
  b.active = true;
  b.label = j->edit.busyText;
  b.cancellable = false;  // an image operation cannot be stopped half-way
  Job* raw = j.get();
  j->thread = std::thread([raw, src = std::move(source)]() mutable {
    raw->result = runOp(raw->edit, std::move(src));
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
