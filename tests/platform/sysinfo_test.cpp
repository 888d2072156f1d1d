// Machine facts: total memory and its tier; the background priority of worker threads.
#include "platform/sysinfo.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <utility>

TEST(Sysinfo, MemoryTiersChangeAtTheirBoundariesAndFollowThisMachine) {
  constexpr uint64_t GiB = uint64_t{1} << 30;
  const std::pair<uint64_t, int> edges[] = {{0, 2},           {GiB - 1, 2},      {GiB, 1},
                                            {6 * GiB - 1, 1}, {6 * GiB, 2},      {12 * GiB - 1, 2},
                                            {12 * GiB, 3},    {24 * GiB - 1, 3}, {24 * GiB, 4}};
  for (const auto& [bytes, tier] : edges) EXPECT_EQ(platform::memoryTierFor(bytes), tier) << bytes;
  // This machine's, from /proc/meminfo in kilobytes.
  const uint64_t ram = platform::totalRamBytes();
  EXPECT_GT(ram, 0u);
  EXPECT_EQ(ram % 1024, 0u);
  EXPECT_EQ(platform::memoryTier(), platform::memoryTierFor(ram));
}

// Linux keeps a nice value per thread: the worker's is lowered, its caller's kept, an already nicer one kept.
TEST(Sysinfo, BackgroundPriorityIsTheCallingThreadsAndNeverRaised) {
  const int mine = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  for (const auto& [start, want] : {std::pair{0, 10}, std::pair{15, 15}}) {
    int seen = -100;
    std::thread worker([&, start = start] {
      const auto self = static_cast<id_t>(gettid());
      if (setpriority(PRIO_PROCESS, self, std::max(start, mine)) == 0 && platform::lowerThreadPriority()) {
        seen = getpriority(PRIO_PROCESS, self);
      }
    });
    worker.join();
    EXPECT_EQ(seen, std::max(want, mine)) << start;
  }
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), mine);
}
