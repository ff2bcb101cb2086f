#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace devicescan::logdll {

// The open log file and the bytes not yet written to it. Opened for appending and shared, so
// that a person can read it (and another process append to it) while it is written.
//
// Threads: none of its own; the logger calls it under its lock.
class LogFile {
  public:
    LogFile() = default;
    ~LogFile() { Close(); }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens path for appending, creating it (and its directory) when missing. 0 or the error.
    DWORD Open(const std::wstring& path);
    // Writes out what is buffered, then closes.
    void Close() noexcept;
    bool IsOpen() const noexcept { return handle != INVALID_HANDLE_VALUE; }
    const std::wstring& Path() const noexcept { return path; }

    // Buffers bytes while the file is open; nothing reaches the file before Flush.
    void Append(std::string_view bytes);
    // Writes what is buffered; on failure the buffered bytes are dropped. 0 or the error.
    DWORD Flush() noexcept;
    std::size_t Buffered() const noexcept { return pending.size(); }
    // The file's size once what is buffered has been written.
    std::uint64_t Size() const noexcept { return size; }

    // Closes the file, renames it to name.1 after shifting older copies up to name.<backups>
    // (the oldest is dropped; with no backups the file is simply emptied) and opens a new one.
    // 0 or the error of the rename (the old file is then reopened and grows on).
    DWORD Rotate(std::uint32_t backups);

  private:
    DWORD OpenHandle(DWORD disposition);

    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring path;
    std::uint64_t size = 0;
    std::string pending;
};

}  // namespace devicescan::logdll
