#pragma once

#include "host/quarantine/QuarantineFileSystem.h"

namespace devicescan::quarantine {

// The quarantine's file operations on the real file system.
//
// Threads: any (it holds nothing).
class Win32FileSystem final : public QuarantineFileSystem {
  public:
    DWORD Open(const std::wstring& path, Access access,
               std::unique_ptr<QuarantineFile>& file) override;
    DWORD Delete(const std::wstring& path) override;
    DWORD Attributes(const std::wstring& path, DWORD& attributes) override;
    DWORD MakeFolder(const std::wstring& path) override;
    bool IsReadOnlyVolume(const std::wstring& path) override;
};

}  // namespace devicescan::quarantine
