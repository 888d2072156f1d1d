// document: the one open image or video and its versions.
//
// The source file the user opened is never written. Every committed edit is a
// new file in a working directory private to this process, and undo and redo
// only move `current` through the version list. The directory lies below
// paths::cacheDir() + "/work", one per running process (two windows never see
// each other's versions); it is removed by cleanWorkDir at exit, and one left
// by a crashed process is removed when the next process claims its own.
//
// No lock: the screens and flows call the document from the UI thread only.
// Workers produce images and files and hand them back for committing; the one
// exception is withImage, through which a worker reads the current picture. Calls
// that read or write files block for that work; failures come back as false
// plus the error word of the media layer ("UNSUPPORTED_FORMAT", ...), leaving
// the document as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/image.h"
#include "media/image_io.h"
#include "media/video.h"

namespace doc {

// One entry of the version list.
struct Version {
  std::string path;    // the file of this version (the source for version 0)
  std::string label;   // what the edit was, as the committing caller names it
  int32_t width = 0;   // pixel size; a video's display size
  int32_t height = 0;
};

class Document {
 public:
  media::MediaKind kind = media::MediaKind::Unknown;  // Unknown: nothing open
  std::string sourcePath;          // the file the user opened
  std::vector<Version> versions;   // version 0 is the source file itself
  int32_t current = -1;            // the version shown; -1 exactly when versions is empty
  media::Image image;              // pixels of the current version (images only)
  media::ImageInfo imageInfo;      // the source's properties at the current version's size
  media::VideoInfo videoInfo;      // properties of the current video version
  int32_t stepCounter = 0;         // image steps committed in this process (not reset by close)

  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // --- The instance and its working directory ----------------------------------
  // The one document, created on first use (thread-safe); claims the working
  // directory, which removes those of ended processes.
  static Document& instance();
  // This process's working directory; created (again) when missing.
  static const std::string& workDir();
  // Removes the working directory with everything in it. Called once at exit;
  // a later commit creates the directory anew.
  static void cleanWorkDir();

  // --- Reading -------------------------------------------------------------------
  // The file name of the source (after the last '/' or '\\'); empty when nothing is open.
  std::string title() const;
  // The current version's file; empty when nothing is open.
  const std::string& currentPath() const;

  // --- Opening and closing -----------------------------------------------------------
  // Probes and loads an image and makes it the document (version 0). Blocks
  // while decoding.
  bool openImage(const std::string& path, std::string* err = nullptr);
  // Reads a video's properties and makes it the document (version 0).
  bool openVideo(const std::string& path, std::string* err = nullptr);
  // Back to nothing open. Work files stay until cleanWorkDir.
  void close();

  // --- Versions --------------------------------------------------------------------
  // Makes img the current version, dropping the redo tail, and queues it to be
  // written as the next "step_NNN.png" (PNG, no signature) on the version
  // writer's thread: returns without waiting for the file. Images only
  // ("WRONG_KIND"); an empty image fails ("EMPTY_IMAGE"), as does a missing
  // working directory ("WRITE_FAILED"). The step counter advances even then.
  // A file whose background write fails is logged; moving back to its
  // version later fails like any unreadable version.
  bool commitImage(const media::Image& img, const std::string& label, std::string* err = nullptr);
  bool commitImage(media::Image&& img, const std::string& label, std::string* err = nullptr);
  // The same with the file's own copy of the pixels already made by the
  // caller (on a worker, so the UI thread copies nothing); file equals img.
  bool commitImage(media::Image&& img, std::shared_ptr<const media::Image> file, const std::string& label,
                   std::string* err = nullptr);
  // Blocks until every queued version file is written (tests, benchmarks).
  static void waitForVersionFiles();
  // Makes an existing work file (rendered by the export flow) the current
  // version, dropping the redo tail. Videos only ("WRONG_KIND").
  bool commitVideo(const std::string& path, const std::string& label, std::string* err = nullptr);
  // One version back / forward. False at the end of the list, and for an
  // image whose version file cannot be loaded (current then stays). Waits for
  // the version's file when it is still being written. Reads no file when
  // the version's pixels are held (see below).
  bool undo();
  bool redo();
  // Reloads image from the current version's file.
  bool loadCurrentImage(std::string* err = nullptr);

  // --- Pixels of one more version ------------------------------------------------
  // Besides the current picture the document holds the pixels of one other
  // version, so undo and redo need not read its file: the picture a commit
  // replaced, the one an undo or redo left, or one read on a worker and
  // handed in. Moving to the held version swaps the two buffers.
  // The version index's pixels are held.
  bool holds(int32_t index) const;
  // Moving to index needs no file read and no wait on the UI thread: a video,
  // or an image version whose pixels are held and whose file is written.
  bool movesAtOnce(int32_t index) const;
  // Hands in the pixels (and loadImage's description) of version index read
  // elsewhere; they replace the held ones. False for an index out of range or
  // the current version.
  bool hold(int32_t index, media::Image&& img, media::ImageInfo info);
  // Frees the held pixels (before work that needs the memory).
  void dropHeld();
  // Reads the file of a version as loadCurrentImage does, after its write has
  // finished. Thread-safe: for a worker given the path by the UI thread.
  static bool readVersionFile(const std::string& path, media::Image* img, media::ImageInfo* info,
                              std::string* err = nullptr);
  // Blocks while a version's file is queued or being written; false when its
  // write failed. Thread-safe.
  static bool waitForVersionFile(const std::string& path);

  // --- Reading the picture from a worker --------------------------------------------
  // Calls read with the current picture while no call of the UI thread can
  // replace or free it: those wait until read returns. The one member a
  // worker thread may use. Keep read short of user-visible waits.
  void withImage(const std::function<void(const media::Image&)>& read) const;

 private:
  Document();
  mutable std::mutex imageMutex_;  // held while image is replaced or read by a worker
  bool moveTo(int32_t index);
  bool moveToHeld(int32_t index);
  media::Image setImage(media::Image&& img);  // replaces image under imageMutex_, returns the old one
  // Keeps the picture of the version a commit replaces.
  void holdReplaced(int32_t index, const std::string& path, media::Image&& img, media::ImageInfo info);
  // What imageInfo becomes for version index showing img, given the
  // description read with it (loadCurrentImage's rule).
  media::ImageInfo infoFor(int32_t index, const media::Image& img, media::ImageInfo loaded) const;

  struct Held {
    int32_t index = -1;
    std::string path;  // that version's file, to tell it from a later one at the same index
    media::Image image;
    media::ImageInfo info;
  };
  Held held_;
  bool commitShared(std::shared_ptr<const media::Image> file, const std::string& label, std::string* err);
};

}  // namespace doc
