// version_writer: writes the document's image versions to their working files
// on one background thread, so that an applied edit shows at once while its
// file is still being written. Files are written in the order queued; a file
// is never visible half-written (saveWorkingPng renames it into place).
//
// Thread-safe: the UI thread queues and waits; the writer thread encodes.
// The thread starts with the first file and is joined by stop() or the
// destructor.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "media/image.h"

namespace doc {

class VersionWriter {
 public:
  VersionWriter() = default;
  ~VersionWriter();
  VersionWriter(const VersionWriter&) = delete;
  VersionWriter& operator=(const VersionWriter&) = delete;

  // --- Queueing ---------------------------------------------------------------
  // Queues img to be written to path; returns at once.
  void enqueue(const std::string& path, std::shared_ptr<const media::Image> img);

  // --- Waiting -----------------------------------------------------------------
  // Blocks while path is queued or being written. False when its write failed.
  bool waitFor(const std::string& path);
  // Blocks until nothing is queued or being written.
  void waitIdle();
  // Files queued or being written right now.
  size_t pending();
  // path is queued or being written right now.
  bool writing(const std::string& path);

  // --- Ending --------------------------------------------------------------------
  // Drops what is still queued, lets the file in hand finish, joins the thread.
  // A later enqueue starts it again.
  void stop();

 private:
  struct Job {
    std::string path;
    std::shared_ptr<const media::Image> img;
  };
  void run();
  bool busyWith(const std::string& path) const;  // under mutex_

  std::mutex mutex_;
  std::condition_variable wake_;   // the writer: a job arrived or stop
  std::condition_variable done_;   // the waiters: a job finished
  std::deque<Job> queue_;
  std::string inHand_;             // path being written; empty when none
  std::set<std::string> failed_;   // paths whose write failed
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace doc
