#pragma once

#include <windows.h>

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
