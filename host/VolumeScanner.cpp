#include "host/VolumeScanner.h"

#include <windows.h>

#include <deque>
#include <mutex>
#include <utility>

#include "scan/CancelFlag.h"
#include "sdk/CriticalSection.h"

namespace devicescan::host {

namespace {

// How long Shutdown waits for a worker stuck in the file system before leaving it behind.
constexpr DWORD kWorkerEndWaitMs = 10000;

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

ScanReport ReportOf(ScanReport::State state, const std::wstring& path,
                    const VolumeWalker::Counts& counts) {
    ScanReport report;
    report.state = state;
    report.path = path;
    report.files = counts.files;
    report.directories = counts.directories;
    report.bytes = counts.bytes;
    report.errors = counts.errors;
    return report;
}

}  // namespace

struct VolumeScanner::Shared {
    Shared(EventPrinter printer, VolumeWalker walker)
        : printer(std::move(printer)),
          walker(walker),
          wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    // Reports a scan that ended before it began.
    void ReportDropped(const std::wstring& path, ScanReport::CancelReason reason) const {
        ScanReport report = ReportOf(ScanReport::State::kCancelled, path, {});
        report.reason = reason;
        printer.Scan(report);
    }

    // The next job, or false when the worker is to end. Waits for work.
    bool TakeJob(std::wstring& path) {
        for (;;) {
            {
                std::lock_guard lock(scannerLock);
                if (stopping) {
                    return false;
                }
                if (!jobs.empty()) {
                    path = std::move(jobs.front());
                    jobs.pop_front();
                    current = path;
                    running = true;
                    reason = ScanReport::CancelReason::kNone;
                    cancel.Reset();
                    return true;
                }
            }
            WaitForSingleObject(wake.Get(), INFINITE);
        }
    }

    ScanReport::CancelReason FinishJob() {
        std::lock_guard lock(scannerLock);
        running = false;
        current.clear();
        return reason;
    }

    void RunJob(const std::wstring& path) {
        printer.Scan(ReportOf(ScanReport::State::kStarted, path, {}));
        const VolumeWalker::Result result =
            walker.Walk(path, cancel, [&](const VolumeWalker::Counts& counts) {
                printer.Scan(ReportOf(ScanReport::State::kProgress, path, counts));
            });
        const ScanReport::CancelReason why = FinishJob();
        switch (result.outcome) {
            case VolumeWalker::Outcome::kFinished:
                printer.Scan(ReportOf(ScanReport::State::kFinished, path, result.counts));
                return;
            case VolumeWalker::Outcome::kCancelled: {
                ScanReport report = ReportOf(ScanReport::State::kCancelled, path, result.counts);
                report.reason = why;
                printer.Scan(report);
                return;
            }
            case VolumeWalker::Outcome::kFailed: {
                ScanReport report = ReportOf(ScanReport::State::kFailed, path, result.counts);
                report.error = result.error;
                printer.Scan(report);
                return;
            }
        }
    }

    const EventPrinter printer;
    const VolumeWalker walker;
    qv::UniqueHandle wake;    // auto-reset: a job was queued, or the worker is to end
    scan::CancelFlag cancel;  // the running job's

    qv::CriticalSection scannerLock;  // guards everything below
    std::deque<std::wstring> jobs;
    std::wstring current;
    bool running = false;
    bool stopping = false;
    ScanReport::CancelReason reason = ScanReport::CancelReason::kNone;
};

VolumeScanner::VolumeScanner(EventPrinter printer, VolumeWalker walker)
    : shared(std::make_shared<Shared>(std::move(printer), walker)) {}

VolumeScanner::~VolumeScanner() {
    Shutdown();
}

bool VolumeScanner::Start() {
    if (!shared->wake.IsValid() || !shared->cancel.IsValid()) {
        return false;
    }
    auto* reference = new std::shared_ptr<Shared>(shared);
    worker.Reset(CreateThread(nullptr, 0, &VolumeScanner::WorkerRoutine, reference, 0, nullptr));
    if (!worker.IsValid()) {
        const DWORD error = GetLastError();
        delete reference;
        SetLastError(error);
        return false;
    }
    return true;
}

DWORD WINAPI VolumeScanner::WorkerRoutine(void* parameter) {
    const std::unique_ptr<std::shared_ptr<Shared>> reference(
        static_cast<std::shared_ptr<Shared>*>(parameter));
    Shared& state = **reference;
    std::wstring path;
    while (state.TakeJob(path)) {
        state.RunJob(path);
    }
    return 0;
}

void VolumeScanner::Enqueue(const std::wstring& path) {
    {
        std::lock_guard lock(shared->scannerLock);
        if (shared->stopping) {
            return;
        }
        shared->jobs.push_back(path);
    }
    SetEvent(shared->wake.Get());
}

void VolumeScanner::Cancel(const std::wstring& path) {
    std::deque<std::wstring> dropped;
    {
        std::lock_guard lock(shared->scannerLock);
        if (shared->running && SamePath(shared->current, path)) {
            shared->reason = ScanReport::CancelReason::kUnmounted;
            shared->cancel.Set();
        }
        for (auto job = shared->jobs.begin(); job != shared->jobs.end();) {
            if (SamePath(*job, path)) {
                dropped.push_back(std::move(*job));
                job = shared->jobs.erase(job);
            } else {
                ++job;
            }
        }
    }
    for (const std::wstring& job : dropped) {
        shared->ReportDropped(job, ScanReport::CancelReason::kUnmounted);
    }
}

void VolumeScanner::Shutdown() {
    std::deque<std::wstring> dropped;
    {
        std::lock_guard lock(shared->scannerLock);
        shared->stopping = true;
        dropped.swap(shared->jobs);
        if (shared->running) {
            shared->reason = ScanReport::CancelReason::kShutdown;
            shared->cancel.Set();
        }
    }
    for (const std::wstring& job : dropped) {
        shared->ReportDropped(job, ScanReport::CancelReason::kShutdown);
    }
    if (!worker.IsValid()) {
        return;
    }
    SetEvent(shared->wake.Get());
    if (WaitForSingleObject(worker.Get(), kWorkerEndWaitMs) != WAIT_OBJECT_0) {
        shared->printer.Warning(L"the scan worker did not end; leaving it behind");
    }
    worker.Reset();
}

}  // namespace devicescan::host
