// Frame requests from any thread reach the loop once per wake-up.
// test-labels: threads
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ui/frames.h"

namespace {

std::atomic<int> g_wakes{0};
void countWake() { g_wakes.fetch_add(1); }

}  // namespace

TEST(Frames, RequestsSetTheEarliestDeadlineAndFrameStartAnswersDueOnes) {
  ui::beginRequestedFrame();
  EXPECT_GT(ui::secondsUntilRequestedFrame(), 1e6);  // nothing requested

  ui::requestFrameWithin(30);
  EXPECT_GT(ui::secondsUntilRequestedFrame(), 20);
  ui::requestFrameWithin(60);  // a later request does not postpone the earlier
  EXPECT_LT(ui::secondsUntilRequestedFrame(), 31);
  ui::beginRequestedFrame();   // not due yet: survives the frame
  EXPECT_GT(ui::secondsUntilRequestedFrame(), 20);

  ui::requestFrame();
  EXPECT_LE(ui::secondsUntilRequestedFrame(), 0);
  ui::beginRequestedFrame();
  EXPECT_GT(ui::secondsUntilRequestedFrame(), 1e6);  // the 30 s request was answered too

  ui::requestFrameWithin(-1);  // negative means now
  EXPECT_LE(ui::secondsUntilRequestedFrame(), 0);
  ui::requestFrameWithin(1e300);  // absurd delays neither overflow nor postpone
  EXPECT_LE(ui::secondsUntilRequestedFrame(), 0);
  ui::beginRequestedFrame();
}

TEST(Frames, ManyThreadsWakeTheLoopOnceUntilItAnswers) {
  ui::beginRequestedFrame();
  ui::frameWakeReceived();
  g_wakes = 0;
  ui::setFrameWaker(countWake);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([] {
      for (int i = 0; i < 1000; ++i) ui::requestFrameWithin(0.001 * (i % 7));
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(g_wakes.load(), 1);
  EXPECT_LT(ui::secondsUntilRequestedFrame(), 0.01);

  ui::frameWakeReceived();
  ui::requestFrame();
  EXPECT_EQ(g_wakes.load(), 2);
  ui::setFrameWaker(nullptr);
  ui::frameWakeReceived();
  ui::requestFrame();
  EXPECT_EQ(g_wakes.load(), 2);
  ui::beginRequestedFrame();
}
