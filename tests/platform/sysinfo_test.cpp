// Machine facts: total memory, read once and logged, and its tier; the
// background priority of worker threads.
#include "platform/sysinfo.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <thread>
#include <utility>

#include "support/in_child.h"
#include "platform/log.h"
#include "support/test_support.h"

using testing_support::inChild;
using testing_support::readFile;
using testing_support::TempDir;

TEST(Sysinfo, MemoryTiersChangeAtTheirBoundaries) {
  constexpr uint64_t GiB = uint64_t{1} << 30;
  const std::pair<uint64_t, int> edges[] = {{0, 2},           {GiB - 1, 2},      {GiB, 1},
                                            {6 * GiB - 1, 1}, {6 * GiB, 2},      {12 * GiB - 1, 2},
                                            {12 * GiB, 3},    {24 * GiB - 1, 3}, {24 * GiB, 4}};
  for (const auto& [bytes, tier] : edges) EXPECT_EQ(platform::memoryTierFor(bytes), tier) << bytes;
}

TEST(Sysinfo, TotalRamComesFromMeminfoAndIsLoggedOnce) {
  TempDir data;
  const std::string out = inChild({{"XDG_DATA_HOME", data.path().c_str()}}, [&] {
                            diag::init();
                            const uint64_t first = platform::totalRamBytes();
                            const uint64_t second = platform::totalRamBytes();
                            const int tier = platform::memoryTier();
                            diag::shutdown();
                            if (first != second) return std::string("changed");
                            if (tier != platform::memoryTierFor(first)) return std::string("tier");
                            return std::to_string(first);
                          }).out;
  const uint64_t bytes = std::stoull(out);
  ASSERT_GT(bytes, 0u) << "Linux always has /proc/meminfo";
  EXPECT_EQ(bytes % 1024, 0u);  // kilobytes from the kernel

  const std::string log = readFile(data.file("Korvelle/Korvelle.log"));
  const std::string line = "] sys    Arbeitsspeicher: " + std::to_string(bytes >> 20) + " MB\n";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find("Arbeitsspeicher", log.find(line) + line.size()), std::string::npos) << log;
}

// Linux keeps a nice value per thread: the worker's is lowered, its caller's
// kept; a worker already nicer keeps its own.
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
