#pragma once

#include <cstdint>
#include <string>

#include "host/scan/ScanCounts.h"

namespace devicescan::host {

// One step of the scan of a volume, as the scanner reports it.
struct ScanReport {
    enum class State { kStarted, kProgress, kFinished, kCancelled, kFailed };
    enum class CancelReason { kNone, kUnmounted, kShutdown };

    State state = State::kStarted;
    std::wstring path;
    scan::ScanCounts counts;                    // what the scan has seen so far
    CancelReason reason = CancelReason::kNone;  // kCancelled only
    std::uint32_t error = 0;                    // kFailed only: why the root could not be listed
};

}  // namespace devicescan::host
