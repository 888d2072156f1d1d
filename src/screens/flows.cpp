#include "screens/flows.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/i18n.h"
#include "core/settings.h"
#include "editor/document.h"
#include "editor/editor.h"
#include "media/errors.h"
#include "media/image_io.h"
#include "media/raw.h"
#include "platform/filedialog_portal.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "screens/export.h"
#include "screens/save_image.h"
#include "ui/dialog.h"

namespace ui {

namespace {

// Counts the opens of this process for KORVELLE_OPEN_TO.
int g_openCount = 0;

// The error word for a path that is no regular readable file.
constexpr char kNoAccess[] = "NO_ACCESS";

// A ratio difference below this share of the work's ratio counts as the same format.
constexpr double kRatioTolerance = 0.01;

void showError(const std::string& body) {
  diag::write("ui", "Meldung: " + body);
  showDialog(i18n::tr("errors.title"), body, {{i18n::tr("errors.closeConfirm"), 1}});
}

void showSkipped(int count) {
  showError(i18n::tr("errors.skipped", {{"count", std::to_string(count)}}));
}

// Text for the user from a file name: stray bytes become U+FFFD.
std::string validUtf8(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  std::string out = valid ? valid : text;
  g_free(valid);
  return out;
}

std::string displayName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return validUtf8(slash == std::string::npos ? path : path.substr(slash + 1));
}

// Remembers the folder of a chosen file for the next dialog.
void rememberFolder(const std::string& first, bool save) {
  size_t slash = first.find_last_of('/');
  if (slash == std::string::npos) return;
  settings::Data& data = settings::mutableData();
  if (save) {
    data.lastSaveDir = first.substr(0, slash);
  } else {
    data.lastOpenDir = first.substr(0, slash);
  }
  settings::save();
}

std::string sizeLabel(int w, int h) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d × %d", w, h);
  return buf;
}

// Which kind of file path is; Unknown without touching the decoders when it
// cannot be read, so a pipe or a device never blocks the frame.
media::MediaKind kindOf(const std::string& path) {
  return readableFile(path) ? media::classify(path) : media::MediaKind::Unknown;
}

// Opens one path as the document.
bool openOne(const std::string& path, media::MediaKind* kind, std::string* err) {
  *kind = media::MediaKind::Unknown;
  if (!readableFile(path)) {
    *err = kNoAccess;
    return false;
  }
  *kind = media::classify(path);
  doc::Document& document = doc::Document::instance();
  return *kind == media::MediaKind::Video ? document.openVideo(path, err) : document.openImage(path, err);
}

// One segment over the whole current work file.
media::Segment wholeWork() {
  const doc::Document& document = doc::Document::instance();
  return {document.currentPath(), 0, document.videoInfo.durationMs};
}

void recordSkipped(const std::string& path, const std::string& reason) {
  editorState().skippedFiles.push_back({path, reason});
}

// How a list open reports.
struct ListPrefixes {
  const char* log;    // before each path's result line
  const char* count;  // before the clip count of a multi-file video
  bool drop;          // log the refusal as a drop
};

// Opens the first of paths that opens and appends the rest when it is a
// video. False when none opened, with the text for the last one in *message.
bool openList(const std::vector<std::string>& paths, const ListPrefixes& prefixes, std::string* message) {
  EditorState& state = editorState();
  state.skippedFiles.clear();
  size_t opened = paths.size();
  media::MediaKind kind = media::MediaKind::Unknown;
  std::string err;
  for (size_t i = 0; i < paths.size(); ++i) {
    err.clear();
    bool ok = openOne(paths[i], &kind, &err);
    diag::write("file", std::string(prefixes.log) + paths[i] + (ok ? " ok" : " FEHLER " + err));
    if (ok) {
      opened = i;
      break;
    }
    recordSkipped(paths[i], err);
  }
  if (opened == paths.size()) {
    if (paths.empty()) return false;
    if (prefixes.drop) diag::write("file", "hereingezogen abgelehnt: " + paths.back() + " — " + err);
    *message = openErrorText(paths.back(), kind, err);
    return false;
  }

  const doc::Document& document = doc::Document::instance();
  const int before = static_cast<int>(opened);
  if (document.kind == media::MediaKind::Video) {
    state.clips = {{paths[opened], 0, document.videoInfo.durationMs}};
    std::vector<std::string> rest(paths.begin() + static_cast<long>(opened) + 1, paths.end());
    if (!rest.empty()) {
      diag::action(std::string(prefixes.count) + std::to_string(rest.size() + 1) + " Clips");
      if (appendVideoFiles(rest, before)) return true;
      // None of the rest could be added: they count as skipped too.
      state.appendSkipped = 0;
      showSkipped(before + static_cast<int>(rest.size()));
      return true;
    }
  }
  if (before > 0) {
    state.appendSkipped = 0;
    showSkipped(before);
  }
  return true;
}

