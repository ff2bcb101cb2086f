#pragma once

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

  protected:
    ~ScanObserver() = default;
};

}  // namespace devicescan::scan
