#pragma once

#include <windows.h>

#include <atomic>

#include "sdk/UniqueHandle.h"

namespace devicescan::scan {

// A cancel request that a long loop checks cheaply (an atomic read) and that also ends a pause
// at once (a manual-reset event).
//
// Threads: Set from any thread; IsSet and Pause on the worker; Reset only while no one waits.
class CancelFlag {
  public:
    CancelFlag() : wake(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    CancelFlag(const CancelFlag&) = delete;
    CancelFlag& operator=(const CancelFlag&) = delete;

    bool IsValid() const noexcept { return wake.IsValid(); }
    void Set() noexcept {
        cancelled.store(true);
        SetEvent(wake.Get());
    }
    void Reset() noexcept {
        cancelled.store(false);
        ResetEvent(wake.Get());
    }
    bool IsSet() const noexcept { return cancelled.load(std::memory_order_relaxed); }
    // Waits up to milliseconds; true when cancelled meanwhile (or before).
    bool Pause(DWORD milliseconds) const noexcept {
        if (milliseconds == 0) {
            return IsSet();
        }
        WaitForSingleObject(wake.Get(), milliseconds);
        return IsSet();
    }

  private:
    std::atomic<bool> cancelled{false};
    qv::UniqueHandle wake;
};

}  // namespace devicescan::scan
