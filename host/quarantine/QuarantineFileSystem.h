#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "host/quarantine/QuarantineFile.h"

namespace devicescan::quarantine {

// The file operations a quarantine makes, one narrow layer, so that the tests can fail any of
// them at a chosen point (a full folder, a volume gone in the middle of a copy) where the real
// file system will not. Win32FileSystem is the real one. Paths are given as the file system
// takes them (\\?\ form for long ones). Every call returns 0 or a Win32 code.
//
// Threads: any; the quarantine's workers call it at once.
class QuarantineFileSystem {
  public:
    enum class Access {
        kRead,    // read, others may read and write
        kMove,    // read and delete; nobody else may write while it is open
        kCreate,  // write a new file; fails with ERROR_FILE_EXISTS when the name is taken
        kAppend,  // write at the end, creating the file when missing
    };

    virtual DWORD Open(const std::wstring& path, Access access,
                       std::unique_ptr<QuarantineFile>& file) = 0;
    virtual DWORD Delete(const std::wstring& path) = 0;
    // INVALID_FILE_ATTRIBUTES (with the code returned) when path is not there.
    virtual DWORD Attributes(const std::wstring& path, DWORD& attributes) = 0;
    // Makes the folder; 0 when it is there already.
    virtual DWORD MakeFolder(const std::wstring& path) = 0;
    // Whether the volume holding path takes no writes (a CD-ROM, a write-protected volume).
    virtual bool IsReadOnlyVolume(const std::wstring& path) = 0;

  protected:
    ~QuarantineFileSystem() = default;
};

}  // namespace devicescan::quarantine