void openListWithDialog(const std::vector<std::string>& paths, const ListPrefixes& prefixes) {
  std::string message;
  if (!openList(paths, prefixes, &message) && !message.empty()) showError(message);
}

// Filter patterns of the image open dialog.
std::vector<std::string> imagePatterns() {
  std::vector<std::string> out;
  for (const std::string& name : media::capabilities().decode) {
    if (name == "jpeg") {
      out.insert(out.end(), {"*.jpg", "*.jpeg"});
    } else if (name == "heic") {
      out.insert(out.end(), {"*.heic", "*.heif"});
    } else {
      out.push_back("*." + name);
    }
  }
  return out;
}

std::vector<std::string> videoPatterns() {
  std::vector<std::string> out;
  for (const std::string& ext : media::videoExtensions()) out.push_back("*." + ext);
  return out;
}

// The save target's expected extension for a save (3) or export (4) dialog.
std::string expectedExtension(DialogPurpose purpose) {
  if (purpose == DialogPurpose::SaveImage) {
    return media::extensionFor(media::chooseFormat(imageOutOptions(), doc::Document::instance().image.hasAlpha));
  }
  return media::extensionForEncoder(media::plannedEncoder(settings::get().videoEncoder));
}

void finishSave(DialogPurpose purpose, const std::string& first) {
  std::string target = withExtension(first, expectedExtension(purpose));
  rememberFolder(target, true);
  diag::write("file", "Ziel: " + target);
  if (purpose == DialogPurpose::SaveImage) {
    saveImageAnswer(target);
    return;
  }
  const doc::Document& document = doc::Document::instance();
  const EditorState& state = editorState();
  std::vector<media::Segment> segments = state.clips;
  if (segments.empty()) segments.push_back(wholeWork());
  // The size the save action planned; a dialog answered without one (a
  // forced answer in a test) plans it the same way now.
  int w = 0;
  int h = 0;
  plannedSaveSize(&w, &h);
  if (w < 1 || h < 1) {
    media::resolutionToSize(settings::get().videoResolution, document.videoInfo.width, document.videoInfo.height, &w,
                            &h);
  }
  startVideoExport(target, segments, w, h);
}

void finishOpen(const std::vector<std::string>& paths) {
  rememberFolder(paths.front(), false);
  closeDocument();
  openListWithDialog(paths, {"geoeffnet: ", "Mehrfachauswahl: ", false});
}

void finishAppend(const std::vector<std::string>& paths) {
  rememberFolder(paths.front(), false);
  diag::action("Anhaengen ueber den Dialog: " + std::to_string(paths.size()) + " Datei(en)");
  editorState().skippedFiles.clear();
  if (!appendVideoFiles(paths, 0)) {
    editorState().pendingBounds.clear();
    showError(i18n::tr("errors.unsupportedTitle"));
  }
}

// A new clip's picture size, or 0 × 0 when unknown.
struct ClipSize {
  int w = 0;
  int h = 0;
};

