// The one background export job: starting it (a user's export or a working
// copy of a video edit), polling it once per frame, committing its result.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "media/smart_cut.h"
#include "media/video_export.h"
#include "platform/log.h"
#include "screens/export.h"
#include "screens/save_image.h"
#include "ui/dialog.h"
#include "ui/frames.h"

namespace ui {

namespace {

// Anchors closer than this to a segment's ends need no cut there.
constexpr double kSplitMarginMs = 1.0;

// The one file all segments come from (an empty path is current); empty
// when they come from several.
std::string singleSource(const std::vector<media::Segment>& segments, const std::string& current) {
  std::string file;
  for (const media::Segment& s : segments) {
    const std::string& p = s.path.empty() ? current : s.path;
    if (!file.empty() && p != file) return {};
    file = p;
  }
  return file;
}

// The job. The worker writes only the fields under mutex and the atomics;
// everything else belongs to the UI thread.
struct ExportJob {
  std::thread thread;
  std::atomic<bool> done{false};
  std::atomic<bool> ok{false};
  std::atomic<bool> cancel{false};
  std::mutex mutex;
  std::string error;           // guarded
  double percent = 0;          // guarded
  double etaSeconds = -1;      // guarded
  media::EncoderInfo encoder;  // guarded
  // UI thread only.
  std::string outPath;
  bool running = false;  // started and not yet collected
  bool workingCopy = false;

