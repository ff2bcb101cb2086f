#include "host/orchestration/VolumeScanner.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "host/orchestration/VolumeIdentity.h"
#include "host/scan/CancelFlag.h"
#include "host/scan/FolderScanner.h"
#include "sdk/CriticalSection.h"
#include "sdk/Utf8.h"

namespace devicescan::host {

namespace {

// How long Shutdown waits for a worker stuck in the file system before leaving it behind.
constexpr DWORD kWorkerEndWaitMs = 10000;

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

ScanReport ReportOf(ScanReport::State state, const std::wstring& path,
                    const scan::ScanCounts& counts) {
    ScanReport report;
    report.state = state;
    report.path = path;
    report.counts = counts;
    return report;
}

struct Job {
    std::wstring path;
    VolumeIdentity identity;  // of the volume when the scan was queued
};

// Prints what one scan finds as it finds it. With a quarantine, the detections of a file wait
// until the scan has closed it, then the file is taken into the quarantine and they are printed
// saying where it went, followed by what the quarantine did.
class ReportingObserver final : public scan::ScanObserver {
  public:
    ReportingObserver(const EventPrinter& printer, const std::wstring& path,
                      quarantine::Quarantine* quarantine)
        : printer(printer), path(path), quarantine(quarantine) {}
    ReportingObserver(const ReportingObserver&) = delete;
    ReportingObserver& operator=(const ReportingObserver&) = delete;
    // Anything still held (nothing, when every read file was closed) is printed as it is.
    ~ReportingObserver() {
        for (const scan::Detection& detection : pending) {
            printer.Detection(detection);
        }
    }

    void OnDetection(const scan::Detection& detection) override {
        if (quarantine == nullptr) {
            printer.Detection(detection);
            return;
        }
        pending.push_back(detection);
    }
    void OnLimit(const scan::ScanLimit& limit) override { printer.Limit(limit); }
    void OnProgress(const scan::ScanCounts& counts) override {
        printer.Scan(ReportOf(ScanReport::State::kProgress, path, counts));
    }
    void OnFileClosed(const std::wstring& file, std::uint64_t size,
                      std::uint64_t lastWrite) override {
        if (pending.empty()) {
            return;
        }
        std::vector<scan::Detection> detections;
        detections.swap(pending);
        if (quarantine->Holds(file)) {
            for (const scan::Detection& detection : detections) {
                printer.Detection(detection);  // already in the quarantine
            }
            return;
        }
        const quarantine::Quarantine::Result result =
            quarantine->Put(RequestFor(file, size, lastWrite, detections));
        const bool kept = result.outcome != quarantine::Quarantine::Result::Outcome::kFailed;
        for (const scan::Detection& detection : detections) {
            printer.Detection(detection, kept ? result.file : std::wstring());
        }
        using Outcome = quarantine::Quarantine::Result::Outcome;
        switch (result.outcome) {
            case Outcome::kMoved:
            case Outcome::kCopied:
                printer.Quarantined(file, result.outcome == Outcome::kMoved, result.file,
                                    result.id);
                return;
            case Outcome::kCopiedReadOnly:
                printer.Quarantined(file, false, result.file, result.id);
                printer.ReadOnlyVolume(file);
                return;
            case Outcome::kFailed:
                printer.QuarantineFailed(file, qv::FromUtf8(result.reason), result.error);
                return;
        }
    }

  private:
    static quarantine::Quarantine::Request RequestFor(
        const std::wstring& file, std::uint64_t size, std::uint64_t lastWrite,
        const std::vector<scan::Detection>& detections) {
        quarantine::Quarantine::Request request;
        request.path = file;
        request.size = size;
        request.lastWrite = lastWrite;
        for (const scan::Detection& detection : detections) {
            if (detection.members.empty() && !request.digest) {
                request.digest = detection.digest;  // of the whole file, as the scan read it
            }
            if (std::find(request.names.begin(), request.names.end(), detection.name) ==
                request.names.end()) {
                request.names.push_back(detection.name);
            }
        }
        return request;
    }