// Asks about a clip whose ratio differs from the work's; true when asked.
bool askAboutFormat(const std::vector<ClipSize>& sizes, int W, int H, int skipped) {
  const double ratio = static_cast<double>(W) / H;
  const ClipSize* differing = nullptr;
  for (const ClipSize& c : sizes) {
    if (c.h <= 0) continue;
    if (std::fabs(static_cast<double>(c.w) / c.h - ratio) / ratio > kRatioTolerance) {
      differing = &c;
      break;
    }
  }
  if (!differing) return false;

  // The largest sides among the plan's entries, even; the work itself included.
  const media::VideoInfo& work = doc::Document::instance().videoInfo;
  int maxW = 0;
  int maxH = 0;
  auto consider = [&](int w, int h) {
    if (w <= 0 || h <= 0) return;
    maxW = std::max(maxW, w & ~1);
    maxH = std::max(maxH, h & ~1);
  };
  consider(work.width, work.height);
  for (const ClipSize& c : sizes) consider(c.w, c.h);
  if (maxW < 1) maxW = W;
  if (maxH < 1) maxH = H;

  EditorState& state = editorState();
  state.appendSkippedAsk = skipped;
  state.appendSizes = {W, H, maxW, maxH};
  state.appendAsk = true;
  diag::action("Anhaengen: Formate unterschiedlich — Rueckfrage");
  showDialog(i18n::tr("append.formatTitle"),
             i18n::tr("append.formatBody",
                      {{"new", sizeLabel(differing->w, differing->h)}, {"current", sizeLabel(W, H)}}),
             {{i18n::tr("append.fitCurrent"), 1}, {i18n::tr("append.keepOriginal"), 0}, {i18n::tr("save.cancel"), 0}});
  return true;
}

// Why a file cannot be appended; empty when it can, with its info in *info.
std::string appendRefusal(const std::string& file, media::VideoInfo* info) {
  if (!readableFile(file)) return "kein Zugriff";
  if (media::classify(file) != media::MediaKind::Video) return "kein Video";
  std::string err;
  if (!media::readVideoInfo(file, info, &err)) return err.empty() ? "kein Video" : err;
  if (!(info->durationMs > 0)) return "kein Video";
  return {};
}

// The frame's dropped list without its folders; the folder count in *folders.
std::vector<std::string> withoutFolders(std::vector<std::string>* dropped, int* folders) {
  std::vector<std::string> files;
  for (const std::string& path : *dropped) {
    if (platform::fs::isDir(path)) {
      diag::write("file", "hereingezogen uebersprungen (Ordner): " + path);
      ++*folders;
    } else {
      files.push_back(path);
    }
  }
  *dropped = files;
  return files;
}

// A dialog, a drag, the busy overlay or an open question: a drop now would
// pull the work out from under it.
bool somethingRuns() {
  const EditorState& state = editorState();
  return state.gestureActive || state.dialogPurpose != DialogPurpose::None || dialogOpen() || busy().active;
}

}  // namespace

// --- Texts ----------------------------------------------------------------------------

