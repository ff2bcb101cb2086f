#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/output/EventPrinter.h"
#include "host/quarantine/Quarantine.h"
#include "host/scan/FolderScanner.h"
#include "host/scan/SignatureDatabase.h"
#include "sdk/ThreadChecker.h"
#include "sdk/UniqueHandle.h"

namespace devicescan::host {

// Runs the on-demand scans of mounted volumes on worker threads of its own, scans of different
// volumes in parallel, and reports each as "scan" events (started, progress, then finished,
// cancelled or failed) with a "detection" event per file and signature name found.
// A removal cancels the scan of that volume, whether it runs or still waits, within one block
// read of a large file; but only when the volume is really gone: a removal of a path that
// still answers with the serial number it had when queued leaves its scan running and is
// reported as a warning. Shutdown cancels everything and ends the workers. With a quarantine,
// each file holding a detection is taken into it once the scan has closed the file, and its
// detections are reported then, saying where it went.
//
// Threads: Enqueue and Cancel are called on the module's window thread (or the main thread)
// and only queue, flag and signal under the scanner's lock (never held during a scan; the
// volume's serial number is read before the lock is taken). Start, Shutdown, IdleEvent and
// Totals run on the main thread (ownerThread checks it). The workers keep everything they touch in
// a shared state, so a worker stuck in a file-system call that outlives Shutdown's bounded wait
// touches nothing that was freed.
class VolumeScanner {
  public:
    struct Options {
        scan::FolderScanner::Options eachScan;  // progress, the pause after each file, limits
        std::uint32_t threads = 1;              // scans at once, 1 to kMaxThreads
        // Read each volume's serial number when its scan is queued, to check removals against.
        // Off for scans that nothing removes (--scan).
        bool confirmRemovals = true;
        // Where each file holding a detection is moved or copied; none when null.
        std::shared_ptr<quarantine::Quarantine> quarantine;
    };
    static constexpr std::uint32_t kMaxThreads = MAXIMUM_WAIT_OBJECTS;
    // requested, or one per processor when it is 0; within 1 to kMaxThreads.
    static std::uint32_t ThreadsFor(std::uint32_t requested) noexcept;

    // What ended scans found, for the exit code and the summary of a --scan run.
    struct Totals {
        scan::ScanCounts counts;      // everything the ended scans saw, together
        std::uint64_t failed = 0;     // scans whose root could not be listed
        std::uint64_t cancelled = 0;  // scans that did not finish
    };

    VolumeScanner(EventPrinter printer, std::shared_ptr<const scan::SignatureDatabase> database,
                  Options options);
    VolumeScanner(const VolumeScanner&) = delete;
    VolumeScanner& operator=(const VolumeScanner&) = delete;
    ~VolumeScanner();

    // Starts the workers; false (with the last-error code set) when it cannot.
    bool Start();
    // Queues a scan of path (a volume root or any directory), noting the volume's serial number.
    void Enqueue(const std::wstring& path);
    // The volume at path was reported removed: when it no longer answers as it did when queued,
    // its running scan stops at its next entry or block and its waiting scans go.
    void Cancel(const std::wstring& path);
    // Cancels every scan and waits (bounded) for the workers to end. Idempotent.
    void Shutdown();

    // Manual-reset: signalled while no scan runs or waits.
    HANDLE IdleEvent() const noexcept;
    // What the scans that have ended so far found.
    Totals TotalsSoFar() const;

  private:
    struct Shared;
    struct Worker;
    struct WorkerStart;
    static DWORD WINAPI WorkerRoutine(void* parameter);

    std::shared_ptr<Shared> shared;
    std::vector<qv::UniqueHandle> workers;
    qv::ThreadChecker ownerThread;
};

}  // namespace devicescan::host
