#pragma once

#include <memory>
#include <string>

#include "host/EventPrinter.h"
#include "host/VolumeWalker.h"
#include "sdk/UniqueHandle.h"

namespace devicescan::host {

// Runs the on-demand scans of mounted volumes, one after another, on a worker thread of its own,
// and reports each as "scan" events: started, progress, then finished, cancelled or failed.
// A removal cancels the scan of that volume, whether it runs or still waits; Shutdown cancels
// everything and ends the worker.
//
// Threads: Enqueue and Cancel are called on the module's window thread and only queue, flag and
// signal under the scanner's lock (never held during a walk). Start and Shutdown run on the main
// thread. The worker keeps everything it touches in a shared state, so a worker stuck in a
// file-system call that outlives Shutdown's bounded wait touches nothing that was freed.
class VolumeScanner {
  public:
    VolumeScanner(EventPrinter printer, VolumeWalker walker);
    VolumeScanner(const VolumeScanner&) = delete;
    VolumeScanner& operator=(const VolumeScanner&) = delete;
    ~VolumeScanner();

    // Starts the worker; false (with the last-error code set) when it cannot.
    bool Start();
    // Queues a scan of path (a volume root or any directory).
    void Enqueue(const std::wstring& path);
    // Cancels the scans of path: the running one stops at its next entry, waiting ones go.
    void Cancel(const std::wstring& path);
    // Cancels every scan and waits (bounded) for the worker to end. Idempotent.
    void Shutdown();

  private:
    struct Shared;
    static DWORD WINAPI WorkerRoutine(void* parameter);

    std::shared_ptr<Shared> shared;
    qv::UniqueHandle worker;
};

}  // namespace devicescan::host
