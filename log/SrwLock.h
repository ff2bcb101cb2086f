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

    // Writers hold the lock only for as long as appending a line takes: a short spin usually
    // gets it from another writer without the sleep and wake-up a blocked acquire costs.
    void lock() noexcept {
        for (int spin = 0; spin < kSpins; ++spin) {
            if (try_lock()) {
                return;
            }
            YieldProcessor();
        }
        AcquireSRWLockExclusive(&srw);
    }
    bool try_lock() noexcept { return TryAcquireSRWLockExclusive(&srw) != FALSE; }
    void unlock() noexcept { ReleaseSRWLockExclusive(&srw); }

  private:
    static constexpr int kSpins = 32;

    SRWLOCK srw = SRWLOCK_INIT;
};

}  // namespace devicescan::logdll
