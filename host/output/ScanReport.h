#pragma once

#include <cstdint>
#include <string>

namespace devicescan::host {

// One step of the scan of a volume, as the scanner reports it.
struct ScanReport {
    enum class State { kStarted, kProgress, kFinished, kCancelled, kFailed };
    enum class CancelReason { kNone, kUnmounted, kShutdown };

    State state = State::kStarted;
    std::wstring path;
    std::uint64_t files = 0;
    std::uint64_t directories = 0;  // below the root, which is not counted
    std::uint64_t bytes = 0;
    std::uint64_t errors = 0;  // directories that could not be listed, files that could not be read
    std::uint64_t threats = 0;                  // detections: one per file and signature name
    std::uint64_t hashedBytes = 0;              // bytes read to hash them
    CancelReason reason = CancelReason::kNone;  // kCancelled only
    std::uint32_t error = 0;                    // kFailed only: why the root could not be listed
};

}  // namespace devicescan::host
