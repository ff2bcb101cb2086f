#include "host/orchestration/PathScan.h"

#include <utility>

#include "sdk/SystemMessage.h"
#include "sdk/Utf8.h"

namespace devicescan::host {

using qv::DescribeError;

PathScan::PathScan(Settings settings, EventPrinter printer, OutputQueue& queue,
                   const LineWriter& out, const LineWriter& error)
    : settings(std::move(settings)),
      printer(std::move(printer)),
      queue(queue),
      out(out),
      error(error) {}

ScanExitCode PathScan::Run(std::shared_ptr<const scan::SignatureDatabase> database) {
    const ULONGLONG started = GetTickCount64();
    SummaryReport summary;
    summary.signatures = database->Count();
    summary.databases = database->DatabaseCount();
    VolumeScanner scanner(printer, std::move(database), settings.scanner);
    if (!scanner.Start()) {
        error.Write(qv::ToUtf8(L"devicescan-host: cannot start the scan workers: " +
                               qv::DescribeError(GetLastError())));
        return ScanExitCode::kError;
    }
    for (const std::wstring& path : settings.paths) {
        scanner.Enqueue(path);
    }
    WaitForScans(scanner.IdleEvent());
    scanner.Shutdown();
    const VolumeScanner::Totals totals = scanner.TotalsSoFar();
    summary.counts = totals.counts;
    summary.elapsedMs = GetTickCount64() - started;
    printer.Summary(summary);
    queue.Drain(out, error);
    if (totals.counts.threats != 0) {
        return ScanExitCode::kFound;
    }
    if (totals.counts.errors != 0 || totals.failed != 0 || totals.cancelled != 0) {
        return ScanExitCode::kError;
    }
    return ScanExitCode::kClean;
}

void PathScan::WaitForScans(HANDLE idle) {
    const ULONGLONG deadline =
        settings.seconds == 0 ? 0 : GetTickCount64() + ULONGLONG{settings.seconds} * 1000;
    const HANDLE handles[3] = {settings.stop, idle, queue.ReadyEvent()};
    for (;;) {
        DWORD timeout = INFINITE;
        if (deadline != 0) {
            const ULONGLONG now = GetTickCount64();
            timeout = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        const DWORD woken = WaitForMultipleObjects(3, handles, FALSE, timeout);
        queue.Drain(out, error);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_OBJECT_0 + 1 || woken == WAIT_FAILED) {
            return;
        }
        if (woken == WAIT_TIMEOUT) {
            settings.requestTimeoutStop();
        }
    }
}

}  // namespace devicescan::host
