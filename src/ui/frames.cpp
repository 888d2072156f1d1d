#include "ui/frames.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>

namespace ui {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kNone = std::numeric_limits<int64_t>::max();

// Earliest requested frame time in steady-clock nanoseconds; kNone when none.
std::atomic<int64_t> g_deadline{kNone};
// A wake-up has been sent and not yet answered by a frame.
std::atomic<bool> g_wakeSent{false};
std::atomic<void (*)()> g_waker{nullptr};

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

void requestAt(int64_t when) {
  int64_t seen = g_deadline.load(std::memory_order_relaxed);
  while (when < seen && !g_deadline.compare_exchange_weak(seen, when, std::memory_order_acq_rel)) {
  }
  void (*wake)() = g_waker.load(std::memory_order_acquire);
  if (wake && !g_wakeSent.exchange(true, std::memory_order_acq_rel)) wake();
}

}  // namespace

void requestFrame() { requestAt(nowNs()); }

void requestFrameWithin(double seconds) {
  if (!(seconds > 0)) {
    requestFrame();
    return;
  }
  // Far-future requests are capped so the addition cannot overflow.
  double ns = seconds < 1e6 ? seconds * 1e9 : 1e15;
  requestAt(nowNs() + static_cast<int64_t>(ns));
}

void setFrameWaker(void (*wake)()) { g_waker.store(wake, std::memory_order_release); }

double secondsUntilRequestedFrame() {
  int64_t deadline = g_deadline.load(std::memory_order_acquire);
  if (deadline == kNone) return 1e9;
  return static_cast<double>(deadline - nowNs()) / 1e9;
}

void beginRequestedFrame() {
  int64_t now = nowNs();
  int64_t seen = g_deadline.load(std::memory_order_acquire);
  // Only due requests are answered by this frame; later ones stay pending.
  while (seen <= now && !g_deadline.compare_exchange_weak(seen, kNone, std::memory_order_acq_rel)) {
  }
}

void frameWakeReceived() { g_wakeSent.store(false, std::memory_order_release); }

}  // namespace ui
