#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/orchestration/ScanExitCode.h"
#include "host/orchestration/VolumeScanner.h"
#include "host/output/EventPrinter.h"
#include "host/output/LineWriter.h"
#include "host/output/OutputQueue.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::host {

// The --scan run: scans the given folders with the same scanner and output as mounted volumes,
// without the module, writes the output as it comes and ends with the scanners' exit code.
// A stop request (Ctrl-C, --seconds) cancels what still runs.
//
// Threads: Run on the main thread, which alone writes the output.
class PathScan {
  public:
    struct Settings {
        std::vector<std::wstring> paths;  // scanned in this order
        VolumeScanner::Options scanner;
        std::uint32_t seconds = 0;                 // 0: no time limit
        HANDLE stop = nullptr;                     // signalled when the process is asked to stop
        std::function<void()> requestTimeoutStop;  // called once the time limit has passed
    };

    PathScan(Settings settings, EventPrinter printer, OutputQueue& queue, const LineWriter& out,
             const LineWriter& error);

    ScanExitCode Run(std::shared_ptr<const scan::SignatureDatabase> database);

  private:
    // Writes the output until every scan has ended or a stop is requested.
    void WaitForScans(HANDLE idle);

    const Settings settings;
    EventPrinter printer;
    OutputQueue& queue;
    const LineWriter& out;
    const LineWriter& error;
};

}  // namespace devicescan::host
