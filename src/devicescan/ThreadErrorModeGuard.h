#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace devicescan::service {

// Makes the calling thread fail critical errors without a system dialog (no "insert a disk" box
// while a newly arrived drive is probed) for the guard's scope, and restores the previous mode
// when it ends, also during unwinding. On 6.1 and later only the calling thread's mode changes;
// older systems have only the process-wide mode. When the switch cannot be made, nothing is
// restored.
class ThreadErrorModeGuard {
  public:
    ThreadErrorModeGuard();
    ~ThreadErrorModeGuard();
    ThreadErrorModeGuard(const ThreadErrorModeGuard&) = delete;
    ThreadErrorModeGuard& operator=(const ThreadErrorModeGuard&) = delete;

  private:
    DWORD oldMode = 0;
    bool active = true;
};

// Whether the system is version 6.1 or later, where the per-thread error mode exists. Asked once
// per process and remembered; a failed query answers false and is repeated next time.
bool IsOsVersionAtLeast61();

// The same with the caller's cache, for tests that vary the version: 1 at or above 6.1, 0 below,
// kOsVersionUnknown before the first successful query.
inline constexpr std::uint32_t kOsVersionUnknown = 0xFFFFFFFF;
bool IsOsVersionAtLeast61(std::atomic<std::uint32_t>& state);

}  // namespace devicescan::service
