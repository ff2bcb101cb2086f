#pragma once

#include <windows.h>

namespace devicescan::logdll {

// An exclusive slim reader/writer lock: needs no clean-up, so nothing is left behind when the
// library is unloaded. Lockable, for std::lock_guard and std::unique_lock.
class SrwLock {
  public:
    SrwLock() = default;
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;

    void lock() noexcept { AcquireSRWLockExclusive(&srw); }
    bool try_lock() noexcept { return TryAcquireSRWLockExclusive(&srw) != FALSE; }
    void unlock() noexcept { ReleaseSRWLockExclusive(&srw); }

  private:
    SRWLOCK srw = SRWLOCK_INIT;
};

}  // namespace devicescan::logdll
