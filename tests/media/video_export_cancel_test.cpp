// test-labels: threads
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "media/errors.h"
#include "media/video_export.h"
#include "platform/fs.h"
#include "support/media_clips.h"

using testing_support::TempDir;

namespace {

// The export job's shape: the export on a worker thread, a cancel flag
// written by the UI thread, progress handed over under a mutex.
struct Job {
  std::mutex mutex;
  std::condition_variable changed;
  double percent = 0;
  bool waitingForCancel = false;
  std::atomic<bool> cancel{false};
  bool ok = false;
  std::string err;
};

}  // namespace

TEST(VideoExportThreads, CancelFromAnotherThreadStopsTheWorker) {
  TempDir dir;
  const std::string src = media_clips::testClip(2);
  ASSERT_FALSE(src.empty());
  const std::string out = dir.file("out.webm");
  media::ExportOptions opts;
  opts.intermediate = true;

  Job job;
  std::thread worker([&] {
    std::string err;
    const bool ok = media::exportVideo(
        src, out, opts, &job.cancel,
        [&](const media::ExportProgress& p) {
          std::unique_lock lock(job.mutex);
          job.percent = p.percent;
          // Hold still at a quarter until the other thread has cancelled,
          // so the test never races the end of a short clip.
          if (p.percent >= 25 && !job.cancel) {
            job.waitingForCancel = true;
            job.changed.notify_all();
            job.changed.wait(lock, [&] { return job.cancel.load(); });
          }
        },
        &err);
    std::lock_guard lock(job.mutex);
    job.ok = ok;
    job.err = err;
  });
  {
    std::unique_lock lock(job.mutex);
    ASSERT_TRUE(job.changed.wait_for(lock, std::chrono::seconds(120), [&] { return job.waitingForCancel; }));
    job.cancel = true;
    job.changed.notify_all();
  }
  worker.join();
  EXPECT_FALSE(job.ok);
  EXPECT_EQ(job.err, media::err::kCancelled);
  EXPECT_LT(job.percent, 100);
  EXPECT_TRUE(platform::fs::listDir(dir.path()).empty());
}

TEST(VideoExportThreads, TwoExportsAtOnceShareNothing) {
  TempDir dir;
  const std::string src = media_clips::testClip(1);
  ASSERT_FALSE(src.empty());
  media::ExportOptions opts;
  opts.intermediate = true;
  bool ok[2] = {false, false};
  std::thread a([&] { ok[0] = media::exportVideo(src, dir.file("a.webm"), opts, nullptr, {}); });
  std::thread b([&] { ok[1] = media::exportVideo(src, dir.file("b.webm"), opts, nullptr, {}); });
  a.join();
  b.join();
  EXPECT_TRUE(ok[0] && ok[1]);
  EXPECT_EQ(platform::fs::listDir(dir.path()), (std::vector<std::string>{"a.webm", "b.webm"}));
}
