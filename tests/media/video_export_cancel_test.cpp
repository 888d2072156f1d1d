// test-labels: threads
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "media/errors.h"
#include "media/video_export.h"
#include "media/video_export_fixtures.h"
#include "platform/fs.h"

using testing_support::TempDir;

// FFmpeg's decoder and encoder threads hand buffers over through C11 atomics
// inside the system libraries, which ThreadSanitizer cannot see; without
// these lines it reports every buffer freed on another thread than the one
// that filled it. The export's own flag and hand-over stay checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libavutil.so\n"
         "race:libavcodec.so\n"
         "race:libavformat.so\n"
         "race:libavfilter.so\n"
         "race:libswscale.so\n"
         "race:libswresample.so\n"
         "race:libvpx.so\n"
         "race:libopus.so\n";
}

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
  const std::string src = dir.file("src.mp4");
  ASSERT_TRUE(export_fixtures::makeClip(src, 2));
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
          // Hold still at a quarter until the other
          // thread has cancelled, so the test never
          // races the end of a short clip.
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
    ASSERT_TRUE(job.changed.wait_for(lock, std::chrono::seconds(120),
                                     [&] { return job.waitingForCancel; }));
    job.cancel = true;
    job.changed.notify_all();
  }
  worker.join();
  EXPECT_FALSE(job.ok);
  EXPECT_EQ(job.err, media::err::kCancelled);
  EXPECT_LT(job.percent, 100);
  EXPECT_EQ(platform::fs::listDir(dir.path()), std::vector<std::string>{"src.mp4"});
}

TEST(VideoExportThreads, TwoExportsAtOnceShareNothing) {
  TempDir dir;
  const std::string src = dir.file("src.mp4");
  ASSERT_TRUE(export_fixtures::makeClip(src, 1));
  media::ExportOptions opts;
  opts.intermediate = true;
  bool ok[2] = {false, false};
  std::thread a([&] { ok[0] = media::exportVideo(src, dir.file("a.webm"), opts, nullptr, {}); });
  std::thread b([&] { ok[1] = media::exportVideo(src, dir.file("b.webm"), opts, nullptr, {}); });
  a.join();
  b.join();
  EXPECT_TRUE(ok[0]);
  EXPECT_TRUE(ok[1]);
  EXPECT_TRUE(platform::fs::isFile(dir.file("a.webm")));
  EXPECT_TRUE(platform::fs::isFile(dir.file("b.webm")));
}
