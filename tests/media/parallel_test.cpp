// test-labels: threads
// The shared worker pool, and that the image operations built on it give the
// same bytes on the pool as on one thread.
#include "media/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "media/image.h"

namespace {

using media::Image;

// Every index of [0, count) visited exactly once, in chunks of at most grain.
void expectCoveredOnce(int count, int grain) {
  std::vector<std::atomic<int>> hits(static_cast<size_t>(std::max(count, 0)));
  std::atomic<int> badChunks{0};
  media::parallelFor(count, grain, [&](int begin, int end) {
    if (begin >= end || end - begin > std::max(grain, 1) || begin < 0 || end > count) ++badChunks;
    for (int i = begin; i < end; ++i) hits[i].fetch_add(1);
  });
  EXPECT_EQ(badChunks.load(), 0) << count << "/" << grain;
  for (int i = 0; i < count; ++i) ASSERT_EQ(hits[i].load(), 1) << i << " of " << count << "/" << grain;
}

TEST(WorkerPool, CoversEveryIndexOnce) {
  for (int count : {0, 1, 2, 7, 64, 1000, 4099}) {
    for (int grain : {0, 1, 3, 64, 5000}) expectCoveredOnce(count, grain);
  }
  bool called = false;
  media::parallelFor(-5, 1, [&](int, int) { called = true; });
  EXPECT_FALSE(called);
}

TEST(WorkerPool, RunsChunksOnSeveralThreadsAtOnce) {
  if (media::parallelism() < 2) GTEST_SKIP() << "one hardware thread";
  // Each chunk waits until another runs at the same time (the deadline turns a hang into a failure).
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  media::parallelFor(16, 1, [&](int, int) {
    if (inside.fetch_add(1) > 0) overlapped = true;
    while (!overlapped && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    inside.fetch_sub(1);
  });
  EXPECT_TRUE(overlapped.load());
}

TEST(WorkerPool, NestedAndConcurrentCallersAllFinish) {
  // Calls from inside chunks and from several threads: each works its own chunks, so none waits forever.
  std::atomic<long> total{0};
  auto job = [&] {
    media::parallelFor(12, 1, [&](int begin, int end) {
      for (int i = begin; i < end; ++i) {
        media::parallelFor(50, 7, [&](int b, int e) { total += e - b; });
      }
    });
  };
  std::vector<std::thread> callers;
  for (int t = 0; t < 4; ++t) callers.emplace_back(job);
  job();
  for (auto& t : callers) t.join();
  EXPECT_EQ(total.load(), 5L * 12 * 50);
}

TEST(WorkerPool, SerialScopeKeepsWorkOnTheCallingThread) {
  const auto me = std::this_thread::get_id();
  std::atomic<int> elsewhere{0};
  {
    media::SerialScope serial;
    media::parallelFor(64, 1, [&](int, int) {
      if (std::this_thread::get_id() != me) ++elsewhere;
    });
  }
  EXPECT_EQ(elsewhere.load(), 0);
  expectCoveredOnce(300, 2);  // the scope is gone again
}

// --- Image operations: pool versus one thread -------------------------------------

Image noise(int w, int h, unsigned seed, bool alpha) {
  Image img = Image::create(w, h, alpha);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < static_cast<size_t>(w) * h * 4; ++i) img.pixels[i] = static_cast<uint8_t>(rng() >> 7);
  return img;
}

// Runs op twice, on the pool and under a SerialScope, and compares every byte.
template <class Op>
void expectSameOnPoolAndSerially(const char* what, Op op) {
  const Image pooled = op();
  Image serial;
  {
    media::SerialScope scope;
    serial = op();
  }
  EXPECT_TRUE(pooled.valid()) << what;
  EXPECT_EQ(pooled.width, serial.width) << what;
  EXPECT_EQ(pooled.height, serial.height) << what;
  EXPECT_TRUE(pooled.pixels == serial.pixels) << what;
}

TEST(ImageOnPool, EveryOperationGivesTheSameBytesAsOnOneThread) {
  // Large enough for several bands per operation, odd so bands are uneven.
  const Image src = noise(1201, 803, 5, true);
  const Image opaque = noise(803, 1201, 6, false);
  expectSameOnPoolAndSerially("shrink", [&] { return media::scaleExact(src, 517, 333); });
  expectSameOnPoolAndSerially("enlarge", [&] { return media::scaleExact(opaque, 1500, 2001); });
  expectSameOnPoolAndSerially("contain blur",
                              [&] { return media::resizeTo(src, 640, 800, media::FitMode::Contain, media::PadMode::Blur); });
  expectSameOnPoolAndSerially("cover", [&] { return media::resizeTo(opaque, 900, 500, media::FitMode::Cover, media::PadMode::Black); });
  expectSameOnPoolAndSerially("crop", [&] { return media::cropTo(src, 13, 7, 999, 701); });
  for (auto op : {media::TransformOp::FlipH, media::TransformOp::FlipV, media::TransformOp::RotateCW,
                  media::TransformOp::Rotate180, media::TransformOp::RotateCCW}) {
    expectSameOnPoolAndSerially("transform", [&] { return media::transform(src, op); });
    expectSameOnPoolAndSerially("transform in place", [&] { return media::transform(Image(opaque), op); });
  }
  for (double a : {12.5, -33.0, 101.0}) {
    expectSameOnPoolAndSerially("rotate", [&] { return media::rotate(src, a); });
  }
  expectSameOnPoolAndSerially("adjust", [&] {
    Image img = opaque;
    media::applyAdjust(img, media::Adjust{10, 15, 20, 10, 40, 60});
    return img;
  });
  expectSameOnPoolAndSerially("adjust without saturation", [&] {
    Image img = src;
    media::applyAdjust(img, media::Adjust{-20, 30, 0, 25, 0, 0});
    return img;
  });
  expectSameOnPoolAndSerially("unsharp wide", [&] {
    Image img = src;
    media::unsharpLuma(img, 150, 0.7);
    return img;
  });
}

TEST(ImageOnPool, ConcurrentCallersGetIndependentResults) {
  // Several threads running operations at once share the pool but nothing else.
  const Image src = noise(640, 480, 9, false);
  Image want;
  {
    media::SerialScope scope;
    want = media::rotate(media::resizeLongEdge(src, 500), 7.5);
  }
  std::vector<Image> got(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] { got[t] = media::rotate(media::resizeLongEdge(src, 500), 7.5); });
  }
  for (auto& t : threads) t.join();
  for (const Image& img : got) EXPECT_TRUE(img.pixels == want.pixels);
}

}  // namespace
