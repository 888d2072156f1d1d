// sysinfo: facts about the machine.
#pragma once

#include <cstdint>

namespace platform {

// Total RAM from /proc/meminfo, computed once (thread-safe); 0 when unknown.
uint64_t totalRamBytes();
// Coarse memory class 1 … 4 (2 when unknown); see the tier table.
int memoryTier();

}  // namespace platform