    const EventPrinter& printer;
    const std::wstring& path;
    quarantine::Quarantine* const quarantine;
    std::vector<scan::Detection> pending;  // of the file being read
};

}  // namespace

// One worker's slot: the scan it runs, where Cancel can find and flag it.
struct VolumeScanner::Worker {
    scan::CancelFlag cancel;
    Job job;  // valid while running
    bool running = false;
    ScanReport::CancelReason reason = ScanReport::CancelReason::kNone;
};

struct VolumeScanner::Shared {
    Shared(EventPrinter printer, std::shared_ptr<const scan::SignatureDatabase> database,
           Options options)
        : printer(std::move(printer)),
          database(std::move(database)),
          options(options),
          wake(CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr)),
          idle(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {
        for (std::uint32_t i = 0; i < options.threads; ++i) {
            workers.push_back(std::make_unique<Worker>());
        }
    }

    bool IsValid() const {
        for (const auto& worker : workers) {
            if (!worker->cancel.IsValid()) {
                return false;
            }
        }
        return wake.IsValid() && idle.IsValid();
    }

    // Reports a scan that ended before it began.
    void ReportDropped(const std::wstring& path, ScanReport::CancelReason reason) const {
        ScanReport report = ReportOf(ScanReport::State::kCancelled, path, {});
        report.reason = reason;
        printer.Scan(report);
    }

    // The next job for worker, or false when the worker is to end. Waits for work.
    bool TakeJob(Worker& worker) {
        for (;;) {
            {
                std::lock_guard lock(scannerLock);
                if (stopping) {
                    return false;
                }
                if (!jobs.empty()) {
                    worker.job = std::move(jobs.front());
                    jobs.pop_front();
                    worker.running = true;
                    worker.reason = ScanReport::CancelReason::kNone;
                    worker.cancel.Reset();
                    return true;
                }
            }
            WaitForSingleObject(wake.Get(), INFINITE);
        }
    }

    // Called under scannerLock.
    void SignalIfIdle() {
        if (!jobs.empty()) {
            return;
        }
        for (const auto& worker : workers) {
            if (worker->running) {
                return;
            }
        }
        SetEvent(idle.Get());
    }

    ScanReport::CancelReason FinishJob(Worker& worker, const scan::FolderScanner::Result& result) {
        std::lock_guard lock(scannerLock);
        worker.running = false;
        totals.counts += result.counts;
        totals.failed += result.outcome == scan::FolderScanner::Outcome::kFailed;
        totals.cancelled += result.outcome == scan::FolderScanner::Outcome::kCancelled;
        SignalIfIdle();
        return worker.reason;
    }

    void RunJob(Worker& worker, scan::FolderScanner& scanner) {
        const std::wstring path = worker.job.path;
        printer.Scan(ReportOf(ScanReport::State::kStarted, path, {}));
        ReportingObserver observer(printer, path, options.quarantine.get());
        const scan::FolderScanner::Result result = scanner.Scan(path, worker.cancel, observer);
        const ScanReport::CancelReason why = FinishJob(worker, result);
        switch (result.outcome) {
            case scan::FolderScanner::Outcome::kFinished:
                printer.Scan(ReportOf(ScanReport::State::kFinished, path, result.counts));
                return;
            case scan::FolderScanner::Outcome::kCancelled: {
                ScanReport report = ReportOf(ScanReport::State::kCancelled, path, result.counts);
                report.reason = why;
                printer.Scan(report);
                return;
            }
            case scan::FolderScanner::Outcome::kFailed: {
                ScanReport report = ReportOf(ScanReport::State::kFailed, path, result.counts);
                report.error = result.error;
                printer.Scan(report);
                return;
            }
        }
    }

    // The identity path had when its scan was queued, if a scan of it runs or waits.
    std::optional<VolumeIdentity> IdentityOf(const std::wstring& path) {
        std::lock_guard lock(scannerLock);
        for (const auto& worker : workers) {
            if (worker->running && SamePath(worker->job.path, path)) {
                return worker->job.identity;
            }
        }
        for (const Job& job : jobs) {
            if (SamePath(job.path, path)) {
                return job.identity;
            }
        }
        return std::nullopt;
    }

    const EventPrinter printer;
    const std::shared_ptr<const scan::SignatureDatabase> database;
    const Options options;
    qv::UniqueHandle wake;  // semaphore: one count per queued job, one per worker at the end
    qv::UniqueHandle idle;  // manual-reset: nothing runs or waits
    std::vector<std::unique_ptr<Worker>> workers;  // fixed after construction

    mutable qv::CriticalSection scannerLock;  // guards the workers' slots and everything below
    std::deque<Job> jobs;
    bool stopping = false;
    Totals totals;
};

// What a new worker thread is handed: its own reference to the shared state, and its slot.
struct VolumeScanner::WorkerStart {
    std::shared_ptr<Shared> shared;
    Worker* worker;
};

VolumeScanner::VolumeScanner(EventPrinter printer,
                             std::shared_ptr<const scan::SignatureDatabase> database,
                             Options options)
    : shared(std::make_shared<Shared>(std::move(printer), std::move(database), options)) {}

VolumeScanner::~VolumeScanner() {
    Shutdown();
}

bool VolumeScanner::Start() {
    ownerThread.Check("the volume scanner started off its owner's thread");
    if (!shared->IsValid()) {
        return false;
    }
    for (const auto& worker : shared->workers) {
        auto* start = new WorkerStart{shared, worker.get()};
        qv::UniqueHandle thread(
            CreateThread(nullptr, 0, &VolumeScanner::WorkerRoutine, start, 0, nullptr));
        if (!thread.IsValid()) {
            const DWORD error = GetLastError();
            delete start;
            SetLastError(error);
            return false;
        }
        workers.push_back(std::move(thread));
    }
    return true;
}

DWORD WINAPI VolumeScanner::WorkerRoutine(void* parameter) {
    const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
    Shared& state = *start->shared;
    scan::FolderScanner scanner(*state.database, state.options.eachScan);
    while (state.TakeJob(*start->worker)) {
        state.RunJob(*start->worker, scanner);
    }
    return 0;
}

void VolumeScanner::Enqueue(const std::wstring& path) {
    Job job{path, shared->options.confirmRemovals ? VolumeIdentity::Read(path) : VolumeIdentity()};
    {
        std::lock_guard lock(shared->scannerLock);
        if (shared->stopping) {
            return;
        }
        shared->jobs.push_back(std::move(job));
        ResetEvent(shared->idle.Get());
    }
    ReleaseSemaphore(shared->wake.Get(), 1, nullptr);
}

void VolumeScanner::Cancel(const std::wstring& path) {
    const std::optional<VolumeIdentity> identity = shared->IdentityOf(path);
    if (identity && identity->StillAnswers(path)) {
        shared->printer.RemovalNotConfirmed(path);
        return;
    }
    std::deque<Job> dropped;
    {
        std::lock_guard lock(shared->scannerLock);
        for (const auto& worker : shared->workers) {
            if (worker->running && SamePath(worker->job.path, path)) {
                worker->reason = ScanReport::CancelReason::kUnmounted;
                worker->cancel.Set();
            }
        }
        for (auto job = shared->jobs.begin(); job != shared->jobs.end();) {
            if (SamePath(job->path, path)) {
                dropped.push_back(std::move(*job));
                job = shared->jobs.erase(job);
            } else {
                ++job;
            }
        }
        shared->totals.cancelled += dropped.size();
        shared->SignalIfIdle();
    }
    for (const Job& job : dropped) {
        shared->ReportDropped(job.path, ScanReport::CancelReason::kUnmounted);
    }
}

void VolumeScanner::Shutdown() {
    ownerThread.Check("the volume scanner shut down off its owner's thread");
    std::deque<Job> dropped;
    {
        std::lock_guard lock(shared->scannerLock);
        shared->stopping = true;
        dropped.swap(shared->jobs);
        shared->totals.cancelled += dropped.size();
        for (const auto& worker : shared->workers) {
            if (worker->running) {
                worker->reason = ScanReport::CancelReason::kShutdown;
                worker->cancel.Set();
            }
        }
    }
    for (const Job& job : dropped) {
        shared->ReportDropped(job.path, ScanReport::CancelReason::kShutdown);
    }
    if (workers.empty()) {
        return;
    }
    ReleaseSemaphore(shared->wake.Get(), static_cast<LONG>(workers.size()), nullptr);
    std::vector<HANDLE> handles;
    for (const qv::UniqueHandle& worker : workers) {
        handles.push_back(worker.Get());
    }
    if (WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE,
                               kWorkerEndWaitMs) == WAIT_TIMEOUT) {
        shared->printer.Warning(L"a scan worker did not end; leaving it behind");
    }
    workers.clear();
}

std::uint32_t VolumeScanner::ThreadsFor(std::uint32_t requested) noexcept {
    if (requested == 0) {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        requested = system.dwNumberOfProcessors;
    }
    return std::clamp<std::uint32_t>(requested, 1, kMaxThreads);
}

HANDLE VolumeScanner::IdleEvent() const noexcept {
    ownerThread.Check("the volume scanner's idle event taken off its owner's thread");
    return shared->idle.Get();
}

VolumeScanner::Totals VolumeScanner::TotalsSoFar() const {
    ownerThread.Check("the volume scanner's totals read off its owner's thread");
    std::lock_guard lock(shared->scannerLock);
    return shared->totals;
}

}  // namespace devicescan::host
