#pragma once

#include <cstdint>

#include "host/scan/ScanCounts.h"

namespace devicescan::host {

// What a --scan run did, all its paths together: what it looked for, what it saw and how long
// it took.
struct SummaryReport {
    std::uint64_t signatures = 0;
    std::uint64_t databases = 0;  // database files the signatures came from
    scan::ScanCounts counts;
    std::uint64_t elapsedMs = 0;
};

}  // namespace devicescan::host