  ~ExportJob() { stop(); }
  void stop() {
    cancel.store(true);
    if (thread.joinable()) thread.join();
  }
};

ExportJob& job() {
  // The encoder list the worker reads is made before the job, so at exit it
  // is destroyed only after the job's destructor has joined the worker (a
  // program that ends without stopping the job first, as a test may).
  [[maybe_unused]] static const std::vector<media::EncoderInfo>& encoders = media::availableEncoders();
  static ExportJob instance;
  return instance;
}

media::FitMode fitModeFromSettings(int value) {
  switch (value) {
    case settings::kFitCover: return media::FitMode::Cover;
    case settings::kFitStretch: return media::FitMode::Stretch;
    default: return media::FitMode::Contain;
  }
}

std::string recipeText(const std::vector<media::Segment>& segments) {
  std::string text;
  for (const media::Segment& s : segments) {
    char piece[64];
    std::snprintf(piece, sizeof piece, "[%.0f-%.0f]", s.inMs, s.outMs);
    if (!text.empty()) text += " ";
    text += (s.path.empty() ? std::string() : s.path + " ") + piece;
  }
  return text;
}

// Clips of the old timeline carried through segments of the current work
// file onto the new one: every piece of an old clip a segment keeps.
std::vector<media::Segment> clipsAfter(const std::vector<media::Segment>& segments,
                                       const std::vector<media::Segment>& clips) {
  std::vector<media::Segment> out;
  for (const media::Segment& seg : segments) {
    if (seg.empty()) continue;
    double acc = 0;
    for (const media::Segment& clip : clips) {
      if (clip.empty()) continue;
      const double from = std::max(seg.inMs, acc);
      const double to = std::min(seg.outMs, acc + clip.lengthMs());
      if (to - from > kSplitMarginMs) {
        out.push_back({clip.path, clip.inMs + from - acc, clip.inMs + to - acc});
      }
      acc += clip.lengthMs();
    }
  }
  return out;
}

// The segments with pieces of other files moved below zero, where no old
// boundary or effect anchor lies: they count towards the new timeline but
// carry nothing of the old one across.
std::vector<media::Segment> onOldTimeline(const std::vector<media::Segment>& segments,
                                          const std::string& current, bool* foreign) {
  std::vector<media::Segment> out = segments;
  *foreign = false;
  for (media::Segment& s : out) {
    if (s.path.empty() || s.path == current) continue;
    *foreign = true;
    const double length = s.lengthMs();
    s.inMs = -1e12;
    s.outMs = s.inMs + length;
  }
  return out;
}

void clearPending(EditorState& st) {
  st.pendingApply = false;
  st.pendingLabel.clear();
  st.pendingPath.clear();
  st.pendingBusyText.clear();
  st.pendingEffects.clear();
  st.pendingBounds.clear();
  st.pendingClips.clear();
}

// The user's export moved the clip boundaries to where the cross fades
// overlapped the clips; its effects are now in the pictures.
std::vector<double> boundsAfterExport(const std::vector<double>& bounds,
                                      const std::vector<media::Fade>& effects) {
  std::vector<double> out;
  for (double b : bounds) {
    double shift = 0;
    for (const media::Fade& f : effects) {
      if (f.kind == media::Fade::Cross && f.lengthMs > 0 && f.atMs < b + kSplitMarginMs) shift += f.lengthMs;
    }
    if (b - shift > 0) out.push_back(b - shift);
  }
  return out;
}

// The clips after a user export: pieces of the exported file between the
// boundaries. The file holds the fades and cross fades in its pictures, so a
// later export renders from it and not from the sources without them.
std::vector<media::Segment> clipsOfExport(const std::string& path, const std::vector<double>& bounds,
                                          double durationMs) {
  std::vector<media::Segment> out;
  double from = 0;
  for (double b : bounds) {
    if (b <= from || b >= durationMs) continue;
    out.push_back({path, from, b});
    from = b;
  }
  out.push_back({path, from, durationMs});
  return out;
}

void commitResult(ExportJob& j) {
  EditorState& st = editorState();
  doc::Document& d = doc::Document::instance();
  diag::write("export", "fertig: " + j.outPath);
  const std::string label = j.workingCopy ? st.pendingLabel : i18n::tr("editor.export");
  std::string err;
  if (!d.commitVideo(j.outPath, label, &err)) {
    diag::write("export", "FEHLER: Version nicht angelegt (" + err + ")");
    showDialog(i18n::tr("errors.title"), i18n::tr("errors.cut"), {});
    clearPending(st);
    return;
  }
  if (j.workingCopy) {
    st.clipBounds = st.pendingBounds;
    st.effects = st.pendingEffects;
    if (!st.pendingClips.empty()) st.clips = st.pendingClips;
    const int skipped = st.appendSkipped;
    clearPending(st);
    st.appendSkipped = 0;
    if (skipped > 0) {
      showDialog(i18n::tr("errors.title"), i18n::tr("errors.skipped", {{"count", std::to_string(skipped)}}),
                 {});
    }
  } else {
    st.clipBounds = boundsAfterExport(st.clipBounds, st.effects);
    st.effects.clear();
    if (!st.clips.empty()) st.clips = clipsOfExport(j.outPath, st.clipBounds, d.videoInfo.durationMs);
    clearPending(st);
    const size_t slash = j.outPath.rfind('/');
    const std::string name = slash == std::string::npos ? j.outPath : j.outPath.substr(slash + 1);
    showDialog(i18n::tr("save.doneTitle"), i18n::tr("save.doneBody", {{"name", name}}), {});
  }
  st.armedKind = -1;
  st.draggedEffect = -1;
  if (st.markOutMs > d.videoInfo.durationMs) st.markOutMs = -1;
  st.playheadMs = std::min(st.playheadMs, d.videoInfo.durationMs);
}

}  // namespace

std::vector<media::Segment> splitAtCrossFades(const std::vector<media::Segment>& segments,
                                              const std::vector<media::Fade>& effects) {
  std::vector<double> anchors;
  for (const media::Fade& f : effects) {
    if (f.kind == media::Fade::Cross && f.lengthMs > 0) anchors.push_back(f.atMs);
  }
  std::sort(anchors.begin(), anchors.end());
  std::vector<media::Segment> out;
  double acc = 0;  // where the segment starts on the timeline
  for (const media::Segment& s : segments) {
    if (s.empty()) {
      out.push_back(s);
      continue;
    }
    double in = s.inMs;
    for (double a : anchors) {
      const double at = s.inMs + (a - acc);  // the anchor on the segment's file
      if (at > in + kSplitMarginMs && at < s.outMs - kSplitMarginMs) {
        out.push_back({s.path, in, at});
        in = at;
      }
    }
    out.push_back({s.path, in, s.outMs});
    acc += s.lengthMs();
  }
  return out;
}

bool exportRunning() { return job().running; }

void startVideoExport(const std::string& outPath, const std::vector<media::Segment>& segments, int width,
                      int height) {
  ExportJob& j = job();
  EditorState& st = editorState();
  const doc::Document& d = doc::Document::instance();
  const settings::Data& cfg = settings::get();
  const bool workingCopy = st.pendingApply;

  media::ExportOptions o;
  o.segments = segments;
  if (o.segments.empty()) o.segments.push_back({"", 0, d.videoInfo.durationMs});
  o.width = width;
  o.height = height;
  o.fitMode = segments.size() < 2 ? fitModeFromSettings(cfg.videoFitMode) : media::FitMode::Contain;
  o.bitRate = cfg.videoBitrate;
  o.intermediate = workingCopy;
  o.encoder = workingCopy ? media::workingCopyEncoder().name : cfg.videoEncoder;
  const media::Meta meta = signature();
  o.software = meta.software;
  o.comment = meta.comment;
  std::string recipe = "Rezept: " + recipeText(o.segments);
  if (workingCopy) {
    recipe += " (in einer Arbeitskopie werden keine gerechnet)";
  } else {
    o.fades = st.effects;
    o.segments = splitAtCrossFades(o.segments, st.effects);
    recipe += ", " + std::to_string(st.effects.size()) + " Effekt(e)";
  }
  diag::write("export", "Quelle: " + d.currentPath());
  diag::write("export", recipe);
  diag::write("export", "Abschnitte: " + std::to_string(o.segments.size()) + " Abschnitte");
  char line[160];
  std::snprintf(line, sizeof line, "Start → %s, Ziel %dx%d, Encoder %s, Bitrate ", outPath.c_str(), width,
                height, o.encoder.empty() ? "(erster)" : o.encoder.c_str());
  diag::write("export", line + (o.bitRate > 0 ? std::to_string(o.bitRate) : std::string("automatisch")));

  if (j.thread.joinable()) j.thread.join();
  j.done.store(false);
  j.ok.store(false);
  j.cancel.store(false);
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    j.error.clear();
    j.percent = 0;
    j.etaSeconds = -1;
    j.encoder = {};
  }
  j.outPath = outPath;
  j.running = true;
  j.workingCopy = workingCopy;
  BusyState& b = busy();
  b = BusyState{};
  b.active = true;
  b.label = i18n::tr("save.saving");
  b.cancellable = true;