bool readableFile(const std::string& path) {
  // Non-blocking, so that opening a pipe with no writer returns at once.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

std::string withExtension(const std::string& target, const std::string& ext) {
  if (target.size() >= ext.size() && target.compare(target.size() - ext.size(), ext.size(), ext) == 0) return target;
  return target + ext;
}

std::string openErrorText(const std::string& path, media::MediaKind kind, const std::string& code) {
  if (!readableFile(path)) return i18n::tr("errors.noAccess", {{"name", displayName(path)}});
  if (code != media::err::kUnsupportedFormat) {
    return i18n::tr(kind == media::MediaKind::Video ? "errors.videoLoad" : "errors.imageLoad");
  }
  size_t dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? path : path.substr(dot + 1);
  if (dot != std::string::npos) {
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
    const std::vector<std::string>& raws = media::rawExtensions();
    if (std::find(raws.begin(), raws.end(), ext) != raws.end()) {
      return i18n::tr("errors.unsupportedRaw", {{"format", ext}});
    }
  }
  return i18n::tr("errors.unsupportedGeneric", {{"format", validUtf8(ext)}});
}

// --- File dialogs ------------------------------------------------------------------------

void startOpenMedia(bool video) {
  EditorState& state = editorState();
  if (state.dialogPurpose != DialogPurpose::None) return;
  std::string label = i18n::tr(video ? "start.pickVideo" : "start.pickImage");
  std::vector<platform::FileFilter> filters = {{label, video ? videoPatterns() : imagePatterns()}};
  state.dialogPurpose = video ? DialogPurpose::OpenVideo : DialogPurpose::OpenImage;

  std::vector<std::string> forced = paths::splitPathList(std::getenv("KORVELLE_OPEN_TO"));
  if (!forced.empty()) {
    size_t n = std::min(forced.size() - 1, static_cast<size_t>(g_openCount));
    diag::write("file", "KORVELLE_OPEN_TO: " + forced[n]);
    platform::setForcedDialogResult(forced[n]);
  }
  ++g_openCount;
  platform::startOpenDialog(label, filters, settings::get().lastOpenDir, video);
}

void startAppendVideo() {
  EditorState& state = editorState();
  if (state.dialogPurpose != DialogPurpose::None || state.gestureActive) return;
  if (doc::Document::instance().kind != media::MediaKind::Video) return;
  std::vector<platform::FileFilter> filters = {{i18n::tr("start.pickVideo"), videoPatterns()}};
  state.dialogPurpose = DialogPurpose::AppendVideos;

  std::vector<std::string> forced = paths::splitPathList(std::getenv("KORVELLE_APPEND_TO"));
  if (!forced.empty()) {
    diag::write("file", "KORVELLE_APPEND_TO: " + std::to_string(forced.size()) + " Datei(en)");
    platform::setForcedDialogResult(forced);
  }
  diag::action("Anhaengen: Dateien waehlen");
  platform::startOpenDialog(i18n::tr("editor.append"), filters, settings::get().lastOpenDir, true);
}

void pumpDialog(Ctx&) {
  EditorState& state = editorState();
  if (state.dialogPurpose == DialogPurpose::None) return;
  std::vector<std::string> chosen;
  int outcome = platform::pollDialog(&chosen);
  if (outcome == platform::kDialogOpen) return;
  DialogPurpose purpose = state.dialogPurpose;
  state.dialogPurpose = DialogPurpose::None;
  if (outcome != platform::kDialogChosen || chosen.empty()) {
    diag::action("Dialog ohne Ergebnis");
    if (!platform::fileDialogUsesPortal()) showError(i18n::tr("error.noPortal"));
    return;
  }
  switch (purpose) {
    case DialogPurpose::AppendVideos: finishAppend(chosen); break;
    case DialogPurpose::OpenVideo:
    case DialogPurpose::OpenImage: finishOpen(chosen); break;
    case DialogPurpose::SaveImage:
    case DialogPurpose::ExportVideo: finishSave(purpose, chosen.front()); break;
    case DialogPurpose::None: break;
  }
}

// --- Files from outside --------------------------------------------------------------------

void handleDroppedFiles(Ctx& ctx) {
  if (ctx.in.dropped.empty()) return;
  int folders = 0;
  std::vector<std::string> files = withoutFolders(&ctx.in.dropped, &folders);
  if (somethingRuns()) {
    // Checked before the folder message too: it would replace an open question.
    diag::write("ui", "hereingezogen ignoriert — es laeuft gerade etwas");
    return;
  }
  if (files.empty()) {
    showSkipped(folders);
    return;
  }

  doc::Document& document = doc::Document::instance();
  if (document.kind == media::MediaKind::Unknown) {
    openDroppedFiles(files);
    return;
  }
  bool allVideos = document.kind == media::MediaKind::Video &&
                   std::all_of(files.begin(), files.end(),
                               [](const std::string& f) { return kindOf(f) == media::MediaKind::Video; });
  if (allVideos) {
    diag::action("Anhaengen: " + std::to_string(files.size()) + " Datei(en)");
    editorState().skippedFiles.clear();
    if (!appendVideoFiles(files, 0)) showError(openErrorText(files.front(), media::MediaKind::Video, ""));
    return;
  }
  if (document.current > 0) {
    editorState().pendingDrop = files;
    showDialog(i18n::tr("errors.closeTitle"), i18n::tr("errors.closeBody"),
               {{i18n::tr("errors.closeCancel"), 0}, {i18n::tr("errors.closeConfirm"), 2}});
    return;
  }
  openDroppedFiles(files);
}

void openDroppedFiles(const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  // A copy: the caller may hand in pendingDrop itself.
  std::vector<std::string> list = paths;
  editorState().pendingDrop.clear();
  closeDocument();
  openListWithDialog(list, {"hereingezogen geoeffnet: ", "Hereingezogen: ", true});
}

bool openCommandLineFile(const std::string& path, std::string* message) {
  std::string text;
  bool ok = openList({path}, {"Befehlszeile: ", "Befehlszeile: ", false}, &text);
  if (!ok && message) *message = text;
  return ok;
}

// --- Composing the work ---------------------------------------------------------------------

bool appendVideoFiles(const std::vector<std::string>& files, int skipped) {
  const doc::Document& document = doc::Document::instance();
  if (document.kind != media::MediaKind::Video || files.empty()) return false;
  EditorState& state = editorState();

  const double duration = document.videoInfo.durationMs;
  std::vector<media::Segment> plan = {{"", 0, duration}};
  std::vector<media::Segment> added;
  std::vector<ClipSize> sizes;
  std::vector<double> bounds = state.clipBounds;
  double total = duration;
  for (const std::string& file : files) {
    media::VideoInfo info;
    std::string reason = appendRefusal(file, &info);
    if (!reason.empty()) {
      diag::write("file", "uebersprungen: " + file + " — " + reason);
      recordSkipped(file, reason);
      ++skipped;
      continue;
    }
    bounds.push_back(total);
    total += info.durationMs;
    plan.push_back({file, 0, info.durationMs});
    added.push_back(plan.back());
    sizes.push_back({info.width, info.height});
  }
  if (plan.size() < 2) {
    diag::write("file", "anhaengen: nichts Brauchbares dabei");
    return false;
  }

  state.pendingBounds = bounds;
  state.appendBounds = bounds;
  state.appendClips = plan;
  state.appendSkipped = skipped;
  state.pendingClips = state.clips.empty() ? std::vector<media::Segment>{wholeWork()} : state.clips;
  state.pendingClips.insert(state.pendingClips.end(), added.begin(), added.end());

  const doc::Version& current = document.versions[static_cast<size_t>(document.current)];
  const int W = current.width;
  const int H = current.height;
  if (W >= 1 && H >= 1 && askAboutFormat(sizes, W, H, skipped)) return true;
  applyVideoToWork(plan, W, H, i18n::tr("editor.append"), i18n::tr("busy.appending"));
  return true;
}

void reorderClips(const std::vector<media::Segment>& order) {
  EditorState& state = editorState();
  const doc::Document& document = doc::Document::instance();
  if (order.size() < 2 || state.gestureActive || state.dialogPurpose != DialogPurpose::None) return;
  if (document.kind != media::MediaKind::Video) return;
  diag::write("edit", "Umsortieren → " + std::to_string(order.size()) + " Clip(s):");
  for (size_t i = 0; i < order.size(); ++i) {
    const media::Segment& c = order[i];
    diag::write("edit", "  " + std::to_string(i + 1) + ": " + (c.path.empty() ? "<aktueller Stand>" : c.path) +
                            "  " + formatTimeMs(c.inMs) + "–" + formatTimeMs(c.outMs));
  }
  const doc::Version& current = document.versions[static_cast<size_t>(document.current)];
  // The new order is the clip list once rendered: the user's export and the
  // next reorder start from it. A refused render leaves a running job's list alone.
  std::vector<media::Segment> running = std::move(state.pendingClips);
  state.pendingClips = order;
  if (!applyVideoToWork(order, current.width, current.height, i18n::tr("editor.append"), i18n::tr("busy.appending"))) {
    state.pendingClips = std::move(running);
  }
}

}  // namespace ui
