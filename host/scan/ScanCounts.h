#pragma once

#include <cstdint>

namespace devicescan::scan {

// What a scan of a folder tree has seen so far.
struct ScanCounts {
    std::uint64_t files = 0;
    std::uint64_t directories = 0;  // below the root, which is not counted
    std::uint64_t bytes = 0;        // the sizes of all files seen
    std::uint64_t errors = 0;   // folders that could not be listed, files that could not be read
    std::uint64_t threats = 0;  // detections (one per file and signature name)
    std::uint64_t hashedBytes = 0;  // bytes read and hashed
};

}  // namespace devicescan::scan
