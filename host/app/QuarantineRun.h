#pragma once

#include "host/app/HostOptions.h"
#include "host/output/LineWriter.h"

namespace devicescan::host {

// The runs that look after a quarantine folder instead of scanning: --restore ID --quarantine
// DIR puts a file back (0 restored; 2 refused, with the reason on stderr), --list-quarantine DIR
// prints the manifest (0; 2 when it cannot be read). Neither loads a database or the module.
//
// Threads: the main thread's.
class QuarantineRun {
  public:
    static int Restore(const HostOptions& options, const LineWriter& out, const LineWriter& error);
    static int List(const HostOptions& options, const LineWriter& out, const LineWriter& error);
};

}  // namespace devicescan::host
