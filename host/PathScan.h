#pragma once

#include <memory>

#include "host/EventPrinter.h"
#include "host/HostOptions.h"
#include "host/LineWriter.h"
#include "host/OutputQueue.h"
#include "host/ScanExitCode.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::host {

// The --scan run: scans the given folders with the same scanner and output as mounted volumes,
// without the module, writes the output as it comes and ends with the scanners' exit code.
// A stop request (Ctrl-C, --seconds) cancels what still runs.
//
// Threads: Run on the main thread, which alone writes the output.
class PathScan {
  public:
    PathScan(const HostOptions& options, EventPrinter printer, OutputQueue& queue,
             const LineWriter& out, const LineWriter& error);

    ScanExitCode Run(std::shared_ptr<const scan::SignatureDatabase> database);

  private:
    // Writes the output until every scan has ended or a stop is requested.
    void WaitForScans(HANDLE idle);

    const HostOptions& options;
    EventPrinter printer;
    OutputQueue& queue;
    const LineWriter& out;
    const LineWriter& error;
};

}  // namespace devicescan::host
