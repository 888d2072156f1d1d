#include "screens/image_edit.h"

#include <atomic>
#include <memory>
#include <thread>
#include <utility>

#include "core/i18n.h"
#include "editor/document.h"
#include "editor/editor.h"
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

// The one running history step whose version is read on the worker. The
// worker writes image, info and ok, then done; the UI thread reads them once
// done is set.
struct HistoryJob {
  bool back = true;
  int32_t baseVersion = -1;  // the document version the step started from
  size_t baseCount = 0;      // and its version count
  std::string basePath;      // and that version's file
  int32_t target = -1;       // the version moved to
  std::string targetPath;    // and its file
  bool read = true;          // false: its pixels are held, only its file's write is waited for
  media::Image image;
  media::ImageInfo info;
  bool ok = false;
  std::string err;
  std::atomic<bool> cancel{false};
  std::atomic<bool> done{false};
  std::thread thread;

  HistoryJob() = default;
  HistoryJob(const HistoryJob&) = delete;
  HistoryJob& operator=(const HistoryJob&) = delete;
  ~HistoryJob() {
    cancel.store(true);
    if (thread.joinable()) thread.join();
  }
};

std::unique_ptr<HistoryJob>& historyJob() {
  static std::unique_ptr<HistoryJob> j;
  return j;
}

// One step through the history, now that its pixels are at hand; the log
// line tells when it landed (the step may wait for a worker's read).
bool moveHistory(bool back) {
  if (!(back ? undoStep() : redoStep())) return false;
  editorState().playerVersion = -1;
  diag::write("edit", std::string(back ? "Rueckgaengig" : "Wiederholt") + ": Stand " +
                          std::to_string(doc::Document::instance().current));
  return true;
}

// Takes the history step whose picture arrived, on the UI thread.
void completeHistory(HistoryJob& j) {
  doc::Document& d = doc::Document::instance();
  if (d.kind != media::MediaKind::Image || d.current != j.baseVersion || d.versions.size() != j.baseCount ||
      d.currentPath() != j.basePath) {
    diag::write("edit", "Geladener Stand verworfen, der Stand hat sich inzwischen geaendert: " + j.targetPath);
    return;
  }
  if (!j.ok || (j.read && !d.hold(j.target, std::move(j.image), std::move(j.info)))) {
    diag::write("edit", "Stand nicht geladen: " + j.targetPath + (j.err.empty() ? "" : " (" + j.err + ")"));
    return;
  }
  // The document finds the pixels held and reads nothing.
  moveHistory(j.back);
}

void endHistoryJob() {
  std::unique_ptr<HistoryJob> j = std::move(historyJob());
  if (j->thread.joinable()) j->thread.join();
  busy() = BusyState{};
  completeHistory(*j);
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
  if (job() || historyJob() || d.kind != media::MediaKind::Image || !d.image.valid() || !edit.op) return false;
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
  // The pixels of the version undo would return to are the current ones
  // until the commit: the held ones make room for the result meanwhile.
  d.dropHeld();
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

bool imageEditRunning() { return job() != nullptr || historyJob() != nullptr; }

void pumpImageEdit() {
  if (historyJob()) {
    if (!historyJob()->done.load(std::memory_order_acquire)) {
      busy().active = true;
      return;
    }
    endHistoryJob();
  }
  if (!job()) return;
  if (!job()->done.load(std::memory_order_acquire)) {
    busy().active = true;  // the overlay's owner keeps it up while the worker runs
    return;
  }
  endJob();
}

void finishImageEdit() {
  if (historyJob()) endHistoryJob();
  if (job()) endJob();
}

bool startHistoryStep(bool back) {
  if (job() || historyJob() || !(back ? canUndoStep() : canRedoStep())) return false;
  doc::Document& d = doc::Document::instance();
  const EditorState& s = editorState();
  const bool docStep = s.undoSteps[back ? s.undoPos - 1 : s.undoPos].docStep;
  const int32_t target = d.current + (back ? -1 : 1);
  const bool inRange = target >= 0 && target < static_cast<int32_t>(d.versions.size());
  auto pixels = [](long long w, long long h) { return w * h; };
  const bool large = inRange && (pixels(d.image.width, d.image.height) >= kImageEditWorkerPixels ||
                                 pixels(d.versions[static_cast<size_t>(target)].width,
                                        d.versions[static_cast<size_t>(target)].height) >= kImageEditWorkerPixels);
  if (!docStep || d.kind != media::MediaKind::Image || !inRange || !large || d.movesAtOnce(target)) {
    return moveHistory(back);
  }
  auto j = std::make_unique<HistoryJob>();
  j->back = back;
  j->baseVersion = d.current;
  j->baseCount = d.versions.size();
  j->basePath = d.currentPath();
  j->target = target;
  j->targetPath = d.versions[static_cast<size_t>(target)].path;
  j->read = !d.holds(target);
  BusyState& b = busy();
  b = BusyState{};
  b.active = true;
  b.label = i18n::tr("busy.loadingImage");
  b.cancellable = false;  // a read cannot be stopped half-way
  HistoryJob* raw = j.get();
  j->thread = std::thread([raw] {
    if (!raw->cancel.load() && raw->read) {
      diag::Timed timed("Stand laden", 50);
      raw->ok = doc::Document::readVersionFile(raw->targetPath, &raw->image, &raw->info, &raw->err);
    } else if (!raw->cancel.load()) {
      raw->ok = doc::Document::waitForVersionFile(raw->targetPath);
    }
    raw->done.store(true, std::memory_order_release);
    requestFrame();
  });
  historyJob() = std::move(j);
  return true;
}

}  // namespace ui
