#pragma once

#include <memory>
#include <string>

#include "host/app/ExitCode.h"
#include "host/app/HostOptions.h"
#include "host/app/StopSignal.h"
#include "host/orchestration/PathScan.h"
#include "host/output/EventPrinter.h"
#include "host/output/LineWriter.h"
#include "host/output/OutputQueue.h"
#include "host/quarantine/Quarantine.h"
#include "host/quarantine/Win32FileSystem.h"
#include "host/scan/SignatureDatabase.h"

namespace devicescan::host {

class HostListener;
class PresentVolumes;
class ServiceHost;
class ServiceSession;
class ServiceWatch;

// One run of the host: load the module, create and start the service with the host's listener,
// component manager and producer, print what happens until a stop is requested, then take it
// all down in reverse order. A failure is one line on stderr and its exit code. The signature
// databases are loaded first; with --scan, the given folders are scanned instead (PathScan).
// While the service runs, it is watched and restarted when its window is gone (ServiceWatch).
//
// Threads: Run on the main thread, which alone writes the output. The module's window thread
// and the scanner's worker only queue lines (see OutputQueue).
class HostApp {
  public:
    explicit HostApp(HostOptions options);

    // The process exit code: an ExitCode, or with --scan a ScanExitCode.
    int Run();

  private:
    struct Failure {
        ExitCode code = ExitCode::kSuccess;
        std::wstring message;
    };

    // The quarantine folder of --move or --copy, made when missing; false (the reason on
    // stderr) when it cannot be used.
    bool PrepareQuarantine();
    // What --scan scans, and how, from the options.
    PathScan::Settings PathScanSettings() const;
    // Everything that needs the module lives in here and is gone when it returns.
    Failure RunModule();
    Failure RunService(ServiceSession& session, ServiceHost& serviceHost, HostListener& listener,
                       const PresentVolumes& present, const std::wstring& modulePath);
    // Writes the queued output until a stop is requested (or --seconds have passed), keeping
    // watch over the service meanwhile. A failure when the service could not be restarted.
    Failure WaitForStop(ServiceWatch& watch, const PresentVolumes& present);
    void Drain() { queue->Drain(out, error); }

    HostOptions options;
    LineWriter out;
    LineWriter error;
    std::shared_ptr<OutputQueue> queue;
    EventPrinter printer;
    std::shared_ptr<const scan::SignatureDatabase> signatures;  // loaded before the module
    quarantine::Win32FileSystem quarantineFiles;
    std::shared_ptr<quarantine::Quarantine> quarantine;  // with --move or --copy
    StopSignal::Reason stopReason = StopSignal::Reason::kNone;
};

}  // namespace devicescan::host