  const std::string src = d.currentPath();
  // A cut of one file at its own size, or a plain export of one, copies what
  // it keeps instead of rendering it; the full render stays the fallback.
  // Working copies take it whenever they stay on the current file; a user's
  // export only with the encoder settings left automatic and no effects.
  const std::string smartSrc = singleSource(o.segments, src);
  const bool userDefaults = cfg.videoBitrate <= 0 && cfg.videoEncoder.empty();
  const bool trySmart = !smartSrc.empty() && (workingCopy ? smartSrc == src : userDefaults);
  media::SmartCutRequest smart;
  if (trySmart) {
    smart.segments = o.segments;
    smart.width = width;  // the planner refuses any size but the source's
    smart.height = height;
    smart.fades = !workingCopy && !st.effects.empty();
    smart.standardRange = !workingCopy;
    smart.software = o.software;
    smart.comment = o.comment;
  }
  j.thread = std::thread([&j, src, smartSrc, trySmart, smart = std::move(smart), outPath, opts = std::move(o)] {
    std::string err;
    auto onProgress = [&j](const media::ExportProgress& p) {
      {
        std::lock_guard<std::mutex> lock(j.mutex);
        j.percent = p.percent;
        j.etaSeconds = p.etaSeconds;
        j.encoder = p.encoder;
      }
      requestFrame();
    };
    bool ok = trySmart && media::smartCut(smartSrc, outPath, smart, &j.cancel, onProgress, nullptr, &err);
    if (!ok && err != "CANCELLED") {
      err.clear();
      ok = media::exportVideo(src, outPath, opts, &j.cancel, onProgress, &err);
    }
    {
      std::lock_guard<std::mutex> lock(j.mutex);
      j.error = err;
    }
    j.ok.store(ok);
    j.done.store(true);
    requestFrame();
  });
}

