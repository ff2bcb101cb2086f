#pragma once

#include <windows.h>

#include "bench/CommittedMemory.h"

namespace support {

// The memory this process has committed for itself, from its committed private regions: Wine
// leaves the private-bytes counter of GetProcessMemoryInfo at 0, which no leak could move.
inline SIZE_T PrivateBytes() {
    return static_cast<SIZE_T>(devicescan::bench::CommittedPrivateBytes());
}

}  // namespace support
