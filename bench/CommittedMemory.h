#pragma once

#include <windows.h>

#include <cstdint>

namespace devicescan::bench {

// Committed memory of this process that no other process shares: its committed private
// regions, added up. (Wine leaves the private-bytes counter of GetProcessMemoryInfo at 0.)
inline std::int64_t CommittedPrivateBytes() {
    std::int64_t bytes = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            bytes += static_cast<std::int64_t>(region.RegionSize);
        }
    }
    return bytes;
}

}  // namespace devicescan::bench
