#pragma once

#include <windows.h>

namespace qv {

// A busy-wait flag for the few instructions that create, count and destroy process-wide shared
// objects: a contender sleeps a millisecond between attempts. Constant-initialised, so it works
// in module-level state before any constructor has run. BasicLockable, for std::lock_guard.
class SpinLock {
  public:
    constexpr SpinLock() = default;
    SpinLock(const SpinLock&) = delete;
    SpinLock& operator=(const SpinLock&) = delete;

    void lock() noexcept {
        while (InterlockedExchange(&word, 1) != 0) {
            Sleep(1);
        }
    }
    void unlock() noexcept { InterlockedExchange(&word, 0); }

  private:
    volatile LONG word = 0;
};

}  // namespace qv
