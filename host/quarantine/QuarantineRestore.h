#pragma once

#include <windows.h>

#include <string>

#include "host/quarantine/Manifest.h"
#include "host/quarantine/QuarantineFileSystem.h"

namespace devicescan::quarantine {

// Puts a quarantined file back at its original path: never over a file that is there now, and
// only as the bytes the manifest recorded (the copy back is proven like the copy in). The
// manifest gets a "restored" record before the quarantined file is deleted; a failure leaves no
// partial file at the original path.
//
// Threads: the caller's.
class QuarantineRestore {
  public:
    struct Result {
        bool restored = false;
        std::wstring original;          // where the file went, or was to go
        const char* reason = "";        // when not restored, e.g. "target-exists" (see README)
        DWORD error = 0;                // the Win32 code, when a call failed
        bool leftInQuarantine = false;  // restored, but the quarantined file could not be deleted
    };

    QuarantineRestore(QuarantineFileSystem& files, const std::wstring& folder);

    Result Restore(const std::wstring& id);

  private:
    QuarantineFileSystem& files;
    const std::wstring folder;
    Manifest manifest;
};

}  // namespace devicescan::quarantine
