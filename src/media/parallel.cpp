#include "media/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace media {
namespace {

// One parallelFor call. Lives on the caller's stack; the caller leaves only
// after withdrawing it from the queue and seeing no worker still inside.
struct Job {
  detail::ChunkFn fn = nullptr;
  void* ctx = nullptr;
  int count = 0;
  int grain = 1;
  int chunks = 0;
  std::atomic<int> next{0};
  int users = 0;  // workers running its chunks; guarded by the pool mutex
};

// Claims and runs chunks until none is left.
void drain(Job& job) {
  for (;;) {
    const int chunk = job.next.fetch_add(1, std::memory_order_relaxed);
    if (chunk >= job.chunks) return;
    const int begin = chunk * job.grain;
    job.fn(job.ctx, begin, std::min(job.count, begin + job.grain));
  }
}

class Pool {
 public:
  Pool() {
    const unsigned hw = std::thread::hardware_concurrency();
    const int workers = hw > 1 ? static_cast<int>(hw) - 1 : 0;
    threads_.reserve(workers);
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { workerLoop(); });
  }

  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }

  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  int workers() const { return static_cast<int>(threads_.size()); }

  void run(Job& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(&job);
    }
    // Waking more workers than there are chunks besides the caller's only
    // costs context switches.
    if (job.chunks > 2 && workers() > 1) {
      wake_.notify_all();
    } else {
      wake_.notify_one();
    }
    drain(job);
    std::unique_lock<std::mutex> lock(mutex_);
    withdraw(job);
    done_.wait(lock, [&] { return job.users == 0; });
  }

 private:
  void withdraw(Job& job) {
    auto it = std::find(queue_.begin(), queue_.end(), &job);
    if (it != queue_.end()) queue_.erase(it);
  }

  void workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      Job& job = *queue_.front();
      // All its chunks are taken: drop it so the queue moves on (its caller
      // waits only for the workers still inside).
      if (job.next.load(std::memory_order_relaxed) >= job.chunks) {
        queue_.pop_front();
        continue;
      }
      ++job.users;
      lock.unlock();
      drain(job);
      lock.lock();
      withdraw(job);
      if (--job.users == 0) done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;  // work queued or stopping
  std::condition_variable done_;  // a job lost its last worker
  std::deque<Job*> queue_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

Pool& pool() {
  static Pool instance;
  return instance;
}

thread_local int t_serialDepth = 0;

}  // namespace

int parallelism() { return pool().workers() + 1; }

SerialScope::SerialScope() { ++t_serialDepth; }
SerialScope::~SerialScope() { --t_serialDepth; }

int bandRows(int height, long long rowCost) {
  // About 64k units of work per band keep the hand-over cost (a wake-up,
  // a few atomics) below one percent.
  constexpr long long kMinBandCost = 1 << 16;
  // Several bands per thread let a thread that was descheduled on a busy
  // machine be covered by the others.
  constexpr int kBandsPerThread = 4;
  if (height <= 1) return 1;
  const long long perCost = std::max<long long>(1, kMinBandCost / std::max<long long>(1, rowCost));
  const int perThread = std::max(1, height / (parallelism() * kBandsPerThread));
  return static_cast<int>(std::clamp<long long>(std::max<long long>(perCost, perThread), 1, height));
}

namespace detail {

void runParallel(int count, int grain, ChunkFn fn, void* ctx) {
  if (count <= 0) return;
  grain = std::max(1, grain);
  Job job;
  job.fn = fn;
  job.ctx = ctx;
  job.count = count;
  job.grain = grain;
  job.chunks = static_cast<int>((static_cast<long long>(count) + grain - 1) / grain);
  if (job.chunks == 1 || t_serialDepth > 0 || pool().workers() == 0) {
    drain(job);
    return;
  }
  pool().run(job);
}

}  // namespace detail
}  // namespace media
