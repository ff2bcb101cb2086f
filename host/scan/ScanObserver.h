#pragma once

#include <cstdint>
#include <string>

#include "host/scan/Detection.h"
#include "host/scan/ScanCounts.h"
#include "host/scan/ScanLimit.h"

namespace devicescan::scan {

// Told what a FolderScanner finds, on the scanning thread, while it scans.
class ScanObserver {
  public:
    virtual void OnDetection(const Detection& detection) = 0;
    // Every progressEvery files (see FolderScanner).
    virtual void OnProgress(const ScanCounts& counts) = 0;
    // A file or member not checked, or not checked whole, because a limit stopped it.
    virtual void OnLimit(const ScanLimit& limit) = 0;
    // A file on disk in which something was detected has been closed again (cancelled or not):
    // what was detected in it has all been told. size and lastWrite (FILETIME ticks) are the
    // file's as its open handle had them, so that whoever acts on the file later can tell it
    // changed.
    virtual void OnFileClosed(const std::wstring& path, std::uint64_t size,
                              std::uint64_t lastWrite) {
        (void)path, (void)size, (void)lastWrite;
    }

  protected:
    ~ScanObserver() = default;
};

}  // namespace devicescan::scan
