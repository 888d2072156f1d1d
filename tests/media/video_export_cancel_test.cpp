// test-labels: threads
// Exports on worker threads: a cancel from another thread, two at once.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "media/errors.h"
#include "media/video_export.h"
#include "platform/fs.h"
#include "support/media_clips.h"

using testing_support::TempDir;

TEST(VideoExportThreads, CancelFromAnotherThreadStopsTheWorkerAndKeepsTheOldFile) {
  TempDir dir;
  ASSERT_TRUE(testing_support::writeFile(dir.file("out.webm"), "earlier export"));
  const std::string src = media_clips::testClip(2);
  ASSERT_FALSE(src.empty());
  media::ExportOptions opts;
  opts.intermediate = true;

  // The export job's shape; the worker holds at a quarter until the flag is set, so no race with the end.
  std::atomic<bool> cancel{false};
  std::atomic<double> percent{0};
  std::promise<void> atQuarter;
  bool ok = true;
  std::string err;
  std::thread worker([&] {
    ok = media::exportVideo(
        src, dir.file("out.webm"), opts, &cancel,
        [&](const media::ExportProgress& p) {
          percent = p.percent;
          if (p.percent < 25 || cancel) return;
          atQuarter.set_value();
          while (!cancel) std::this_thread::yield();
        },
        &err);
  });
  const bool reached = atQuarter.get_future().wait_for(std::chrono::seconds(120)) == std::future_status::ready;
  cancel = true;
  worker.join();
  ASSERT_TRUE(reached);
  EXPECT_FALSE(ok);
  EXPECT_EQ(err, media::err::kCancelled);
  EXPECT_LT(percent.load(), 100);
  EXPECT_EQ(testing_support::readFile(dir.file("out.webm")), "earlier export");
  EXPECT_EQ(platform::fs::listDir(dir.path()), std::vector<std::string>{"out.webm"}) << "no temporary left";
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
