#pragma once

#include "host/output/EventPrinter.h"

namespace devicescan::host {

class VolumeScanner;

// The volumes that were there before the service could announce them: plugged before the host
// started, or while the service was down for a restart. Each drive letter in use is classified
// with the service's own rules (no system drive, no RAM disk, a fixed disk only when the
// hot-plug probe does not know it as one), and each one offered goes the way of an announced
// mount: a "present" event, then a scan. Nothing is recorded: a later announcement of the same
// volume is scanned again.
//
// Threads: the main thread.
class PresentVolumes {
  public:
    PresentVolumes(EventPrinter printer, VolumeScanner* scanner);

    // Queues a scan of each present volume the rules offer; returns how many there were.
    int ScanAll() const;

  private:
    EventPrinter printer;
    VolumeScanner* scanner;
};

}  // namespace devicescan::host