void pumpExport(Ctx&) {
  ExportJob& j = job();
  if (!j.running) return;
  BusyState& b = busy();
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    b.progress = j.percent;
    b.remaining = j.etaSeconds;
    b.detail = j.encoder.name.empty()
                   ? std::string()
                   : j.encoder.name + " · " + i18n::tr(j.encoder.hardware ? "info.gpu" : "info.cpu");
  }
  b.active = true;
  if (b.cancelRequested && !j.cancel.load()) {
    diag::action("Export abbrechen");
    j.cancel.store(true);
  }
  if (!j.done.load()) return;

  j.thread.join();
  j.running = false;
  std::string word;
  {
    std::lock_guard<std::mutex> lock(j.mutex);
    word = j.error;
  }
  b = BusyState{};
  if (j.ok.load()) {
    commitResult(j);
    return;
  }
  EditorState& st = editorState();
  clearPending(st);
  if (word == "CANCELLED") {
    diag::write("export", "abgebrochen");
    return;
  }
  diag::write("export", "FEHLER: " + word);
  showDialog(i18n::tr("errors.title"),
             i18n::tr(word == "CONTAINER_MISMATCH" ? "error.containerMismatch" : "errors.cut"), {});
}

bool applyVideoToWork(const std::vector<media::Segment>& segments, int width, int height, const std::string& label,
                      const std::string& busyText) {
  EditorState& st = editorState();
  if (job().running || st.dialogPurpose != DialogPurpose::None) {
    diag::write("edit", "Arbeitskopie abgelehnt: es laeuft schon etwas");
    return false;
  }
  const media::EncoderInfo encoder = media::workingCopyEncoder();
  if (encoder.name.empty()) {
    showDialog(i18n::tr("errors.title"), i18n::tr("error.noEncoder"),
               {{i18n::tr("errors.closeConfirm"), 1}});
    return false;
  }
  const bool nothing = std::all_of(segments.begin(), segments.end(), [](const media::Segment& s) { return s.empty(); });
  if (nothing) {
    showDialog(i18n::tr("errors.nothingLeftTitle"), i18n::tr("errors.nothingLeftBody"),
               {{i18n::tr("errors.closeConfirm"), 1}});
    return false;
  }
  doc::Document& d = doc::Document::instance();
  ++st.cutCounter;
  char name[32];
  std::snprintf(name, sizeof name, "/schnitt_%03d", st.cutCounter);
  const std::string file = doc::Document::workDir() + name + media::extensionForEncoder(encoder);

  bool foreign = false;
  const std::vector<media::Segment> mapped = onOldTimeline(segments, d.currentPath(), &foreign);
  st.pendingApply = true;
  st.pendingLabel = label;
  st.pendingPath = file;
  st.pendingBusyText = busyText;
  st.pendingBounds = boundsAfter(mapped, st.clipBounds);
  st.pendingEffects = effectsAfter(mapped, st.effects);
  // A cut keeps what its segments keep of the old clips; a composing flow
  // has named the clips it assembles already.
  if (!foreign) st.pendingClips = clipsAfter(mapped, st.clips);
  diag::write("edit", "Naehte vorher " + std::to_string(st.clipBounds.size()) + ", nachher " +
                          std::to_string(st.pendingBounds.size()));
  startVideoExport(file, segments, width, height);
  busy().label = busyText;
  return true;
}

void stopExportJob() {
  ExportJob& j = job();
  j.stop();
  j.running = false;
}

}  // namespace ui
