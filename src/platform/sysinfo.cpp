#include "platform/sysinfo.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/log.h"

namespace platform {

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

uint64_t readMemTotal() {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen("/proc/meminfo", "re"));
  if (!f) return 0;
  char line[256];
  while (std::fgets(line, sizeof line, f.get())) {
    unsigned long long kb = 0;
    if (std::sscanf(line, "MemTotal: %llu", &kb) == 1) return static_cast<uint64_t>(kb) * 1024;
  }
  return 0;
}

}  // namespace

uint64_t totalRamBytes() {
  static const uint64_t bytes = [] {
    const uint64_t b = readMemTotal();
    if (b > 0) {
      char mb[32];
      std::snprintf(mb, sizeof mb, "%lu", static_cast<unsigned long>(b >> 20));
      diag::write("sys", std::string("Arbeitsspeicher: ") + mb + " MB");
    } else {
      diag::write("sys", "Arbeitsspeicher: unbekannt");
    }
    return b;
  }();
  return bytes;
}

int memoryTierFor(uint64_t bytes) {
  // Unknown and very small machines get the middle setting: tier 1 is meant
  // for common low-memory laptops, not for a system that tells us nothing.
  if (bytes < 1 * kGiB) return 2;
  if (bytes < 6 * kGiB) return 1;
  if (bytes < 12 * kGiB) return 2;
  if (bytes < 24 * kGiB) return 3;
  return 4;
}

int memoryTier() { return memoryTierFor(totalRamBytes()); }

// Linux keeps a nice value per thread; the thread id names the caller alone.
bool lowerThreadPriority() {
  constexpr int kBackgroundNice = 10;  // a tenth of the weight of a normal thread
  const auto self = static_cast<id_t>(gettid());
  errno = 0;  // -1 is also a valid nice value
  const int now = getpriority(PRIO_PROCESS, self);
  if (errno == 0 && now >= kBackgroundNice) return true;  // never raised: a program started nicer stays so
  return setpriority(PRIO_PROCESS, self, kBackgroundNice) == 0;
}

}  // namespace platform
