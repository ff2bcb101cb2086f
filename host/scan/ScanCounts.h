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
    std::uint64_t hashedBytes = 0;  // bytes read and hashed (of files on disk)
    std::uint64_t archives = 0;     // archives opened, nested ones included
    std::uint64_t members = 0;      // members found in them (not folders)
    std::uint64_t damaged = 0;      // files holding a damaged archive (read as far as it could be)
    std::uint64_t limited = 0;      // limit events (see ScanLimit)
    std::uint64_t encrypted = 0;    // encrypted members, passed over
    std::uint64_t excluded = 0;     // files and folders a PathFilter left out (not entered)

    // The counts of two scans together.
    ScanCounts& operator+=(const ScanCounts& other) noexcept {
        files += other.files;
        directories += other.directories;
        bytes += other.bytes;
        errors += other.errors;
        threats += other.threats;
        hashedBytes += other.hashedBytes;
        archives += other.archives;
        members += other.members;
        damaged += other.damaged;
        limited += other.limited;
        encrypted += other.encrypted;
        excluded += other.excluded;
        return *this;
    }
};

}  // namespace devicescan::scan
