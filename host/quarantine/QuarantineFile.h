#pragma once

#include <windows.h>

#include <cstdint>

namespace devicescan::quarantine {

// One open file of the quarantine's file operations (see QuarantineFileSystem): every call
// returns 0 or the Win32 code of its failure, and the file closes when the object goes.
//
// Threads: one owner at a time.
class QuarantineFile {
  public:
    virtual ~QuarantineFile() = default;

    // Reads up to size bytes at the current position; got is 0 at the end of the file.
    virtual DWORD Read(std::uint8_t* data, std::uint32_t size, std::uint32_t& got) = 0;
    // Writes all size bytes at the current position (the end, for a file opened to append).
    virtual DWORD Write(const std::uint8_t* data, std::uint32_t size) = 0;
    // Moves the position that reads start from.
    virtual DWORD Seek(std::uint64_t offset) = 0;
    // Makes what was written durable.
    virtual DWORD Flush() = 0;
    // The size and the last write time (FILETIME ticks) as the file system has them now.
    virtual DWORD Stamp(std::uint64_t& size, std::uint64_t& lastWrite) = 0;
    // Deletes the file through this handle (opened for moving): it goes when the handle closes,
    // and no other name of it can be opened meanwhile.
    virtual DWORD Delete() = 0;
};

}  // namespace devicescan::quarantine
