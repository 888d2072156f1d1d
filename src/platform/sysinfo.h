// sysinfo: facts about the machine.
#pragma once

#include <cstdint>

namespace platform {

// Total RAM from /proc/meminfo, computed once (thread-safe); 0 when unknown.
uint64_t totalRamBytes();
// Coarse memory class 1 … 4 of this machine (2 when unknown).
int memoryTier();
// The class for a given total in bytes: below 1 GiB (or 0, unknown) 2,
// below 6 GiB 1, below 12 GiB 2, below 24 GiB 3, else 4. Pure.
int memoryTierFor(uint64_t totalBytes);

// Lowers the calling thread's scheduling priority to that of background work
// (nice 10, or leaves it when already lower), so it yields the cores to the UI
// and playback; threads it starts afterwards inherit it. Only the calling
// thread; false when refused.
bool lowerThreadPriority();

}  // namespace platform
