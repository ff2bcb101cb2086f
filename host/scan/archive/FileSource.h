#pragma once

#include <windows.h>

#include "host/scan/archive/ByteSource.h"

namespace devicescan::scan::archive {

// The bytes of an open file from its current position, read straight into the caller's buffer
// (a large read is one ReadFile). The handle stays the caller's.
class FileSource final : public ByteSource {
  public:
    explicit FileSource(HANDLE file) noexcept : file(file) {}

  private:
    std::size_t ReadSome(std::uint8_t* buffer, std::size_t size) override {
        const DWORD ask = size > kMaxRead ? kMaxRead : static_cast<DWORD>(size);
        DWORD read = 0;
        if (!ReadFile(file, buffer, ask, &read, nullptr)) {
            return Stop(End::kReadFailed, GetLastError());
        }
        return read;
    }

    static constexpr DWORD kMaxRead = 1u << 30;
    HANDLE file;
};

}  // namespace devicescan::scan::archive
