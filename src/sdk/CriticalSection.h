#pragma once

#include <windows.h>

namespace qv {

// Owns a Windows critical section. BasicLockable, for std::lock_guard. Neither copied nor moved:
// the section must stay at its address.
class CriticalSection {
  public:
    CriticalSection() noexcept { InitializeCriticalSection(&section); }
    ~CriticalSection() { DeleteCriticalSection(&section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void lock() noexcept { EnterCriticalSection(&section); }
    void unlock() noexcept { LeaveCriticalSection(&section); }

  private:
    CRITICAL_SECTION section;
};

}  // namespace qv
