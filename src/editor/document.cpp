#include "editor/document.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "editor/errors.h"
#include "editor/version_writer.h"
#include "media/errors.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/owned_dir.h"
#include "platform/paths.h"

namespace doc {

namespace {

// The process's working directory. Guarded, because the export flow may ask
// for the path while the UI thread cleans up at exit.
struct WorkDir {
  std::mutex mutex;
  platform::OwnedDir dir;
};

WorkDir& workDirState() {
  static WorkDir w;
  return w;
}

// The one writer of version files; joined by cleanWorkDir or at exit.
VersionWriter& versionWriter() {
  static VersionWriter w;
  return w;
}

const std::string& emptyString() {
  static const std::string empty;
  return empty;
}

// "step_001.png" … "step_999.png", then as many digits as the number needs.
std::string stepFileName(int32_t counter) {
  char name[32];
  std::snprintf(name, sizeof name, "step_%03d.png", static_cast<int>(counter));
  return name;
}

}  // namespace

// --- Instance and working directory ------------------------------------------------

Document::Document() { workDir(); }

Document& Document::instance() {
  static Document d;
  return d;
}

const std::string& Document::workDir() {
  WorkDir& w = workDirState();
  std::lock_guard<std::mutex> lock(w.mutex);
  const bool first = w.dir.path().empty();
  std::string err;
  if (!w.dir.ensure(paths::cacheDir() + "/work", &err)) {
    diag::write("file", "Arbeitsordner nicht angelegt: " + w.dir.path() + " (" + err + ")");
  } else if (first) {
    diag::write("file", "Arbeitsordner: " + w.dir.path());
    if (w.dir.sweptAtClaim() > 0) {
      diag::write("file", "verwaiste Arbeitsordner entfernt: " + std::to_string(w.dir.sweptAtClaim()));
    }
  }
  return w.dir.path();
}

void Document::cleanWorkDir() {
  versionWriter().stop();
  WorkDir& w = workDirState();
  std::lock_guard<std::mutex> lock(w.mutex);
  w.dir.remove();
}

// --- Reading ---------------------------------------------------------------------------

std::string Document::title() const {
  if (kind == media::MediaKind::Unknown) return {};
  const size_t cut = sourcePath.find_last_of("/\\");
  return cut == std::string::npos ? sourcePath : sourcePath.substr(cut + 1);
}

const std::string& Document::currentPath() const {
  if (current < 0 || current >= static_cast<int32_t>(versions.size())) return emptyString();
  return versions[static_cast<size_t>(current)].path;
}

// --- Opening and closing -------------------------------------------------------------------

bool Document::openImage(const std::string& path, std::string* err) {
  media::ImageInfo info;
  media::Image img;
  // loadImage describes the file as it decodes it; a probe first would only
  // open and parse the file once more.
  if (!media::loadImage(path, &img, &info, err)) return false;
  close();
  kind = media::MediaKind::Image;
  sourcePath = path;
  versions.push_back({path, "", img.width, img.height});
  current = 0;
  setImage(std::move(img));
  imageInfo = std::move(info);
  return true;
}

bool Document::openVideo(const std::string& path, std::string* err) {
  media::VideoInfo vi;
  if (!media::readVideoInfo(path, &vi, err)) return false;
  close();
  kind = media::MediaKind::Video;
  sourcePath = path;
  versions.push_back({path, "", vi.width, vi.height});
  current = 0;
  videoInfo = std::move(vi);
  return true;
}

void Document::close() {
  held_ = Held{};
  kind = media::MediaKind::Unknown;
  sourcePath.clear();
  versions.clear();
  current = -1;
  setImage(media::Image{});  // releases the buffer, unlike clear()
  imageInfo = media::ImageInfo{};
  videoInfo = media::VideoInfo{};
}

// --- Versions -------------------------------------------------------------------------------

bool Document::commitImage(const media::Image& img, const std::string& label, std::string* err) {
  if (kind != media::MediaKind::Image) {
    if (err) *err = err::kWrongKind;
    return false;
  }
  const int32_t before = current;
  const std::string beforePath = currentPath();
  const media::ImageInfo beforeInfo = imageInfo;
  if (!commitShared(std::make_shared<const media::Image>(img), label, err)) return false;
  holdReplaced(before, beforePath, setImage(media::Image(img)), beforeInfo);
  return true;
}

bool Document::commitImage(media::Image&& img, const std::string& label, std::string* err) {
  if (kind != media::MediaKind::Image) {
    if (err) *err = err::kWrongKind;
    return false;
  }
  // The file gets a copy of its own: the document's picture may be replaced
  // (by an undo or the next edit) while the writer still reads it.
  const int32_t before = current;
  const std::string beforePath = currentPath();
  const media::ImageInfo beforeInfo = imageInfo;
  if (!commitShared(std::make_shared<const media::Image>(img), label, err)) return false;
  holdReplaced(before, beforePath, setImage(std::move(img)), beforeInfo);
  return true;
}

bool Document::commitImage(media::Image&& img, std::shared_ptr<const media::Image> file, const std::string& label,
                           std::string* err) {
  if (kind != media::MediaKind::Image) {
    if (err) *err = err::kWrongKind;
    return false;
  }
  if (!file) file = std::make_shared<const media::Image>(img);
  const int32_t before = current;
  const std::string beforePath = currentPath();
  const media::ImageInfo beforeInfo = imageInfo;
  if (!commitShared(std::move(file), label, err)) return false;
  holdReplaced(before, beforePath, setImage(std::move(img)), beforeInfo);
  return true;
}

bool Document::commitShared(std::shared_ptr<const media::Image> file, const std::string& label,
                            std::string* err) {
  ++stepCounter;
  if (!file->valid()) {
    if (err) *err = media::err::kEmptyImage;
    return false;
  }
  const std::string& dir = workDir();
  if (dir.empty()) {
    if (err) *err = media::err::kWriteFailed;
    return false;
  }
  const std::string path = dir + "/" + stepFileName(stepCounter);
  const int32_t w = file->width;
  const int32_t h = file->height;
  const bool alpha = file->hasAlpha;
  versionWriter().enqueue(path, std::move(file));
  versions.resize(static_cast<size_t>(current) + 1);
  versions.push_back({path, label, w, h});
  current = static_cast<int32_t>(versions.size()) - 1;
  imageInfo.width = w;
  imageInfo.height = h;
  imageInfo.hasAlpha = alpha;
  if (err) err->clear();
  return true;
}

void Document::waitForVersionFiles() { versionWriter().waitIdle(); }

void Document::withImage(const std::function<void(const media::Image&)>& read) const {
  std::lock_guard<std::mutex> lock(imageMutex_);
  read(image);
}

media::Image Document::setImage(media::Image&& img) {
  std::lock_guard<std::mutex> lock(imageMutex_);
  // The old buffer goes back to the caller, to be kept or freed outside the lock.
  return std::exchange(image, std::move(img));
}

bool Document::commitVideo(const std::string& path, const std::string& label, std::string* err) {
  if (kind != media::MediaKind::Video) {
    if (err) *err = err::kWrongKind;
    return false;
  }
  media::VideoInfo vi;
  if (!media::readVideoInfo(path, &vi, err)) return false;
  versions.resize(static_cast<size_t>(current) + 1);
  versions.push_back({path, label, vi.width, vi.height});
  current = static_cast<int32_t>(versions.size()) - 1;
  videoInfo = std::move(vi);
  return true;
}

bool Document::undo() { return current >= 1 && moveTo(current - 1); }

bool Document::redo() {
  return current >= 0 && current + 1 < static_cast<int32_t>(versions.size()) && moveTo(current + 1);
}

bool Document::moveTo(int32_t index) {
  if (kind == media::MediaKind::Image && holds(index)) return moveToHeld(index);
  const int32_t before = current;
  Held left{before, currentPath(), {}, imageInfo};
  current = index;
  if (kind == media::MediaKind::Image) {
    media::Image img;
    media::ImageInfo info;
    if (!readVersionFile(currentPath(), &img, &info)) {
      current = before;
      return false;
    }
    info = infoFor(index, img, std::move(info));
    left.image = setImage(std::move(img));
    imageInfo = std::move(info);
    // The version just left is the likeliest next move.
    if (left.image.valid()) held_ = std::move(left);
  } else if (kind == media::MediaKind::Video) {
    // An unreadable version keeps the properties it had: the player reports
    // the file itself, and a zeroed duration would collapse the timeline.
    media::VideoInfo vi;
    if (media::readVideoInfo(currentPath(), &vi)) videoInfo = std::move(vi);
  }
  return true;
}

bool Document::loadCurrentImage(std::string* err) {
  media::Image img;
  media::ImageInfo info;
  if (!readVersionFile(currentPath(), &img, &info, err)) return false;
  info = infoFor(current, img, std::move(info));
  setImage(std::move(img));
  imageInfo = std::move(info);
  return true;
}

bool Document::readVersionFile(const std::string& path, media::Image* img, media::ImageInfo* info,
                               std::string* err) {
  versionWriter().waitFor(path);
  return media::loadImage(path, img, info, err);
}

bool Document::waitForVersionFile(const std::string& path) { return versionWriter().waitFor(path); }

media::ImageInfo Document::infoFor(int32_t index, const media::Image& img, media::ImageInfo loaded) const {
  if (index == 0) return loaded;
  // A step file is our own plain PNG. The source's format, orientation and
  // camera data stay what the document describes, exactly as after the
  // commit that wrote the step; only the picture's size and alpha follow it.
  media::ImageInfo info = imageInfo;
  info.width = img.width;
  info.height = img.height;
  info.hasAlpha = img.hasAlpha;
  return info;
}

// --- Pixels of one more version ------------------------------------------------------------

bool Document::holds(int32_t index) const {
  return index >= 0 && index < static_cast<int32_t>(versions.size()) && index != current &&
         held_.index == index && held_.path == versions[static_cast<size_t>(index)].path && held_.image.valid();
}

bool Document::movesAtOnce(int32_t index) const {
  if (index < 0 || index >= static_cast<int32_t>(versions.size())) return false;
  if (kind == media::MediaKind::Video) return true;
  return kind == media::MediaKind::Image && holds(index) &&
         !versionWriter().writing(versions[static_cast<size_t>(index)].path);
}

bool Document::hold(int32_t index, media::Image&& img, media::ImageInfo info) {
  if (index < 0 || index >= static_cast<int32_t>(versions.size()) || index == current || !img.valid()) return false;
  held_ = Held{index, versions[static_cast<size_t>(index)].path, std::move(img), std::move(info)};
  return true;
}

void Document::dropHeld() { held_ = Held{}; }

void Document::holdReplaced(int32_t index, const std::string& path, media::Image&& img, media::ImageInfo info) {
  if (!img.valid()) return;
  held_ = Held{index, path, std::move(img), std::move(info)};
}

bool Document::moveToHeld(int32_t index) {
  // As with a read, a version whose file could not be written or is gone
  // cannot be returned to; one still being written is waited for.
  const std::string& path = versions[static_cast<size_t>(index)].path;
  if (!versionWriter().waitFor(path) || !platform::fs::isFile(path)) return false;
  Held left{current, currentPath(), {}, imageInfo};
  media::ImageInfo info = infoFor(index, held_.image, std::move(held_.info));
  current = index;
  left.image = setImage(std::move(held_.image));
  imageInfo = std::move(info);
  held_ = std::move(left);
  return true;
}

}  // namespace doc
