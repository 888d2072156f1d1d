#include "editor/version_writer.h"

#include <utility>

#include "media/image_io.h"
#include "platform/log.h"

namespace doc {

VersionWriter::~VersionWriter() { stop(); }

void VersionWriter::enqueue(const std::string& path, std::shared_ptr<const media::Image> img) {
  std::lock_guard<std::mutex> lock(mutex_);
  failed_.erase(path);
  queue_.push_back({path, std::move(img)});
  if (!thread_.joinable()) {
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
  }
  wake_.notify_one();
}

bool VersionWriter::busyWith(const std::string& path) const {
  if (inHand_ == path) return true;
  for (const Job& j : queue_) {
    if (j.path == path) return true;
  }
  return false;
}

bool VersionWriter::waitFor(const std::string& path) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return !busyWith(path); });
  return failed_.count(path) == 0;
}

void VersionWriter::waitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return queue_.empty() && inHand_.empty(); });
}

size_t VersionWriter::pending() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size() + (inHand_.empty() ? 0 : 1);
}

bool VersionWriter::writing(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  return busyWith(path);
}

void VersionWriter::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
    wake_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  done_.notify_all();
}

void VersionWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    inHand_ = job.path;
    lock.unlock();
    std::string err;
    const bool ok = media::saveWorkingPng(job.path, *job.img, &err);
    if (!ok) diag::write("edit", "Arbeitsstand nicht geschrieben: " + job.path + " (" + err + ")");
    job.img.reset();  // the pixels go before the waiters wake
    lock.lock();
    if (!ok) failed_.insert(job.path);
    inHand_.clear();
    done_.notify_all();
  }
}

}  // namespace doc
